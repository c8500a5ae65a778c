// palisor-monitor as a program: against the game-server simulator and a real
// database, as a service manager or a script runs it.
#include "tests/rcon/udppeer.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"
#include "store/servers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace palisor;

namespace {

const QString kPlayers = QStringLiteral(R"({"players": [
    {"slot": 3, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48},
    {"slot": 5, "name": "xXcamperXx", "address": "198.51.100.20", "port": 27960, "ping": 60}],
  "variables": {"sv_hostname": "Service Test", "mapname": "obj/obj_team2"}})");

class MonitorProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "service_process_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    void TearDown() override
    {
        for (auto& process : processes_) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    // A data folder whose settings point at a simulator; the simulator
    // starts first, so that it inherits none of the database's files.
    static void Prepare(test::TempDatabase& db, quint16 port, const QString& password = QStringLiteral("secret"))
    {
        auto data = db.createDataModule();
        data->tblSettings->edit();
        data->tblSettings->setValue("PORT", QString::number(port));
        data->tblSettings->setValue("PASSWORD", password);
        data->tblSettings->setValue("SCANTIME", QStringLiteral("1"));
        data->tblSettings->post();
        data->tblIllegal->insert();
        data->tblIllegal->setValue("NAME", QStringLiteral("camper"));
        data->tblIllegal->post();
        data->DataModuleDestroy();
    }

    // Another game server in the database, on a simulator; without a
    // password it is not polled yet.
    static int AddSimServer(TDataPalisor& data, const QString& name, quint16 port, const QString& password)
    {
        QSqlDatabase connection = data.database();
        const int id = AddServer(connection, name, QStringLiteral("127.0.0.1"), QString::number(port));
        if (!password.isEmpty())
            SetPassword(data, id, password);
        return id;
    }
    static void SetPassword(TDataPalisor& data, int id, const QString& password)
    {
        data.SetServer(id);
        data.tblSettings->edit();
        data.tblSettings->setValue("PASSWORD", password);
        data.tblSettings->setValue("SCANTIME", QStringLiteral("1"));
        data.tblSettings->post();
    }

    QProcess& Start(const QStringList& arguments)
    {
        processes_.push_back(std::make_unique<QProcess>());
        QProcess& process = *processes_.back();
        process.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisor-monitor", arguments);
        EXPECT_TRUE(process.waitForStarted());
        return process;
    }

    struct Outcome {
        int exitCode = -1;
        QByteArray out, err;
    };
    static Outcome Finish(QProcess& process)
    {
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), process.readAllStandardError()};
    }
    Outcome Run(const QStringList& arguments)
    {
        return Finish(Start(arguments));
    }

    // Reads stdout lines until one holds `text`; all lines read so far.
    static QList<QByteArray> ReadUntil(QProcess& process, const QByteArray& text, QList<QByteArray>& lines)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000) {
            while (process.canReadLine()) {
                lines << process.readLine().trimmed();
                if (lines.last().contains(text))
                    return lines;
            }
            if (!process.waitForReadyRead(1000) && process.state() != QProcess::Running)
                break;
        }
        ADD_FAILURE() << "no line with " << text.constData() << " in " << lines.join('\n').constData();
        return lines;
    }

    // Ends the program with SIGTERM; how long it took.
    static qint64 Terminate(QProcess& process)
    {
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
        return clock.elapsed();
    }

    // Shut down in order: PLAYERS emptied, the file sound.
    static void ExpectClosedInOrder(test::TempDatabase& db)
    {
        EXPECT_EQ(test::ValidateDatabase(db.databasePath()), QString());
        auto data = db.createDataModule();
        EXPECT_EQ(data->CountRows(data->tblPlayers), 0);
    }

    static QByteArray LogOf(const test::TempDatabase& db)
    {
        QFile log(db.dataFolder() + "/PALISOR.LOG");
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

    std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(MonitorProcess, OnceAnswersForScripts)
{
    test::SimProcess sim, silent;
    const quint16 port = sim.start(kPlayers), silentPort = silent.start("{\"silent\": true}");
    UdpPeer forger;
    // A refusal followed by an escape sequence and a line that poses as the log's own.
    forger.answer({QByteArray("\xFF\xFF\xFF\xFF\x01print\nBad rconpassword.\n\x1b[2J"
                              "2026-01-01T00:00:00 Started Server Monitor\r\n")});
    test::TempDatabase db, quiet, refused, forged;
    Prepare(db, port);
    Prepare(quiet, silentPort);
    Prepare(refused, port, QStringLiteral("wrong"));
    Prepare(forged, forger.port());

    // Side by side, each on its own data folder.
    QProcess& answering = Start({"--data", db.dataFolder(), "--once"});
    QProcess& timingOut = Start({"--data", quiet.dataFolder(), "--once"});
    QProcess& refusing = Start({"--data", refused.dataFolder(), "--once"});
    const Outcome answered = Finish(answering);
    EXPECT_EQ(answered.exitCode, 0) << answered.err.constData();
    EXPECT_TRUE(answered.out.contains("Server:    Service Test\n")) << answered.out.constData();
    EXPECT_TRUE(answered.out.contains("\n03   Sgt.Pepper  203.0.113.7  12203  048\n")) << answered.out.constData();
    // The rules ran as in the window's Status.
    EXPECT_TRUE(sim.commandTexts().contains("clientkick 05"));

    const Outcome timedOut = Finish(timingOut);
    EXPECT_EQ(timedOut.exitCode, 1);
    EXPECT_EQ(timedOut.err,
              QStringLiteral("palisor-monitor: 127.0.0.1:12203 (127.0.0.1:%1): Command Timed Out\n").arg(silentPort).toUtf8());
    EXPECT_TRUE(LogOf(quiet).contains("Exception: Command Timed Out\r\n"));

    const Outcome wrongPassword = Finish(refusing);
    EXPECT_EQ(wrongPassword.exitCode, 1);
    EXPECT_TRUE(wrongPassword.err.contains("Bad rconpassword.")) << wrongPassword.err.constData();

    // The server's text stays on one line of standard error and of the log.
    const Outcome forgedRefusal = Run({"--data", forged.dataFolder(), "--once"});
    EXPECT_EQ(forgedRefusal.exitCode, 1);
    EXPECT_EQ(forgedRefusal.err, QStringLiteral("palisor-monitor: 127.0.0.1:12203 (127.0.0.1:%1): Bad rconpassword.\\r\\n\\x1b[2J"
                                                "2026-01-01T00:00:00 Started Server Monitor\n")
                                     .arg(forger.port())
                                     .toUtf8()) << forgedRefusal.err.constData();
    for (const QByteArray& line : LogOf(forged).split('\n'))
        EXPECT_FALSE(line.startsWith("2026-01-01") || line.contains('\x1b')) << line.constData();

    EXPECT_EQ(Run({"--once", "--bogus"}).exitCode, 2);
}

TEST_F(MonitorProcess, JsonEventsThenSigtermDuringAPoll)
{
    test::SimProcess sim;
    const quint16 port = sim.start(kPlayers);
    test::TempDatabase db;
    Prepare(db, port);

    QProcess& monitor = Start({"--data", db.dataFolder(), "--log-format", "json"});
    QList<QByteArray> lines;
    ReadUntil(monitor, "\"event\":\"kick\"", lines);
    const QJsonObject kick = QJsonDocument::fromJson(lines.last()).object();
    EXPECT_EQ(kick.value("name").toString(), "xXcamperXx");
    EXPECT_EQ(kick.value("address").toString(), "198.51.100.20");
    EXPECT_EQ(kick.value("clientid").toInt(), 5);
    EXPECT_EQ(kick.value("reason").toString(), "ILLEGAL NAME");

    // The next poll is under way once its status has been answered.
    const int before = sim.commandTexts().count("status");
    QElapsedTimer clock;
    clock.start();
    while (sim.commandTexts().count("status") == before && clock.elapsed() < 30000)
        monitor.waitForReadyRead(50);
    // Ends after the exchange in progress: at most a reply's wait and the
    // pauses around a kick.
    EXPECT_LT(Terminate(monitor), 9000);
    while (monitor.canReadLine())
        lines << monitor.readLine().trimmed();
    lines << monitor.readAll().split('\n');
    lines.removeAll(QByteArray());
    for (const QByteArray& line : lines)
        EXPECT_TRUE(QJsonDocument::fromJson(line).isObject()) << line.constData();
    EXPECT_TRUE(lines.first().contains("\"event\":\"start\"")) << lines.first().constData();
    const QJsonObject start = QJsonDocument::fromJson(lines.first()).object();
    EXPECT_EQ(start.value("port").toInt(), port);
    EXPECT_EQ(start.value("scantime").toInt(), 1);
    EXPECT_TRUE(lines.last().contains("\"event\":\"stop\",\"reason\":\"SIGTERM\"")) << lines.last().constData();
    ExpectClosedInOrder(db);
    EXPECT_TRUE(LogOf(db).contains("Started Server Monitor"));
}

TEST_F(MonitorProcess, SigtermDuringASilentWait)
{
    test::SimProcess sim;
    const quint16 port = sim.start("{\"silent\": true}");
    test::TempDatabase db;
    Prepare(db, port);

    QProcess& monitor = Start({"--data", db.dataFolder()});
    ASSERT_TRUE(sim.waitForCommands(1, 30000));
    EXPECT_LT(Terminate(monitor), 8000);
    EXPECT_TRUE(monitor.readAllStandardOutput().trimmed().endsWith(" stop reason=SIGTERM"));
    ExpectClosedInOrder(db);
}

// The claim in the database keeps a second monitor, and a single poll's
// rules, off a monitored game server; another data folder's server is free.
TEST_F(MonitorProcess, OneMonitorPerGameServer)
{
    test::SimProcess silent, sim;
    const quint16 silentPort = silent.start("{\"silent\": true}"), port = sim.start(kPlayers);
    test::TempDatabase held, other;
    Prepare(held, silentPort);
    Prepare(other, port);

    QProcess& first = Start({"--data", held.dataFolder()});
    QList<QByteArray> lines;
    ReadUntil(first, " start ", lines);
    const QString refusal = QStringLiteral("palisor-monitor: The server 127.0.0.1:%1 is monitored by palisor-monitor "
                                           "on %2 (process %3) since ")
                                .arg(silentPort)
                                .arg(QSysInfo::machineHostName())
                                .arg(first.processId());
    for (const QStringList& arguments : {QStringList{"--data", held.dataFolder(), "--once"},
                                         QStringList{"--data", held.dataFolder()}}) {
        const Outcome second = Run(arguments);
        EXPECT_EQ(second.exitCode, 75);
        EXPECT_TRUE(second.err.startsWith(refusal.toUtf8())) << second.err.constData();
    }
    EXPECT_EQ(Run({"--data", other.dataFolder(), "--once"}).exitCode, 0);
    EXPECT_EQ(first.state(), QProcess::Running);
}

// The monitor, palisorctl and this test have the database open at once: what
// palisorctl changes beside the running monitor is used from its next poll,
// without a signal.
TEST_F(MonitorProcess, ProgramsShareTheDataFolder)
{
    test::SimProcess sim;
    test::TempDatabase db;
    Prepare(db, sim.start(QString(kPlayers).replace(
                    "\"ping\": 60}]", "\"ping\": 60}, {\"slot\": 7, \"name\": \"Medic!\", \"address\": \"192.0.2.4\", "
                                      "\"port\": 12203, \"ping\": 40}]")));
    auto attached = db.createDataModule();

    QProcess& monitor = Start({"--data", db.dataFolder(), "--log-format", "json"});
    QList<QByteArray> lines;
    ReadUntil(monitor, "\"event\":\"kick\"", lines);
    const auto ctl = [&db](const QStringList& arguments) {
        QProcess process;
        process.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisorctl",
                      QStringList{"--data", db.dataFolder()} + arguments);
        const Outcome outcome = Finish(process);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err.constData();
        return outcome.out;
    };
    const auto field = [&lines](const char* name) { return QJsonDocument::fromJson(lines.last()).object().value(name); };

    ctl({"ban", "add", "--address", "203.0.113.7", "--reason", "beside the monitor"});
    ReadUntil(monitor, "\"reason\":\"BANNED IP\"", lines);
    EXPECT_EQ(field("name").toString(), "Sgt.Pepper");
    ctl({"illegal", "add", "medic"});
    ReadUntil(monitor, "\"name\":\"Medic!\"", lines);
    EXPECT_EQ(field("reason").toString(), "ILLEGAL NAME");
    EXPECT_TRUE(sim.commandTexts().contains("say Kicking player Medic! for ILLEGAL NAME"));

    // Polls now without kicks, a second apart, then three.
    const auto pollGap = [&] {
        ReadUntil(monitor, "\"event\":\"poll\"", lines);
        const QDateTime first = QDateTime::fromString(field("time").toString(), Qt::ISODateWithMs);
        ReadUntil(monitor, "\"event\":\"poll\"", lines);
        return first.msecsTo(QDateTime::fromString(field("time").toString(), Qt::ISODateWithMs));
    };
    // Every transaction the monitor runs began after the polls since: one
    // held from its start would keep each poll's players from the engine's
    // garbage collection, and every later poll would read past them.
    const auto transaction = [&](const char* statement) {
        attached->Resynchronise({});
        QSqlQuery q(statement, attached->database());
        return q.next() ? q.value(0).toLongLong() : -1;
    };
    const qint64 marked = transaction("SELECT CURRENT_TRANSACTION FROM RDB$DATABASE");
    ReadUntil(monitor, "\"event\":\"poll\"", lines);
    const qint64 before = pollGap();
    EXPECT_GT(transaction("SELECT MIN(MON$TRANSACTION_ID) FROM MON$TRANSACTIONS "
                          "WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION"), marked);
    ctl({"settings", "set", "scan-time=3"});
    ReadUntil(monitor, "\"event\":\"reload\"", lines);
    ReadUntil(monitor, "\"event\":\"start\"", lines);
    EXPECT_EQ(field("scantime").toInt(), 3);
    EXPECT_GT(pollGap() - before, 1500);

    const QByteArray kicks = ctl({"history", "--kind", "kick", "--format", "csv"});
    EXPECT_TRUE(kicks.contains("Medic!") && kicks.contains("ILLEGAL NAME")) << kicks.constData();
    EXPECT_TRUE(kicks.contains("xXcamperXx") && kicks.contains("Sgt.Pepper")) << kicks.constData();
    EXPECT_EQ(monitor.state(), QProcess::Running);
    const QStringList events = test::RecordedEvents(*db.createDataModule());
    EXPECT_TRUE(events.contains("BAN|||203.0.113.7|beside the monitor|admin")) << events.join('\n').toStdString();
    Terminate(monitor);
    attached.reset();
    ExpectClosedInOrder(db);
}

// One program monitors every server of the database, each on its own
// engine: a ban one server asks for keeps the player off the others, and each
// server hears only its own commands. A server added while it runs is
// followed; one without a console password waits for it.
TEST_F(MonitorProcess, EveryServerOfTheDatabase)
{
    const QString requested = R"({"slot": %1, "name": "Requested", "address": "203.0.113.11", "port": 12203, "ping": 90})";
    test::SimProcess alpha, bravo, charlie;
    const quint16 alphaPort = alpha.start(QString(kPlayers).replace("\"ping\": 60}]", "\"ping\": 60}, " + requested.arg(8) + "]")
                                              .replace("\"mapname\"", "\"clientban\": 8, \"mapname\""));
    const quint16 bravoPort = bravo.start(R"({"players": [], "timeline": [{"after_status": 4, "join": )" + requested.arg(6)
                                              + "}]}", QStringLiteral("bravo"));
    const quint16 charliePort = charlie.start(kPlayers, QStringLiteral("charlie"));
    test::TempDatabase db;
    Prepare(db, alphaPort);
    auto data = db.createDataModule();
    {
        QSqlDatabase connection = data->database();
        RenameServer(connection, 1, QStringLiteral("Alpha"));
    }
    AddSimServer(*data, QStringLiteral("Bravo"), bravoPort, QStringLiteral("bravo"));

    QProcess& monitor = Start({"--data", db.dataFolder(), "--log-format", "json"});
    QList<QByteArray> lines;
    const auto field = [&lines](const char* name) { return QJsonDocument::fromJson(lines.last()).object().value(name); };
    ReadUntil(monitor, "\"event\":\"ban\"", lines);
    EXPECT_EQ(field("server").toString(), "Alpha");
    ReadUntil(monitor, "\"server\":\"Bravo\",\"clientid\":6", lines);
    EXPECT_EQ(field("event").toString(), "kick");
    EXPECT_TRUE(field("reason").toString().startsWith("BANNED")) << lines.last().constData();
    EXPECT_TRUE(bravo.commandTexts().contains("say Kicking player Requested for " + field("reason").toString()));
    for (const QByteArray& line : lines) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        EXPECT_TRUE(event.value("server").isString()) << line.constData();
        if (event.value("event") == "start") {
            EXPECT_EQ(event.value("address").toString(), "127.0.0.1");
        }
    }
    // Each server had its own commands only, with its own password.
    for (test::SimProcess* sim : {&alpha, &bravo})
        for (const test::SimCommand& command : sim->commands())
            EXPECT_TRUE(command.accepted) << command.command.toStdString();
    EXPECT_TRUE(alpha.commandTexts().contains("clientkick 08"));
    EXPECT_FALSE(alpha.commandTexts().contains("clientkick 06"));
    EXPECT_FALSE(bravo.commandTexts().contains("clientkick 08"));

    // Another program may not monitor a server this one does; a name the
    // database lacks is refused before anything starts.
    const Outcome second = Run({"--data", db.dataFolder(), "--server", "alpha"});
    EXPECT_EQ(second.exitCode, 75);
    EXPECT_TRUE(second.err.startsWith(QStringLiteral("palisor-monitor: The server 127.0.0.1:%1 is monitored by palisor-monitor")
                                          .arg(alphaPort).toUtf8())) << second.err.constData();
    const Outcome unknown = Run({"--data", db.dataFolder(), "--server", "Alpha", "--server", "Delta", "--once"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.startsWith("palisor-monitor: There is no server named \"Delta\"")) << unknown.err.constData();

    const int added = AddSimServer(*data, QStringLiteral("Charlie"), charliePort, QString());
    ReadUntil(monitor, "\"event\":\"wait\"", lines);
    EXPECT_EQ(field("server").toString(), "Charlie");
    // A second program on every server: those monitored here are refused
    // and named, the one left is its own.
    QProcess& partial = Start({"--data", db.dataFolder()});
    QList<QByteArray> partialLines;
    ReadUntil(partial, " wait server=Charlie ", partialLines);
    QByteArray refusals;
    QElapsedTimer clock;
    clock.start();
    while (refusals.count("is monitored by") < 2 && clock.elapsed() < 20000) {
        partial.waitForReadyRead(100);
        refusals += partial.readAllStandardError();
    }
    for (const quint16 port : {alphaPort, bravoPort})
        EXPECT_TRUE(refusals.contains(QStringLiteral("The server 127.0.0.1:%1 is monitored by").arg(port).toUtf8()))
            << refusals.constData();
    EXPECT_EQ(partial.state(), QProcess::Running);
    Terminate(partial);
    SetPassword(*data, added, QStringLiteral("charlie"));
    ReadUntil(monitor, "\"server\":\"Charlie\",\"clientid\":5", lines);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const QByteArray& line) { return line.contains("\"event\":\"wait\""); }), 1);
    Terminate(monitor);
    data.reset();
    ExpectClosedInOrder(db);

    // One poll of each: the silent one fails, the others are printed.
    charlie.freeze(true);
    const Outcome once = Run({"--data", db.dataFolder(), "--once"});
    EXPECT_EQ(once.exitCode, 1);
    EXPECT_TRUE(once.out.contains("[Alpha]\nServer:    Service Test\n")) << once.out.constData();
    EXPECT_TRUE(once.out.contains("\n\n[Bravo]\n")) << once.out.constData();
    EXPECT_FALSE(once.out.contains("[Charlie]"));
    EXPECT_EQ(once.err, QStringLiteral("palisor-monitor: Charlie (127.0.0.1:%1): Command Timed Out\n").arg(charliePort).toUtf8());
}

// What only the administrator can mend ends the program with 78 and names
// its cause; an error that stops the monitor comes before its stop.
TEST_F(MonitorProcess, ConfigurationAndFatalErrorsNameTheirCause)
{
    QTemporaryDir home;
    const QString typo = home.path() + "/mohha";
    const Outcome missing = Run({"--data", typo});
    EXPECT_EQ(missing.exitCode, 78);
    EXPECT_EQ(missing.err, QStringLiteral("palisor-monitor: There is no database in %1; make one with: palisor-monitor "
                                          "--data %1 --init\n").arg(typo).toUtf8());
    EXPECT_FALSE(QFileInfo::exists(typo));
    const Outcome notAFolder = Run({"--data", "/etc/passwd", "--once"});
    EXPECT_EQ(notAFolder.exitCode, 78);
    EXPECT_EQ(notAFolder.err, "palisor-monitor: /etc/passwd is not a folder\n");

    const Outcome made = Run({"--data", typo, "--init", "--log-format", "json"});
    EXPECT_EQ(made.exitCode, 0) << made.err.constData();
    const QJsonObject init = QJsonDocument::fromJson(made.out).object();
    EXPECT_EQ(init.value("event").toString(), "init");
    EXPECT_EQ(init.value("database").toString(), typo + "/PALISOR.GDB");

    test::SimProcess sim;
    test::TempDatabase refused;
    Prepare(refused, sim.start(kPlayers), QStringLiteral("wrong"));
    const Outcome stopped = Run({"--data", refused.dataFolder(), "--log-format", "json"});
    EXPECT_EQ(stopped.exitCode, 78);
    const QList<QByteArray> lines = stopped.out.trimmed().split('\n');
    ASSERT_GE(lines.size(), 3) << stopped.out.constData();
    const QJsonObject error = QJsonDocument::fromJson(lines[lines.size() - 2]).object();
    const QJsonObject stop = QJsonDocument::fromJson(lines.last()).object();
    EXPECT_EQ(error.value("event").toString(), "error");
    EXPECT_EQ(stop.value("event").toString(), "stop");
    EXPECT_TRUE(stop.value("reason").toString().startsWith("Bad rconpassword.")) << lines.last().constData();
    EXPECT_EQ(stop.value("reason"), error.value("message"));
}

// A full disk is reported as such before the database engine maps its lock
// tables there (which would end the program with SIGBUS). Needs a tmpfs of
// its own, so root only.
TEST_F(MonitorProcess, FullDiskIsAnErrorNotACrash)
{
    QTemporaryDir mount;
    if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(mount.path()).constData(), "tmpfs", 0, "size=8m") != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(mount.path()).constData(), MNT_DETACH); });
    // The engine's lock folder lies in the data folder, on the small disk.
    const QString data = mount.path() + "/data";
    ASSERT_EQ(Run({"--data", data, "--init"}).exitCode, 0);
    QFile filler(mount.path() + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(64 * 1024, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();

    const Outcome full = Run({"--data", data, "--once"});
    EXPECT_EQ(full.exitCode, 1);
    const QString expected = QStringLiteral("palisor-monitor: No space left on device: %1 has ").arg(data);
    EXPECT_TRUE(full.err.startsWith(expected.toUtf8()))
        << full.err.constData();
}

}  // namespace

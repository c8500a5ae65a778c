// palisor-monitor as a program: against the game-server simulator and a real
// database, as a service manager or a script runs it.
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <memory>
#include <signal.h>

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
    Outcome Run(const QStringList& arguments) { return Finish(Start(arguments)); }

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
    test::TempDatabase db, quiet, refused;
    Prepare(db, port);
    Prepare(quiet, silentPort);
    Prepare(refused, port, QStringLiteral("wrong"));

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
    EXPECT_EQ(timedOut.err, "palisor-monitor: Command Timed Out\n");
    EXPECT_TRUE(LogOf(quiet).contains("Exception: Command Timed Out\r\n"));

    const Outcome wrongPassword = Finish(refusing);
    EXPECT_EQ(wrongPassword.exitCode, 1);
    EXPECT_TRUE(wrongPassword.err.contains("Bad rconpassword.")) << wrongPassword.err.constData();

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
    EXPECT_EQ(kick.value("clientid").toString(), "05");
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

TEST_F(MonitorProcess, OneProgramPerDataFolder)
{
    test::SimProcess silent, sim;
    const quint16 silentPort = silent.start("{\"silent\": true}"), port = sim.start(kPlayers);
    test::TempDatabase held, other;
    Prepare(held, silentPort);
    Prepare(other, port);

    QProcess& first = Start({"--data", held.dataFolder()});
    QList<QByteArray> lines;
    ReadUntil(first, " start ", lines);
    const Outcome second = Run({"--data", held.dataFolder(), "--once"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err, QStringLiteral("palisor-monitor: The data folder %1 is in use by palisor-monitor (process %2).\n")
                              .arg(held.dataFolder())
                              .arg(first.processId())
                              .toLocal8Bit());
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(Run({"--data", other.dataFolder(), "--once"}).exitCode, 0);
    EXPECT_EQ(first.state(), QProcess::Running);
}

}  // namespace

// A data folder whose database is on a Firebird server: palisorctl's
// database commands and the programs working through the server, against a
// private server the test starts.
#include "core/errorhandler.h"
#include "editors/formbannedplayers.h"
#include "editors/tablegrid.h"
#include "store/databaseconf.h"
#include "store/datapalisor.h"
#include "tests/editors/editorfixture.h"
#include "tests/support/db/fbserver.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <functional>

using namespace palisor;
using palisor::test::FirebirdServer;

namespace {

struct Outcome {
    int status = -1;
    QString out, err;
};

class ServerDatabase : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::App();
        ::testing::Test::RecordProperty("server_start_ms", int(FirebirdServer::shared().startMilliseconds()));
    }

    FirebirdServer& server = FirebirdServer::shared();
    test::TempDatabase folder_;
    QTemporaryDir secrets_;

    // The arguments follow "--data FOLDER"; input goes to standard input.
    Outcome Run(const QStringList& arguments, const QByteArray& input = {}) { return RunIn(folder_.dataFolder(), arguments, input); }
    Outcome RunIn(const QString& folder, const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess ctl;
        ctl.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisorctl", QStringList{"--data", folder} + arguments);
        ctl.write(input);
        ctl.closeWriteChannel();
        EXPECT_TRUE(ctl.waitForFinished(60000));
        return {ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1, QString::fromUtf8(ctl.readAllStandardOutput()),
                QString::fromUtf8(ctl.readAllStandardError())};
    }

    QString PasswordFile(const QString& password, QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner)
    {
        const QString path = secrets_.filePath("password");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(password.toUtf8() + "\n");
        file.close();
        QFile::setPermissions(path, mode);
        return path;
    }

    QString Conf() const { return folder_.dataFolder() + "/database.conf"; }
};

TEST_F(ServerDatabase, SetCreateAndEveryProgramWorksThroughTheServer)
{
    const QString location = server.location("SET.FDB");
    const Outcome set = Run({"database", "set", "location=" + location, "user=palisor", "--password-file", PasswordFile(server.password())});
    EXPECT_EQ(set.status, 0) << set.err.toStdString();
    EXPECT_TRUE(set.out.contains("no database at " + location + " yet: palisorctl database create")) << set.out.toStdString();
    // Nothing of the folder's own file is needed any more.
    QFile::remove(folder_.databasePath());
    EXPECT_EQ(Run({"database", "show"}).out,
              "location=" + location + "\nuser=palisor\npassword-file=" + secrets_.filePath("password") + "\n");

    EXPECT_EQ(Run({"database", "create"}).status, 0);
    EXPECT_NE(Run({"database", "create"}).status, 0) << "an existing database is never replaced";
    EXPECT_TRUE(Run({"database", "set", "location=" + location, "user=palisor"}).out.contains("Connected to " + location));
    const Outcome banned = Run({"ban", "add", "--name", "Cheater", "--reason", "aimbot"});
    EXPECT_EQ(banned.status, 0) << banned.err.toStdString();
    EXPECT_TRUE(Run({"status"}).out.contains("monitored-by=nobody\n"));

    // palisor-monitor enforces the bans kept on the server.
    test::SimProcess sim;
    const quint16 port = sim.start(R"({"players": [{"slot": 4, "name": "Cheater", "address": "203.0.113.9", "port": 12203, "ping": 50}]})");
    ASSERT_EQ(Run({"settings", "set", QStringLiteral("port=%1").arg(port)}).status, 0);
    ASSERT_EQ(Run({"password", "set", "--password-file", "-"}, "secret\n").status, 0);
    QProcess monitor;
    monitor.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisor-monitor", {"--data", folder_.dataFolder(), "--once"});
    ASSERT_TRUE(monitor.waitForFinished(60000));
    EXPECT_EQ(monitor.exitCode(), 0) << monitor.readAllStandardError().constData();
    EXPECT_TRUE(sim.commandTexts().contains("clientkick 04")) << sim.commandTexts().join(", ").toStdString();

    // The window reaches it through the same data module.
    TDataPalisor data{DataFolder{folder_.dataFolder()}};
    data.DataModuleCreate();
    EXPECT_TRUE(data.onServer());
    EXPECT_TRUE(data.HasHistory());
    EXPECT_TRUE(data.IsBanned("cheater", "10.0.0.1"));
    data.SweepDatabase();   // nothing to compact on a server
    EXPECT_FALSE(QFile::exists(folder_.dataFolder() + "/PALISOR.CYC"));
    data.DataModuleDestroy();
    QFile log(folder_.dataFolder() + "/PALISOR.LOG");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Database Connection Successful"));
    EXPECT_TRUE(QDir(folder_.dataFolder() + "/firebird-locks").exists());

    // The password given on standard input is kept in the folder, private.
    EXPECT_EQ(Run({"database", "set", "location=" + location, "user=palisor", "--password-file", "-"}, server.password().toUtf8() + "\n").status, 0);
    EXPECT_EQ(QFile::permissions(folder_.dataFolder() + "/database.password") & 0x0077, 0);
    EXPECT_TRUE(Run({"ban", "list"}).out.startsWith("Cheater\t"));
}

TEST_F(ServerDatabase, ALooseFileAWrongPasswordAnUnknownHostOrNoServerChangeNothing)
{
    const QString location = server.location("REFUSED.FDB");
    const QString loose = PasswordFile(server.password(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    Outcome refused = Run({"database", "set", "location=" + location, "user=palisor", "--password-file", loose});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("mode 0644); it must be 0600 or stricter")) << refused.err.toStdString();

    refused = Run({"database", "set", "location=" + location, "user=palisor", "--password-file", PasswordFile("wrong")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("Cannot connect to " + location + " as palisor: Your user name and password are not defined"))
        << refused.err.toStdString();

    refused = Run({"database", "set", "location=127.0.0.1/1:" + server.databaseFolder() + "/X.FDB", "user=palisor", "--password-file",
                   PasswordFile(server.password())});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("Unable to complete network request to host \"127.0.0.1\"")) << refused.err.toStdString();
    refused = Run({"database", "set", "location=no-such-host.invalid:/srv/X.FDB", "user=palisor", "--password-file",
                   PasswordFile(server.password())});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("host \"no-such-host.invalid\". Failed to locate host machine")) << refused.err.toStdString();
    EXPECT_FALSE(QFile::exists(Conf()));

    // A file loosened after it was configured stops every program.
    ASSERT_EQ(Run({"database", "set", "location=" + location, "user=palisor", "--password-file", PasswordFile(server.password())}).status, 0);
    QFile::setPermissions(secrets_.filePath("password"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    refused = Run({"status"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("(mode 0640); it must be 0600 or stricter")) << refused.err.toStdString();
}

TEST_F(ServerDatabase, AServerThatDoesNotEncryptIsRefusedByEveryCommand)
{
    FirebirdServer plain("Disabled");
    const QString location = plain.location("PLAIN.FDB");
    const QString said = QStringLiteral("The database server 127.0.0.1/%1 does not encrypt the connection; "
                                        "set WireCrypt = Required (or Enabled) in its firebird.conf")
                             .arg(plain.port());
    Outcome refused = Run({"database", "set", "location=" + location, "user=palisor", "--password-file", PasswordFile(plain.password())});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(said)) << refused.err.toStdString();
    EXPECT_FALSE(QFile::exists(Conf()));

    // Configured by hand: making the database, backing it up and every
    // program's connection are refused alike.
    WriteDatabaseConf(folder_.dataFolder(), DatabaseConf{location, "palisor", secrets_.filePath("password")});
    for (const QStringList& command : {QStringList{"database", "create"}, QStringList{"database", "backup", plain.databaseFolder() + "/PLAIN.FBK"},
                                       QStringList{"status"}}) {
        refused = Run(command);
        EXPECT_EQ(refused.status, 1) << command.join(' ').toStdString();
        EXPECT_TRUE(refused.err.contains(said)) << refused.err.toStdString();
    }
    EXPECT_TRUE(QDir(plain.databaseFolder()).isEmpty());
}

TEST_F(ServerDatabase, ABackupIsMadeOnTheServerWhileProgramsAreAttached)
{
    Outcome refused = Run({"database", "backup", server.databaseFolder() + "/EMBEDDED.FBK"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("its maintenance cycle keeps the copies PALISOR.BKP and PALISOR.GBK")) << refused.err.toStdString();

    const QString location = server.location("BACKUP.FDB");
    const QString password = PasswordFile(server.password());
    ASSERT_EQ(Run({"database", "set", "location=" + location, "user=palisor", "--password-file", password}).status, 0);
    ASSERT_EQ(Run({"database", "create"}).status, 0);
    ASSERT_EQ(Run({"ban", "add", "--name", "Cheater", "--reason", "aimbot"}).status, 0);
    TDataPalisor data{DataFolder{folder_.dataFolder()}};
    data.DataModuleCreate();   // attached, its transaction open, throughout
    data.Listen({"PALISOR_LISTS"});
    const QString file = server.databaseFolder() + "/BACKUP.FBK";
    const Outcome backup = Run({"database", "backup", file});

    // Its events come through the server's fixed auxiliary port.
    QEventLoop loop;
    bool heard = false;
    QObject::connect(&data, &TDataPalisor::notified, &loop, [&] {
        heard = true;
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    ASSERT_EQ(Run({"ban", "add", "--name", "Camper", "--reason", "camping"}).status, 0);
    if (!heard)
        loop.exec();
    EXPECT_TRUE(heard);
    data.DataModuleDestroy();
    EXPECT_EQ(backup.status, 0) << backup.err.toStdString();
    ASSERT_TRUE(QFile::exists(file));

    QProcess restore;
    restore.setProcessChannelMode(QProcess::MergedChannels);
    restore.start("gbak", {"-r", "-se", QStringLiteral("127.0.0.1/%1:service_mgr").arg(server.port()), file,
                           server.databaseFolder() + "/RESTORED.FDB", "-user", "palisor", "-fetch_password", password});
    ASSERT_TRUE(restore.waitForFinished(60000));
    ASSERT_EQ(restore.exitCode(), 0) << restore.readAll().constData();
    ASSERT_EQ(Run({"database", "set", "location=" + server.location("RESTORED.FDB"), "user=palisor"}).status, 0);
    EXPECT_TRUE(Run({"ban", "list"}).out.startsWith("Cheater\t"));
}

TEST_F(ServerDatabase, AnImportCopiesEveryRowOnceIntoANewDatabaseOnly)
{
    ASSERT_EQ(Run({"ban", "add", "--name", "Alpha", "--address", "10.0.0.1", "--reason", "wallhack"}).status, 0);
    ASSERT_EQ(Run({"immune", "add", "Admin"}).status, 0);
    ASSERT_EQ(Run({"settings", "set", "scan-time=7"}).status, 0);
    const QString history = Run({"history", "--format", "csv"}).out;
    const QString bans = Run({"ban", "list"}).out;
    const QString location = server.location("IMPORT.FDB");
    ASSERT_EQ(Run({"database", "set", "location=" + location, "user=palisor", "--password-file", PasswordFile(server.password())}).status, 0);
    ASSERT_EQ(Run({"database", "create"}).status, 0);

    const Outcome imported = Run({"database", "import", folder_.dataFolder()});
    EXPECT_EQ(imported.status, 0) << imported.err.toStdString();
    for (const char* count : {"SETTINGS 1\n", "IMMUNE 1\n", "BANNED 1\n", "EVENTS 1\n"})
        EXPECT_TRUE(imported.out.contains(count)) << count << imported.out.toStdString();
    EXPECT_TRUE(Run({"settings", "show"}).out.contains("scan-time=7\n"));
    EXPECT_EQ(Run({"history", "--format", "csv"}).out, history) << "the ban's record comes once, as it was";
    EXPECT_EQ(Run({"ban", "list"}).out, bans);

    const Outcome again = Run({"database", "import", folder_.dataFolder()});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.contains("holds rows in")) << again.err.toStdString();
    EXPECT_EQ(Run({"ban", "list"}).out, bans);
}

// The bans, their names and the history's rows, as one database holds them.
QList<qint64> BanCounts(TDataPalisor& data)
{
    QSqlQuery q(data.database());
    EXPECT_TRUE(q.exec("SELECT (SELECT COUNT(*) FROM BANNED), (SELECT COUNT(DISTINCT NAME) FROM BANNED), "
                       "(SELECT COUNT(*) FROM EVENTS), (SELECT COUNT(DISTINCT ID) FROM EVENTS) FROM RDB$DATABASE"));
    EXPECT_TRUE(q.next());
    return {q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toLongLong(), q.value(3).toLongLong()};
}

TEST_F(ServerDatabase, AHundredThousandBansArriveOnceEach)
{
    QList<qint64> before;
    {
        auto embedded = folder_.createDataModule();
        QSqlQuery q(embedded->database());
        ASSERT_TRUE(q.exec("EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 100000) DO BEGIN "
                           "INSERT INTO BANNED (NAME, ADDRESS) VALUES ('Player' || :I, "
                           "'10.' || (:I / 65536) || '.' || MOD(:I / 256, 256) || '.' || MOD(:I, 256)); "
                           "I = I + 1; END END")) << q.lastError().text().toStdString();
        embedded->database().commit();
        before = BanCounts(*embedded);
        embedded->DataModuleDestroy();
    }
    ASSERT_EQ(before, (QList<qint64>{100000, 100000, 100000, 100000}));
    ASSERT_EQ(Run({"database", "set", "location=" + server.location("MANY.FDB"), "user=palisor", "--password-file",
                   PasswordFile(server.password())}).status, 0);
    ASSERT_EQ(Run({"database", "create"}).status, 0);

    const Outcome imported = Run({"database", "import", folder_.dataFolder()});
    EXPECT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains("BANNED 100000\nEVENTS 100000\n")) << imported.out.toStdString();
    TDataPalisor data{DataFolder{folder_.dataFolder()}};
    data.DataModuleCreate();
    EXPECT_EQ(BanCounts(data), before);
    data.DataModuleDestroy();
}

// Two hosts, each with a monitor on a game server of its own, and an
// administrator's window on a third, all on the one server database.
TEST_F(ServerDatabase, TwoHostsMonitorsAndAWindowEnforceAndShowEveryBan)
{
    // Both play on both servers; server A asks for Cheater's ban at its second poll.
    const auto scenario = [](int cheater, int wallhacker, const char* timeline) {
        return QStringLiteral(R"({"players": [
            {"slot": %1, "name": "Cheater", "address": "203.0.113.9", "port": 12203, "ping": 50},
            {"slot": %2, "name": "Wallhacker", "address": "198.51.100.6", "port": 12203, "ping": 60}],
          "timeline": [%3]})").arg(cheater).arg(wallhacker).arg(QLatin1String(timeline));
    };
    test::SimProcess simA, simB;
    const quint16 portA = simA.start(scenario(4, 6, R"({"after_status": 2, "set": {"clientban": 4}})"));
    const quint16 portB = simB.start(scenario(2, 7, ""));
    ASSERT_EQ(Run({"database", "set", "location=" + server.location("HOSTS.FDB"), "user=palisor", "--password-file",
                   PasswordFile(server.password())}).status, 0);
    ASSERT_EQ(Run({"database", "create"}).status, 0);
    ASSERT_EQ(Run({"server", "rename", "127.0.0.1:12203", "A"}).status, 0);
    ASSERT_EQ(Run({"--server", "A", "settings", "set", QStringLiteral("port=%1").arg(portA), "scan-time=1"}).status, 0);
    ASSERT_EQ(Run({"--server", "A", "password", "set", "--password-file", "-"}, "secret\n").status, 0);
    ASSERT_EQ(Run({"server", "add", "B", "address=127.0.0.1", QStringLiteral("port=%1").arg(portB), "scan-time=1",
                   "--password-file", "-"}, "secret\n").status, 0);
    QTemporaryDir hostB, desk;
    for (const QTemporaryDir* folder : {&hostB, &desk})
        WriteDatabaseConf(folder->path(), ReadDatabaseConf(folder_.dataFolder()));

    QStringList errors;
    setApplicationErrorHandler([&errors](const QString& message) { errors << message; });
    TDataPalisor data{DataFolder{desk.path()}};
    data.DataModuleCreate();
    TformBannedPlayers window(data);
    QProcess monitorA, monitorB;
    const auto shows = [&](const QString& caption) {
        return QTest::qWaitFor([&] { return window.windowTitle() == caption; }, 30000);
    };
    const auto kicked = [&](const QString& onA, const QString& onB) {
        return QTest::qWaitFor([&] { return simA.commandTexts().contains(onA) && simB.commandTexts().contains(onB); }, 30000);
    };
    test::WhileOpen(window, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return data.Listening(); }, 20000));
        const QString monitor = qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisor-monitor";
        monitorA.start(monitor, {"--data", folder_.dataFolder(), "--server", "A"});
        monitorB.start(monitor, {"--data", hostB.path(), "--server", "B"});

        // A's monitor commits the ban: the window shows it, B enforces it.
        EXPECT_TRUE(shows("Banned Players: 1 total"));
        EXPECT_EQ(test::Column(*data.tblBanned, "NAME"), QStringList{"Cheater"});
        EXPECT_TRUE(kicked("clientkick 04", "clientkick 02"));

        TableGrid& grid = *window.PlayerDataGrid;
        QTest::keyClick(&grid, Qt::Key_Insert);
        test::TypeIntoCell(grid, "Wallhacker");
        QTest::keyClick(grid.indexWidget(grid.currentIndex()), Qt::Key_Up);
        EXPECT_TRUE(kicked("clientkick 06", "clientkick 07"));

        // palisorctl on host B: an addition and a removal reach the window.
        ASSERT_EQ(RunIn(hostB.path(), {"ban", "add", "--name", "Camper"}).status, 0);
        EXPECT_TRUE(shows("Banned Players: 3 total"));
        ASSERT_EQ(RunIn(hostB.path(), {"ban", "remove", "--name", "Cheater"}).status, 0);
        EXPECT_TRUE(shows("Banned Players: 2 total"));
        EXPECT_FALSE(test::Column(*data.tblBanned, "NAME").contains("Cheater"));
    });
    data.DataModuleDestroy();
    setApplicationErrorHandler({});
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    for (QProcess* monitor : {&monitorA, &monitorB}) {
        monitor->terminate();
        EXPECT_TRUE(monitor->waitForFinished(30000));
        EXPECT_EQ(monitor->exitCode(), 0) << monitor->readAll().constData() << monitor->readAllStandardError().constData();
    }
}

}  // namespace

// The database server killed under an attached data module: it notices by
// the error, keeps recording in memory, answers the lists from memory and,
// once the server is back, writes what it kept exactly once.
TEST_F(ServerDatabase, ADataModuleRidesOutItsServersOutage)
{
    FirebirdServer outage;
    ASSERT_EQ(Run({"database", "set", "location=" + outage.location("OUTAGE.FDB"), "user=palisor", "--password-file",
                   PasswordFile(outage.password())}).status, 0);
    ASSERT_EQ(Run({"database", "create"}).status, 0);
    ASSERT_EQ(Run({"ban", "add", "--name", "Cheater", "--reason", "aimbot"}).status, 0);
    ASSERT_EQ(Run({"immune", "add", "Admin"}).status, 0);
    TDataPalisor data{DataFolder{folder_.dataFolder()}};
    data.DataModuleCreate();
    data.Listen({"PALISOR_LISTS"});
    data.PrepareRules();
    QStringList told;
    QObject::connect(&data, &TDataPalisor::databaseLost, [&](const QString& error) { told << "lost: " + error; });
    QObject::connect(&data, &TDataPalisor::databaseBack,
                     [&](int written, int dropped) { told << QStringLiteral("back: %1 %2").arg(written).arg(dropped); });
    const Penalty kick{EventSource::Monitor, "BANNED IP", "4"};

    outage.kill();
    data.RecordEvent(EventKind::Kick, kick, "Cheater", "203.0.113.9");
    ASSERT_TRUE(data.Lost());
    data.BanPlayer("Griefer", "198.51.100.4", Penalty{EventSource::ServerRequest, "SERVER REQUEST", "7"});
    data.RecordEvent(EventKind::Kick, kick, "Griefer", "198.51.100.4");
    data.RecordSample(ServerSample{QDateTime::currentDateTimeUtc(), 1, 24, "obj_team2", 48, 48});
    data.RecordPlayers({{"3", "Sgt.Pepper", "203.0.113.7", "12203", "48"}}, true);
    EXPECT_TRUE(data.IsBanned("cheater", "192.0.2.1"));
    EXPECT_TRUE(data.IsBanned("Someone", "198.51.100.4")) << "the ban kept in memory holds at once";
    EXPECT_FALSE(data.IsBanned("Admin", "198.51.100.4"));
    EXPECT_FALSE(data.IsBanned("Sgt.Pepper", "203.0.113.7"));
    EXPECT_EQ(data.CountRows(data.tblPlayers), 1);
    EXPECT_FALSE(data.Reconnect());
    ASSERT_EQ(told.size(), 1);
    const Outcome refused = Run({"status"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("Unable to complete network request to host \"127.0.0.1\"")) << refused.err.toStdString();
    EXPECT_TRUE(told[0].startsWith("lost: Error ")) << told[0].toStdString();

    outage.restart();
    ASSERT_TRUE(data.Reconnect());
    EXPECT_FALSE(data.Lost());
    EXPECT_EQ(told.last(), "back: 4 0");
    EXPECT_TRUE(data.IsBanned("Someone", "198.51.100.4"));
    EXPECT_EQ(test::RecordedEvents(data), (QStringList{"BAN||Cheater||aimbot|admin", "KICK|4|Cheater|203.0.113.9|BANNED IP|monitor",
                                                       "BAN|7|Griefer|198.51.100.4|SERVER REQUEST|server request",
                                                       "KICK|4|Griefer|198.51.100.4|BANNED IP|monitor"}));
    EXPECT_EQ(test::RecordedSamples(data), QStringList{"1/24 obj_team2 48 48"});
    ASSERT_EQ(data.tblPlayers->rowCount(), 1);
    EXPECT_EQ(data.tblPlayers->value(0, "NAME").toString(), "Sgt.Pepper");

    // It hears the others' commits again.
    QEventLoop loop;
    bool heard = false;
    QObject::connect(&data, &TDataPalisor::notified, &loop, [&] {
        heard = true;
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    ASSERT_EQ(Run({"ban", "add", "--name", "Camper", "--reason", "camping"}).status, 0);
    if (!heard)
        loop.exec();
    EXPECT_TRUE(heard);
    data.DataModuleDestroy();
}

// palisor-monitor polling every second while its database server is killed
// in the middle of a poll (alternately right after the player list and
// between a kick's announcement and the kick) and started again ten seconds
// later, ten rounds.
TEST_F(ServerDatabase, AMonitorKeepsKickingThroughItsServersOutagesAndLosesNothing)
{
    constexpr int Rounds = 10;
    constexpr int OutageMs = 10000;
    FirebirdServer outage;
    ASSERT_EQ(Run({"database", "set", "location=" + outage.location("ROUNDS.FDB"), "user=palisor", "--password-file",
                   PasswordFile(outage.password())}).status, 0);
    ASSERT_EQ(Run({"database", "create"}).status, 0);
    ASSERT_EQ(Run({"ban", "add", "--name", "Cheater", "--reason", "aimbot"}).status, 0);
    // He comes back every second, however often he is kicked.
    test::SimProcess sim;
    const quint16 port = sim.start(R"({"players": [{"slot": 3, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48}],
        "loop_seconds": 1,
        "timeline": [{"at_seconds": 0, "join": {"slot": 4, "name": "Cheater", "address": "203.0.113.9", "port": 12203, "ping": 50}}]})");
    ASSERT_EQ(Run({"settings", "set", QStringLiteral("port=%1").arg(port), "scan-time=1"}).status, 0);
    ASSERT_EQ(Run({"password", "set", "--password-file", "-"}, "secret\n").status, 0);

    QProcess monitor;
    QStringList lines;
    const auto count = [&](const QString& words, const QStringList& of) { return int(of.filter(words).size()); };
    const auto pump = [&](int ms) {
        QElapsedTimer clock;
        clock.start();
        do {
            monitor.waitForReadyRead(50);
            while (monitor.canReadLine())
                lines << QString::fromUtf8(monitor.readLine()).trimmed();
        } while (clock.elapsed() < ms && monitor.state() == QProcess::Running);
    };
    const auto await = [&](const std::function<bool()>& done, int ms) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < ms && monitor.state() == QProcess::Running)
            pump(50);
        return done();
    };
    monitor.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisor-monitor",
                  {"--data", folder_.dataFolder(), "--log-format", "json"});
    ASSERT_TRUE(monitor.waitForStarted());
    const QStringList killedAfter{"status", "say Kicking player Cheater for BANNED IP"};
    for (int round = 1; round <= Rounds; ++round) {
        const QString& when = killedAfter[round % 2];
        const int before = int(sim.commandTexts().count(when));
        ASSERT_TRUE(await([&] { return sim.commandTexts().count(when) > before; }, 20000))
            << lines.join('\n').toStdString() << monitor.readAllStandardError().constData();
        outage.kill();
        const int kicked = int(sim.commandTexts().count("clientkick 04"));
        pump(OutageMs);
        EXPECT_GT(sim.commandTexts().count("clientkick 04"), kicked) << "round " << round << ": kicked meanwhile";
        EXPECT_EQ(count("\"event\":\"database-lost\"", lines), round);
        const int restartedAt = int(sim.commandTexts().count("status"));
        outage.restart();
        ASSERT_TRUE(await([&] { return count("\"event\":\"database-back\"", lines) == round; }, 30000))
            << lines.join('\n').toStdString();
        EXPECT_LE(int(sim.commandTexts().count("status")) - restartedAt, 2) << "round " << round;
    }
    const qsizetype back = lines.size();
    ASSERT_TRUE(await([&] { return count("\"event\":\"poll\"", lines.mid(back)) >= 1; }, 30000));
    monitor.terminate();
    ASSERT_TRUE(monitor.waitForFinished(30000));
    pump(0);
    EXPECT_EQ(count("\"event\":\"database-lost\"", lines), Rounds);
    EXPECT_EQ(count("\"event\":\"error\"", lines), 0) << lines.join('\n').toStdString();
    QFile logFile(folder_.dataFolder() + "/PALISOR.LOG");
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    const QStringList log = QString::fromLatin1(logFile.readAll()).split("\r\n");
    // Once each way per outage, and nothing for each attempt to reconnect.
    EXPECT_EQ(log.filter("The database server is gone").size(), Rounds);
    EXPECT_EQ(log.filter("The database server is back").size(), Rounds);
    EXPECT_EQ(log.size(), 2 * Rounds + 6) << log.join('\n').toStdString();

    // Every kick the monitor told of and every poll's sample is stored, once.
    TDataPalisor data{DataFolder{folder_.dataFolder()}};
    data.DataModuleCreate();
    EXPECT_EQ(count("|Cheater|203.0.113.9|BANNED IP|monitor", test::RecordedEvents(data).filter(QRegularExpression("^KICK\\|"))),
              count("\"event\":\"kick\"", lines));
    EXPECT_EQ(test::RecordedSamples(data).size(), count("\"event\":\"poll\"", lines));
    data.DataModuleDestroy();
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start("fbsvcmgr", {QStringLiteral("127.0.0.1/%1:service_mgr").arg(outage.port()), "-user", "palisor", "-password",
                                outage.password(), "-action_validate", "-dbname", outage.databaseFolder() + "/ROUNDS.FDB"});
    ASSERT_TRUE(validate.waitForFinished(60000));
    const QString report = QString::fromLocal8Bit(validate.readAll());
    EXPECT_EQ(validate.exitCode(), 0) << report.toStdString();
    EXPECT_FALSE(report.contains("error", Qt::CaseInsensitive)) << report.toStdString();
}

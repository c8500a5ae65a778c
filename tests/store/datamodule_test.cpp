#include "core/error.h"
#include "core/timing.h"
#include "store/firststart.h"
#include "store/monitorclaim.h"
#include "store/sharedengine.h"
#include "tests/store/storetest.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

using namespace palisor;
using palisor::test::App;
using palisor::test::StoreTest;
using palisor::test::TempDatabase;

namespace {

QStringList logLines(const TDataPalisor& data)
{
    QFile log(data.logPath());
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(log.readAll()).split("\r\n");
    lines.removeLast();   // the text after the last line end
    return lines;
}

// The text of a log line after its timestamp.
QString logText(const QString& line) { return line.section(' ', 1); }

class DataModuleTest : public ::testing::Test {
protected:
    DataModuleTest() { App(); }
    ~DataModuleTest() override { setClockFunction({}); }
    TempDatabase db;
};

TEST_F(DataModuleTest, StartUpFillsTheVariablesOpensTheTablesInOrderAndLogs)
{
    setClockFunction([] { return QDateTime(QDate(2026, 3, 4), QTime(13, 5, 9)); });
    TDataPalisor data(db.folder());
    QStringList opened;
    for (LiveTable* table : {data.tblPlayers, data.tblBanned, data.tblMessages, data.tblRecent, data.tblSettings,
                             data.tblImmune, data.tblIllegal, data.tblMapAlias}) {
        QObject::connect(table, &LiveTable::stateChanged, [&opened, table](LiveTable::State state) {
            if (state == LiveTable::State::Browse)
                opened << table->tableName();
        });
    }
    data.DataModuleCreate();
    EXPECT_EQ(opened, QStringList({"SETTINGS", "PLAYERS", "ILLEGAL", "IMMUNE", "RECENT", "BANNED", "MESSAGES", "MAPALIAS"}));
    EXPECT_EQ(data.VariableMark, "$");
    const QString pm = QLocale::system().pmText();
    EXPECT_EQ(data.Variables, QStringList({"$serverip$=0.0.0.0", "$servername$=none", "$time$=1:05 " + pm,
                                           "$gametype$=none", "$crntmap$=none", "$nextmap$=none", "$banned$=none",
                                           "$recent$=none"}));
    const QStringList log = logLines(data);
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0], "2026-03-04T13:05:09 " + QCoreApplication::applicationFilePath() + " Started");
    EXPECT_EQ(logText(log[1]), "Database Connection Successful");

    // The settings row has working defaults.
    EXPECT_EQ(data.tblSettings->text("ADDRESS"), "127.0.0.1");
    EXPECT_EQ(data.tblSettings->text("PORT"), "12203");
    EXPECT_EQ(data.tblSettings->text("SORTED"), "CLIENTID");
    EXPECT_EQ(data.tblSettings->value("MSGTIME").toInt(), 5);

    // The window shows players and settings; a poll's rule checks and
    // recording leave the long lists unread.
    EXPECT_TRUE(data.tblPlayers->rowsRead());
    data.RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
    EXPECT_FALSE(data.IsBanned("Amy", "1.1.1.1"));
    EXPECT_EQ(data.tblPlayers->rowCount(), 1);
    EXPECT_FALSE(data.tblBanned->rowsRead());
    EXPECT_FALSE(data.tblRecent->rowsRead());
}

TEST_F(DataModuleTest, VariablesAreFoundWhateverTheLetterCase)
{
    auto data = db.createDataModule();
    data->setVariable("$ServerName$", "Frontline");
    EXPECT_EQ(data->variable("$servername$"), "Frontline");
    EXPECT_EQ(data->Variables[1], "$servername$=Frontline");
    data->setVariable("$servername$", "");
    EXPECT_EQ(data->Variables.size(), 7);
}

TEST_F(DataModuleTest, ShutDownEmptiesPlayersAndDisconnects)
{
    {
        auto data = db.createDataModule();
        data->RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
        data->DataModuleDestroy();
        EXPECT_FALSE(data->isConnected());
        EXPECT_FALSE(data->tblPlayers->isOpen());
        EXPECT_TRUE(data->Variables.isEmpty());
        const QStringList log = logLines(*data);
        ASSERT_GE(log.size(), 2);
        EXPECT_TRUE(logText(log[log.size() - 2]).endsWith(" Exiting"));
        EXPECT_EQ(logText(log.last()), "");
    }
    auto again = db.createDataModule();
    EXPECT_EQ(again->tblPlayers->rowCount(), 0);
    EXPECT_EQ(again->tblRecent->rowCount(), 1);

    // A window closing beside the program that monitors leaves that
    // program's players alone.
    QSqlDatabase monitor = again->database();
    TakeClaim(monitor, 1, {"palisor-monitor", "gamehost", 917}, 30, QString(), QDateTime::currentDateTimeUtc(),
              [](const QString&) {});
    again->RecordPlayer("02", "Bea", "2.2.2.2", "1", "020");
    db.createDataModule()->DataModuleDestroy();
    again->Resynchronise({again->tblPlayers});
    EXPECT_EQ(again->tblPlayers->rowCount(), 1);
}

TEST_F(DataModuleTest, ShutDownReconnectsAReleasedAttachmentAndGoesOnPastAFailingStep)
{
    {
        // As a maintenance cycle leaves it: released, with players recorded meanwhile.
        auto data = db.createDataModule();
        data->DisconnectDatabase();
        db.createDataModule()->RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
        data->DataModuleDestroy();
        EXPECT_TRUE(logLines(*data).filter("Exception").isEmpty());
        EXPECT_EQ(db.createDataModule()->tblPlayers->rowCount(), 0);
    }

    auto data = db.createDataModule();
    data->DisconnectDatabase();
    ASSERT_TRUE(QFile::rename(db.databasePath(), db.databasePath() + ".gone"));
    EXPECT_NO_THROW(data->DataModuleDestroy());
    const QStringList log = logLines(*data);
    EXPECT_EQ(log.filter("Exception: ").size(), 1);
    EXPECT_TRUE(logText(log[log.size() - 2]).endsWith(" Exiting"));
}

TEST_F(DataModuleTest, AFailedFinalCommitIsReported)
{
    auto data = db.createDataModule();
    QSqlDatabase connection = data->database();
    // A commit the database refuses once this connection asks it to.
    for (const char* statement :
         {"CREATE EXCEPTION REFUSED 'commit refused'",
          "CREATE TRIGGER REFUSE_COMMIT ON TRANSACTION COMMIT AS BEGIN "
          "IF (RDB$GET_CONTEXT('USER_SESSION', 'REFUSE') = '1') THEN EXCEPTION REFUSED; END",
          "SELECT RDB$SET_CONTEXT('USER_SESSION', 'REFUSE', '1') FROM RDB$DATABASE"}) {
        QSqlQuery query(connection);
        ASSERT_TRUE(query.exec(QLatin1String(statement))) << query.lastError().text().toStdString();
        query.next();
        if (connection.commit())
            connection.transaction();
    }
    try {
        data->DisconnectDatabase();
        FAIL() << "the commit was not reported";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("commit refused")) << e.message().toStdString();
    }
    EXPECT_FALSE(data->isConnected());
    EXPECT_NO_THROW(data->ConnectDatabase());
}

TEST_F(DataModuleTest, AMissingDatabaseFailsWithTheEnginesMessageAndLeavesTablesClosed)
{
    QFile::remove(db.databasePath());
    TDataPalisor data(db.folder());
    try {
        data.DataModuleCreate();
        FAIL() << "connected to a missing database";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("PALISOR.GDB")) << e.message().toStdString();
    }
    EXPECT_FALSE(data.tblSettings->isOpen());
    EXPECT_EQ(data.Variables.size(), 8);
    EXPECT_EQ(data.CountRows(data.tblPlayers), 0);
}

TEST_F(DataModuleTest, StartUpPutsAnInterruptedCyclesFileBack)
{
    {
        auto data = db.createDataModule();
        data->BanPlayer("Kept", "1.2.3.4");
        data->DataModuleDestroy();
    }
    QDir data(db.dataFolder());
    ASSERT_TRUE(data.rename("PALISOR.GDB", "PALISOR.BKP"));
    auto module = db.createDataModule();
    EXPECT_TRUE(QFile::exists(db.databasePath()));
    EXPECT_FALSE(QFile::exists(module->backupPath()));
    EXPECT_EQ(module->tblBanned->text("NAME"), "Kept");
    module->DataModuleDestroy();
    module.reset();

    // The set-up script that makes a missing database puts the file back too.
    ASSERT_TRUE(data.rename("PALISOR.GDB", "PALISOR.BKP"));
    QProcess create;
    create.start(QFileInfo(qEnvironmentVariable("PALISOR_SCHEMA")).absolutePath() + "/../scripts/create-db",
                 {db.dataFolder()});
    ASSERT_TRUE(create.waitForFinished(120000));
    EXPECT_EQ(create.exitCode(), 0) << create.readAllStandardError().toStdString();
    EXPECT_FALSE(data.exists("PALISOR.BKP"));
    EXPECT_EQ(db.createDataModule()->tblBanned->text("NAME"), "Kept");
}

// An installed copy's first start: the database comes from the schema file,
// with the remote-console password given; a second start changes nothing.
TEST_F(DataModuleTest, FirstStartMakesTheDatabaseFromTheSchema)
{
    QTemporaryDir home;
    const QString folder = home.path() + "/palisor";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QString schema = qEnvironmentVariable("PALISOR_SCHEMA");
    EXPECT_TRUE(CreateMissingDatabase(folder, schema, "it's secret"));
    EXPECT_FALSE(QFile::exists(folder + "/PALISOR.GDB.new"));
    // The engine makes it group-readable; it holds the console password.
    EXPECT_EQ(QFile::permissions(folder + "/PALISOR.GDB") & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    EXPECT_FALSE(CreateMissingDatabase(folder, schema, "other"));

    TDataPalisor data(DataFolder{folder});
    data.DataModuleCreate();
    EXPECT_EQ(data.databasePath(), folder + "/PALISOR.GDB");
    EXPECT_EQ(data.tblSettings->text("PASSWORD"), "it's secret");
    EXPECT_EQ(data.tblSettings->text("PORT"), "12203");
    EXPECT_TRUE(QFile::exists(folder + "/PALISOR.LOG"));
}

// A lone PALISOR.BKP is the user's data: it is put back, never replaced by a
// fresh database; a schema that cannot be read makes nothing.
TEST_F(DataModuleTest, FirstStartNeverReplacesAnInterruptedCyclesFile)
{
    {
        auto data = db.createDataModule();
        data->BanPlayer("Kept", "1.2.3.4");
        data->DataModuleDestroy();
    }
    ASSERT_TRUE(QDir(db.dataFolder()).rename("PALISOR.GDB", "PALISOR.BKP"));
    EXPECT_FALSE(CreateMissingDatabase(db.dataFolder(), qEnvironmentVariable("PALISOR_SCHEMA")));
    EXPECT_FALSE(QFile::exists(db.databasePath()));
    TDataPalisor data(DataFolder{db.dataFolder()});
    data.DataModuleCreate();
    EXPECT_EQ(data.tblBanned->text("NAME"), "Kept");

    QTemporaryDir empty;
    EXPECT_THROW(CreateMissingDatabase(empty.path(), empty.path() + "/schema.sql"), Error);
    EXPECT_TRUE(QDir(empty.path()).isEmpty());
}

// A separate process makes changes and is killed without any shut-down.
TEST_F(DataModuleTest, AKilledProcessLosesNoChange)
{
    QProcess helper;
    helper.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/tests/store/store_change_helper", {db.folder()});
    ASSERT_TRUE(helper.waitForStarted());
    QByteArray out;
    while (!out.contains("ready") && helper.waitForReadyRead(30000))
        out += helper.readAllStandardOutput();
    ASSERT_TRUE(out.contains("ready")) << out.toStdString() << helper.readAllStandardError().toStdString();
    helper.kill();
    helper.waitForFinished();

    auto data = db.createDataModule();
    EXPECT_EQ(data->tblBanned->text("NAME"), "Kept");
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Amy");
    EXPECT_EQ(data->tblRecent->text("NAME"), "Amy");
    EXPECT_EQ(data->tblSettings->text("PORT"), "23456");
    EXPECT_EQ(data->tblImmune->text("NAME"), "Admin");
    EXPECT_EQ(data->tblImmune->rowCount(), 1);
}

// The engine as every program runs it: a tool started beside this process
// opens the same file, and the event it commits reaches this process.
TEST_F(DataModuleTest, AnotherProcessSharesTheDatabaseAndItsEvents)
{
    auto data = db.createDataModule();
    ShareDataFolderEngine(db.dataFolder());
    QSqlDriver* driver = data->database().driver();
    ASSERT_TRUE(driver->subscribeToNotification("PALISOR_POLLED"));
    QEventLoop loop;
    QStringList received;
    QObject::connect(driver, &QSqlDriver::notification, &loop, [&](const QString& name) {
        received << name;
        loop.quit();
    });
    QProcess isql;
    isql.setProcessChannelMode(QProcess::MergedChannels);
    isql.start("isql-fb", {"-q", "-b", "-ch", "ISO8859_1", "-user", "SYSDBA", "-password", "x", db.databasePath()});
    isql.write("EXECUTE PROCEDURE BAN_PLAYER('Other', '10.1.1.1');\nSET TERM ^ ;\n"
               "EXECUTE BLOCK AS BEGIN POST_EVENT 'PALISOR_POLLED'; END^\nSET TERM ; ^\nCOMMIT;\n");
    isql.closeWriteChannel();
    ASSERT_TRUE(isql.waitForFinished(60000));
    EXPECT_EQ(isql.exitCode(), 0) << isql.readAll().toStdString();
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (received.isEmpty())
        loop.exec();
    EXPECT_EQ(received, QStringList{"PALISOR_POLLED"});
    driver->unsubscribeFromNotification("PALISOR_POLLED");
}

// An upgraded system engine gets a root of its own, with a fresh copy of the
// character sets; a program still running keeps the root it started with.
TEST(EngineRoot, FollowsTheSystemEngine)
{
    QTemporaryDir system, cache;
    const QDir installed(SystemEngineRoot());
    for (const QString& entry : installed.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry != "intl") {
            ASSERT_TRUE(QFile::link(installed.filePath(entry), system.filePath(entry)));
        }
    }
    ASSERT_TRUE(QDir(system.path()).mkdir("intl"));
    for (const QString& file : QDir(installed.filePath("intl")).entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(installed.filePath("intl/" + file), system.filePath("intl/" + file)));

    const QString root = MakeEngineRoot(system.path(), cache.path());
    EXPECT_EQ(MakeEngineRoot(system.path(), cache.path()), root);
    ASSERT_TRUE(QFile::remove(root + "/intl/libfbintl.so"));
    EXPECT_EQ(MakeEngineRoot(system.path(), cache.path()), root);
    QFile settings(root + "/firebird.conf");
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_TRUE(settings.readAll().contains("\nServerMode = SuperClassic\n"));
    EXPECT_TRUE(QFileInfo(root + "/plugins").isSymLink());
    EXPECT_FALSE(QFileInfo(root + "/intl").isSymLink());
    EXPECT_FALSE(QFileInfo(root + "/intl/libfbintl.so").isSymLink());

    QFile module(system.filePath("intl/libfbintl.so"));
    ASSERT_TRUE(module.open(QIODevice::Append));
    module.write("upgraded");
    module.close();
    const QString upgraded = MakeEngineRoot(system.path(), cache.path());
    EXPECT_NE(upgraded, root);
    EXPECT_TRUE(QFileInfo(root + "/firebird.conf").exists());
    QFile copy(upgraded + "/intl/libfbintl.so");
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_TRUE(copy.readAll().endsWith("upgraded"));
}

}  // namespace

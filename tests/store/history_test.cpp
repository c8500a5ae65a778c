// The penalty log and the samples: the upgrade of databases made before
// them, what each way of banning records, and that a ban and its record
// cannot be parted.
#include "core/error.h"
#include "store/banbatch.h"
#include "store/sqltext.h"
#include "store/upgrade.h"
#include "tests/store/storetest.h"

#include <QFile>
#include <QSqlError>
#include <ctime>

using namespace palisor;
using palisor::test::App;
using palisor::test::RecordedEvents;
using palisor::test::RecordedSamples;
using palisor::test::StoreTest;
using palisor::test::TempDatabase;

namespace {

// Statements on a database no data module has opened yet.
void Prepare(const TempDatabase& db, const QStringList& statements)
{
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase("QIBASE", "prepare");
        raw.setDatabaseName(db.databasePath());
        raw.setUserName("SYSDBA");
        ASSERT_TRUE(raw.open()) << raw.lastError().text().toStdString();
        for (const QString& statement : statements) {
            QSqlQuery q(raw);
            ASSERT_TRUE(q.exec(statement)) << q.lastError().text().toStdString();
        }
        raw.commit();
        raw.close();
    }
    QSqlDatabase::removeDatabase("prepare");
}

QString Log(const TDataPalisor& data)
{
    QFile log(data.logPath());
    return log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll()) : QString();
}

TEST(HistoryUpgradeTest, ADatabaseMadeByTheSchemaGainsTheLogOnceAndKeepsItsRows)
{
    App();
    TempDatabase db(TempDatabase::Made::ByCreateDb);
    Prepare(db, {"INSERT INTO BANNED (NAME, ADDRESS) VALUES ('Old', '10.0.0.1')",
                 "INSERT INTO RECENT (NAME, ADDRESS) VALUES ('Seen', '10.0.0.2')"});
    auto data = db.createDataModule();

    EXPECT_TRUE(data->HasHistory());
    EXPECT_TRUE(Log(*data).contains("Database upgraded: 17 objects added")) << Log(*data).toStdString();
    EXPECT_EQ(data->tblBanned->columnNames(), QStringList({"NAME", "ADDRESS", "BANNEDAT", "REASON"}));
    EXPECT_EQ(data->tblBanned->text("NAME"), "Old");
    EXPECT_TRUE(data->tblBanned->value("BANNEDAT").isNull());
    EXPECT_TRUE(data->tblBanned->value("REASON").isNull());
    EXPECT_EQ(data->tblRecent->text("NAME"), "Seen");
    EXPECT_TRUE(RecordedEvents(*data).isEmpty());

    // Every later connect finds everything there.
    data->DisconnectDatabase();
    data->ConnectDatabase();
    EXPECT_EQ(Log(*data).count("Database upgraded"), 1);
    QSqlDatabase connection = data->database();
    connection.commit();
    EXPECT_EQ(ApplyUpgrade(connection, ParseUpgradeScript(HistoryScript())), 0);
    connection.transaction();
}

TEST(HistoryUpgradeTest, ADatabaseThatCannotGainTheLogKeepsItsListsWorking)
{
    App();
    TempDatabase db(TempDatabase::Made::ByCreateDb);
    Prepare(db, {"CREATE TABLE EVENTS (WHAT INTEGER)"});
    auto data = db.createDataModule();

    EXPECT_FALSE(data->HasHistory());
    EXPECT_TRUE(Log(*data).contains("Exception: History not available: ")) << Log(*data).toStdString();
    data->BanPlayer("Cheater", "10.0.0.9", Penalty{EventSource::Monitor, "BANNED IP", "04"});
    data->RecordEvent(EventKind::Kick, Penalty{EventSource::Monitor, "BANNED IP", "04"}, "Cheater", "10.0.0.9");
    data->RecordSample({QDateTime::currentDateTime(), 1, 8, "obj_team1", 40, 40});
    data->RecordPlayer("04", "Passer", "10.0.0.8", "1", "040");
    data->tblBanned->deleteCurrent();
    EXPECT_EQ(data->tblBanned->rowCount(), 0);
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Passer");
}

TEST(HistoryUpgradeTest, ScriptStatementsAreRecognisedOrRefused)
{
    const QList<UpgradeStep> steps = ParseUpgradeScript(
        "SET TERM ^ ;\n/* a; comment */ CREATE TRIGGER T FOR X AS BEGIN NEW.A = ';'; END^\n"
        "SET TERM ; ^\ncreate descending index I on X (A); -- done;\nCOMMIT;");
    ASSERT_EQ(steps.size(), 2);
    EXPECT_EQ(steps[0].statement, "CREATE TRIGGER T FOR X AS BEGIN NEW.A = ';'; END");
    EXPECT_EQ(steps[0].existsKeys, QVariantList{"T"});
    EXPECT_EQ(steps[1].existsKeys, QVariantList{"I"});
    EXPECT_THROW(ParseUpgradeScript("DROP TABLE BANNED;"), Error);
}

using HistoryTest = StoreTest;

TEST_F(HistoryTest, EveryWayIntoAndOutOfBannedIsRecordedWithItsReason)
{
    data->BanPlayer("O'Neil", "10.0.0.3", Penalty{EventSource::Admin, QString::fromUtf8("Wallhack \u00e9 \u20ac"), "07"});
    data->BanPlayer("O'Neil", "10.0.0.3", Penalty{EventSource::Admin, "again", "07"});   // already banned
    EXPECT_EQ(data->tblBanned->text("REASON"), QString::fromUtf8("Wallhack \u00e9 ?"));
    EXPECT_FALSE(data->tblBanned->value("BANNEDAT").isNull());

    // What the grid stores carries no reason from the ban before it.
    addRow(data->tblBanned, {{"NAME", "Typed"}, {"ADDRESS", "10.0.0.4"}});
    {
        BanBatch batch(*data, Penalty{EventSource::Import, "Banned.txt", ""});
        batch.ban("Imported", "10.0.0.5");
        batch.commit();
        batch.ban("Late", "10.0.0.6");
        batch.finish();
    }
    data->SortTable("NAME", data->tblBanned);
    data->tblBanned->setCurrentRow(column(data->tblBanned, "NAME").indexOf("Typed"));
    data->tblBanned->deleteCurrent();
    // An edited row is another ban; a name's ban following the player to a
    // new address is still the same one.
    data->tblBanned->setCurrentRow(column(data->tblBanned, "NAME").indexOf("Imported"));
    data->tblBanned->edit();
    data->tblBanned->setValue("NAME", "Renamed");
    data->tblBanned->post();
    EXPECT_TRUE(data->IsBanned("Late", "10.0.0.60"));
    EXPECT_EQ(column(data->tblBanned, "ADDRESS").count("10.0.0.60"), 1);

    EXPECT_EQ(RecordedEvents(*data), QStringList({QString::fromUtf8("BAN|07|O`Neil|10.0.0.3|Wallhack \u00e9 ?|admin"),
                                                  "BAN||Typed|10.0.0.4||admin",
                                                  "BAN||Imported|10.0.0.5|Banned.txt|import",
                                                  "BAN||Late|10.0.0.6|Banned.txt|import",
                                                  "UNBAN||Typed|10.0.0.4||admin",
                                                  "UNBAN||Imported|10.0.0.5||admin",
                                                  "BAN||Renamed|10.0.0.5|Banned.txt|admin"}));
}

// The ban is stored by an INSERT whose trigger writes its record: one
// statement, so there is no moment, and no place for a kill, at which the
// database holds the one without the other. A record that cannot be
// written takes the ban with it.
TEST_F(HistoryTest, ABanAndItsRecordAreOneStatement)
{
    sql("CREATE TRIGGER REFUSE_RECORD FOR EVENTS BEFORE INSERT AS BEGIN "
        "IF (NEW.NAME = 'Mallory') THEN NEW.KIND = 'FAR TOO LONG A KIND'; END");
    data->BanPlayer("Alice", "10.0.0.1");
    EXPECT_THROW(data->BanPlayer("Mallory", "10.0.0.2", Penalty{EventSource::ServerRequest, "SERVER REQUEST", "02"}),
                 Error);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM BANNED WHERE NAME = 'Mallory'").toInt(), 0);
    // The refused ban's reason does not stick to the next change.
    addRow(data->tblBanned, {{"NAME", "Bob"}});
    EXPECT_EQ(RecordedEvents(*data), QStringList({"BAN||Alice|10.0.0.1||admin", "BAN||Bob|||admin"}));
}

TEST_F(HistoryTest, SamplesAreSummedUpByStretch)
{
    const QDateTime now(QDate(2026, 5, 1), QTime(12, 0));
    const QVariant none(QMetaType::fromType<int>());
    data->RecordSample({now.addDays(-89), 4, 16, "kept", 50, 70});
    data->RecordSample({now.addSecs(-600), 0, 16, "kept", none, none});
    data->RecordSample({now.addSecs(-590), 9, 18, "dm2", 40, 90});
    data->RecordSample({now.addSecs(-580), 5, 18, "dm3", 80, 120});
    data->RecordSample({now, 2, 18, "dm3", 60, 60});
    EXPECT_EQ(RecordedSamples(*data),
              QStringList({"4/16 kept 50 70", "0/16 kept  ", "9/18 >dm2 40 90", "5/18 >dm3 80 120", "2/18 dm3 60 60"}));

    // Read from the samples, and from their ten-minute spans, alike.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM SAMPLESPANS").toInt(), 3);
    for (const int stretchSeconds : {300, SpanSeconds}) {
        const QList<SampleStretch> stretches = ReadSampleStretches(data->database(), now.addSecs(-600), stretchSeconds);
        ASSERT_EQ(stretches.size(), 2);
        const SampleStretch& busy = stretches[0];
        EXPECT_EQ(busy.first, now.addSecs(-600));
        EXPECT_EQ(busy.polls, 3);
        EXPECT_EQ(QList<int>({busy.fewestPlayers, busy.mostPlayers, busy.lowestPing.toInt(), busy.highestPing.toInt()}),
                  QList<int>({0, 9, 40, 80}));
        EXPECT_EQ(busy.maxPlayers, 18);
        EXPECT_EQ(busy.mapChanges, 2);
        EXPECT_EQ(busy.newMap, "dm3");
        EXPECT_EQ(busy.mapChanged, now.addSecs(-590));
        EXPECT_EQ(stretches[1].first, now);
        EXPECT_EQ(stretches[1].mapChanges, 0);
        EXPECT_TRUE(stretches[1].mapChanged.isNull());
    }

    EXPECT_TRUE(MedianPing({}).isNull());
    EXPECT_EQ(MedianPing({40, 10, 30}).toInt(), 30);
    EXPECT_EQ(MedianPing({90, 10, 20, 31}).toInt(), 26);
    EXPECT_EQ(HighestPing({40, 310, 30}).toInt(), 310);
}

TEST_F(HistoryTest, SamplesAreKeptNinetyDaysCountedFromSettledPollsNotAClockJump)
{
    const QDateTime now(QDate(2026, 5, 1), QTime(12, 0));
    data->RecordSample({now.addDays(-91), 3, 16, "old", 1, 1});
    data->RecordSample({now.addDays(-89), 4, 16, "kept", 50, 70});
    for (int poll = 100; poll > 0; --poll)
        data->RecordSample({now.addSecs(-30 * poll), 4, 16, "kept", 50, 70});
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM SAMPLES WHERE MAPNAME = 'old'").toInt(), 0);

    data->RecordSample({now.addYears(1), 4, 16, "kept", 50, 70});
    data->RecordSample({now, 4, 16, "kept", 50, 70});
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM SAMPLES").toInt(), 103);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM SAMPLESPANS WHERE SPANSTART < CAST('2026-04-01' AS TIMESTAMP)").toInt(), 1);
}

// Samples are kept in UTC and shown in local time; those stored in local
// time by earlier versions are converted once.
class HistoryZoneTest : public StoreTest {
protected:
    HistoryZoneTest() : zone_(qgetenv("TZ")) { Zone("Europe/Berlin"); }
    ~HistoryZoneTest() override { Zone(zone_); }
    static void Zone(const QByteArray& name)
    {
        name.isEmpty() ? qunsetenv("TZ") : qputenv("TZ", name);
        tzset();
    }
    static QDateTime Utc(int month, int day, int hour, int minute)
    {
        return QDateTime(QDate(2026, month, day), QTime(hour, minute), Qt::UTC);
    }
    QStringList Stored(const QString& statement)
    {
        QSqlQuery q = sql::run(data->database(), statement);
        QStringList times;
        while (q.next())
            times << q.value(0).toDateTime().toString("MM-dd HH:mm");
        return times;
    }

private:
    QByteArray zone_;
};

TEST_F(HistoryZoneTest, TheHourTheClocksRepeatIsReadInOrder)
{
    // 2026-10-25 03:00 summer time in Berlin is 02:00 winter time again.
    for (const int minute : {20, 50, 80, 110})
        data->RecordSample({Utc(10, 25, 0, 0).addSecs(minute * 60).toLocalTime(), minute, 32, "dm", 50, 50});
    const QList<SampleStretch> stretches = ReadSampleStretches(data->database(), Utc(10, 25, 0, 0), 300);
    ASSERT_EQ(stretches.size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(stretches[i].first, Utc(10, 25, 0, 20).addSecs(1800 * i));
    EXPECT_EQ(Stored("SELECT TAKEN FROM SAMPLES ORDER BY TAKEN").first(), "10-25 00:20");
}

TEST_F(HistoryZoneTest, LocalSamplesOfAnEarlierVersionAreConvertedOnce)
{
    sql("INSERT INTO SAMPLES (TAKEN, PLAYERCOUNT, MAXPLAYERS, MAPNAME) "
        "SELECT CAST(T AS TIMESTAMP), 1, 8, 'dm' FROM (SELECT '2026-03-29 01:30' T FROM RDB$DATABASE "
        "UNION ALL SELECT '2026-03-29 03:30' FROM RDB$DATABASE UNION ALL SELECT '2026-07-01 12:05' FROM RDB$DATABASE "
        "UNION ALL SELECT '2026-10-25 02:30' FROM RDB$DATABASE UNION ALL SELECT '2026-12-01 12:05' FROM RDB$DATABASE)");
    QSqlDatabase connection = data->database();
    ConvertSamplesToUtc(connection);
    sql::commitAndContinue(connection);
    EXPECT_EQ(Stored("SELECT TAKEN FROM SAMPLES ORDER BY TAKEN"),
              QStringList({"03-29 00:30", "03-29 01:30", "07-01 10:05", "10-25 00:30", "12-01 11:05"}));
    EXPECT_EQ(Stored("SELECT SPANSTART FROM SAMPLESPANS ORDER BY SPANSTART"),
              QStringList({"03-29 00:30", "03-29 01:30", "07-01 10:00", "10-25 00:30", "12-01 11:00"}));
}

}  // namespace

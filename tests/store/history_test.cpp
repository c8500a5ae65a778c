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
#include <chrono>
#include <ctime>
#include <future>
#include <thread>

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

// Berlin's time for as long as it lives: its clock changes are known.
class BerlinTime {
public:
    BerlinTime() : zone_(qgetenv("TZ")) { Zone("Europe/Berlin"); }
    ~BerlinTime() { Zone(zone_); }
    BerlinTime(const BerlinTime&) = delete;
    BerlinTime& operator=(const BerlinTime&) = delete;

private:
    static void Zone(const QByteArray& name)
    {
        name.isEmpty() ? qunsetenv("TZ") : qputenv("TZ", name);
        tzset();
    }
    QByteArray zone_;
};

QString Log(const TDataPalisor& data)
{
    QFile log(data.logPath());
    return log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll()) : QString();
}

// The objects of a database, with their columns, keys and bodies.
QStringList Catalogue(const TDataPalisor& data)
{
    QSqlQuery q(data.database());
    q.exec("SELECT 'T ' || TRIM(R.RDB$RELATION_NAME) || '.' || TRIM(F.RDB$FIELD_NAME) || ' ' || D.RDB$FIELD_TYPE || "
           "' ' || COALESCE(D.RDB$CHARACTER_LENGTH, D.RDB$FIELD_LENGTH) || ' ' || COALESCE(F.RDB$NULL_FLAG, 0) "
           "FROM RDB$RELATIONS R JOIN RDB$RELATION_FIELDS F ON F.RDB$RELATION_NAME = R.RDB$RELATION_NAME "
           "JOIN RDB$FIELDS D ON D.RDB$FIELD_NAME = F.RDB$FIELD_SOURCE WHERE R.RDB$SYSTEM_FLAG = 0 "
           "UNION ALL SELECT 'I ' || TRIM(I.RDB$INDEX_NAME) || ' ' || TRIM(I.RDB$RELATION_NAME) || ' ' || "
           "COALESCE(I.RDB$UNIQUE_FLAG, 0) || COALESCE(I.RDB$INDEX_TYPE, 0) || ' ' || TRIM(S.RDB$FIELD_NAME) "
           "FROM RDB$INDICES I JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
           "WHERE I.RDB$SYSTEM_FLAG = 0 "
           "UNION ALL SELECT 'G ' || TRIM(RDB$TRIGGER_NAME) || ' ' || TRIM(RDB$RELATION_NAME) || ' ' || "
           "RDB$TRIGGER_TYPE || ' ' || RDB$TRIGGER_SOURCE FROM RDB$TRIGGERS WHERE RDB$SYSTEM_FLAG = 0 "
           "UNION ALL SELECT 'P ' || TRIM(RDB$PROCEDURE_NAME) || ' ' || RDB$PROCEDURE_SOURCE FROM RDB$PROCEDURES "
           "WHERE RDB$SYSTEM_FLAG = 0 "
           "UNION ALL SELECT 'S ' || TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS WHERE RDB$SYSTEM_FLAG = 0 "
           "UNION ALL SELECT 'V ' || VERSION FROM SCHEMA_VERSION "
           "UNION ALL SELECT 'L ' || COUNT(*) FROM SAMPLES_IN_LOCAL_TIME");
    QStringList lines;
    while (q.next())
        lines << q.value(0).toString();
    lines.sort();
    return lines;
}

QString Sum(const TDataPalisor& data, const QString& query)
{
    QSqlQuery q(data.database());
    q.exec(query);
    return q.next() ? q.value(0).toString() + QLatin1Char('/') + q.value(1).toString() : q.lastError().text();
}

TEST(HistoryUpgradeTest, AnOlderDatabaseGainsWhatTheSchemaMakesOnceAndKeepsItsRows)
{
    App();
    TempDatabase db(TempDatabase::Made::BeforeHistory);
    Prepare(db, {"INSERT INTO BANNED (NAME, ADDRESS) VALUES ('Old', '10.0.0.1')",
                 "INSERT INTO RECENT (NAME, ADDRESS) VALUES ('Seen', '10.0.0.2')"});
    auto data = db.createDataModule();

    EXPECT_TRUE(data->HasHistory());
    EXPECT_TRUE(Log(*data).contains(QStringLiteral("Database upgraded from version 0 to %1").arg(LatestSchemaVersion())))
        << Log(*data).toStdString();
    EXPECT_FALSE(QFile::exists(data->upgradeCopyPath()));
    EXPECT_EQ(data->tblBanned->columnNames(), QStringList({"NAME", "ADDRESS", "BANNEDAT", "REASON"}));
    EXPECT_EQ(data->tblBanned->text("NAME"), "Old");
    EXPECT_TRUE(data->tblBanned->value("BANNEDAT").isNull());
    EXPECT_TRUE(data->tblBanned->value("REASON").isNull());
    EXPECT_EQ(data->tblRecent->text("NAME"), "Seen");
    EXPECT_TRUE(RecordedEvents(*data).isEmpty());
    // Its one game server is named after its settings row's address and port,
    // and is number 1, as its monitor claim and server state rows are.
    const QString servers = QStringLiteral("SELECT COUNT(*) || ' #' || MIN(ID), MIN(NAME) FROM SERVERS");
    EXPECT_EQ(Sum(*data, servers), "1 #1/127.0.0.1:12203");

    // A new database is made complete and opens without an upgrade; both
    // have the same objects.
    TempDatabase made;
    auto created = made.createDataModule();
    EXPECT_FALSE(Log(*created).contains("Database upgraded"));
    const QStringList objects = Catalogue(*created);
    EXPECT_GT(objects.size(), 60);
    EXPECT_EQ(objects, Catalogue(*data));

    // Every later connect finds everything there.
    data->DisconnectDatabase();
    data->ConnectDatabase();
    EXPECT_EQ(Log(*data).count("Database upgraded"), 1);
    EXPECT_EQ(Sum(*data, servers), "1 #1/127.0.0.1:12203");
    EXPECT_EQ(Sum(*created, servers), "1 #1/127.0.0.1:12203");
}

// A Palisor with the first penalty log kept samples in local time without
// spans, and an ADD_SAMPLE that forgets only the samples.
TEST(HistoryUpgradeTest, ADatabaseWithTheFirstLogGetsItsSamplesInUtcWithSpansAndTodaysProcedures)
{
    App();
    const BerlinTime zone;
    TempDatabase db(TempDatabase::Made::BeforeHistory);
    const QDateTime now = QDateTime::currentDateTime();
    // Two polls five seconds apart within one ten-minute span, whatever the
    // time of the run.
    QDateTime twoDaysAgo = now.addDays(-2);
    twoDaysAgo = twoDaysAgo.addSecs(60 - (twoDaysAgo.time().minute() % 10) * 60 - twoDaysAgo.time().second());
    const auto sample = [](const QDateTime& at, int players) {
        return QStringLiteral("INSERT INTO SAMPLES (TAKEN, PLAYERCOUNT, MAXPLAYERS, MAPNAME) VALUES ('%1', %2, 16, 'm')")
            .arg(at.toString("yyyy-MM-dd hh:mm:ss"))
            .arg(players);
    };
    Prepare(db, {"CREATE TABLE SAMPLES (TAKEN TIMESTAMP, PLAYERCOUNT INTEGER, MAXPLAYERS INTEGER, "
                 "MAPNAME VARCHAR(64) CHARACTER SET ISO8859_1, MEDIANPING INTEGER, HIGHPING INTEGER)",
                 "CREATE PROCEDURE ADD_SAMPLE (ITAKEN TIMESTAMP, IPLAYERCOUNT INTEGER, IMAXPLAYERS INTEGER, "
                 "IMAPNAME VARCHAR(64) CHARACTER SET ISO8859_1, IMEDIANPING INTEGER, IHIGHPING INTEGER) AS BEGIN "
                 "INSERT INTO SAMPLES (TAKEN, PLAYERCOUNT, MAXPLAYERS, MAPNAME) "
                 "VALUES (:ITAKEN, :IPLAYERCOUNT, :IMAXPLAYERS, :IMAPNAME); END",
                 sample(now.addDays(-95), 1), sample(twoDaysAgo, 2), sample(twoDaysAgo.addSecs(5), 6),
                 sample(now.addDays(-1), 3)});
    auto data = db.createDataModule();
    ASSERT_TRUE(data->HasHistory());
    EXPECT_EQ(Sum(*data, "SELECT SUM(POLLS), SUM(MOSTPLAYERS) FROM SAMPLESPANS"), "4/10");
    QSqlQuery newest(data->database());
    ASSERT_TRUE(newest.exec("SELECT MAX(TAKEN) FROM SAMPLES") && newest.next());
    EXPECT_EQ(newest.value(0).toDateTime().toString("yyyy-MM-dd hh:mm:ss"),
              now.addDays(-1).toUTC().toString("yyyy-MM-dd hh:mm:ss"));
    newest.finish();

    // Today's ADD_SAMPLE counts the 90 days from settled polls: with fewer
    // than 100 polls kept, the one of 95 days ago stays (either earlier
    // procedure deleted it).
    data->RecordSample({now, 4, 16, "m", 30, 30});
    EXPECT_EQ(Sum(*data, "SELECT COUNT(*), SUM(POLLS) FROM SAMPLESPANS"), "4/5");
}

TEST(HistoryUpgradeTest, ADatabaseThatCannotBeUpgradedIsPutBackAndKeepsItsListsWorking)
{
    App();
    // An object of the upgrade's name that is not what it makes, and rows
    // that break a unique index only when its creation is committed.
    for (const QStringList& before :
         {QStringList{"CREATE TABLE EVENTS (WHAT INTEGER)"},
          QStringList{"CREATE TABLE SAMPLESPANS (SPANSTART TIMESTAMP, FIRSTTAKEN TIMESTAMP, POLLS INTEGER, "
                      "FEWESTPLAYERS INTEGER, MOSTPLAYERS INTEGER, LOWESTPING INTEGER, HIGHESTPING INTEGER, "
                      "MAXPLAYERS INTEGER, NEWMAPS INTEGER, NEWMAP VARCHAR(64), MAPCHANGED TIMESTAMP)",
                      "INSERT INTO SAMPLESPANS (SPANSTART) VALUES ('2026-01-01 10:00:00')",
                      "INSERT INTO SAMPLESPANS (SPANSTART) VALUES ('2026-01-01 10:00:00')"}}) {
        TempDatabase db(TempDatabase::Made::BeforeHistory);
        Prepare(db, before);
        auto data = db.createDataModule();
        EXPECT_FALSE(data->HasHistory());
        EXPECT_TRUE(Log(*data).contains("Exception: History not available: ")) << Log(*data).toStdString();
        EXPECT_TRUE(Log(*data).contains("put back as it was before the upgrade")) << Log(*data).toStdString();
        EXPECT_EQ(Log(*data).contains("duplicate value"), before.size() > 1);
        EXPECT_FALSE(QFile::exists(data->upgradeCopyPath()));
        EXPECT_EQ(data->tblBanned->columnNames(), QStringList({"NAME", "ADDRESS"}));

        // Another attachment, as the monitor's, neither waits on what the
        // upgrade left nor tries it again.
        auto other = std::make_unique<TDataPalisor>(db.folder());
        other->OpenAttachment();
        other->BanPlayer("Cheater", "10.0.0.9", Penalty{EventSource::Monitor, "BANNED IP", "04"});
        EXPECT_EQ(Log(*data).count("History not available"), 1);
        QSqlQuery live(data->database());
        live.exec("SELECT COUNT(*) FROM MON$TRANSACTIONS");
        ASSERT_TRUE(live.next());
        EXPECT_EQ(live.value(0).toInt(), 2);

        data->RecordEvent(EventKind::Kick, Penalty{EventSource::Monitor, "BANNED IP", "04"}, "Cheater", "10.0.0.9");
        data->RecordSample({QDateTime::currentDateTime(), 1, 8, "obj_team1", 40, 40});
        data->RecordPlayer("04", "Passer", "10.0.0.8", "1", "040");
        data->Resynchronise({data->tblBanned});
        EXPECT_EQ(data->tblBanned->rowCount(), 1);
        data->tblBanned->deleteCurrent();
        EXPECT_EQ(data->tblBanned->rowCount(), 0);
        EXPECT_EQ(data->tblPlayers->text("NAME"), "Passer");
    }
}

TEST(HistoryUpgradeTest, ScriptStatementsAreRecognisedOrRefused)
{
    const QList<UpgradeStep> steps = ParseUpgradeScript(
        "SET TERM ^ ;\n/* a; comment */ CREATE OR ALTER TRIGGER T FOR X AS BEGIN NEW.A = ';'; END^\n"
        "SET TERM ; ^\ncreate descending index I on X (A); -- done;\nCOMMIT;");
    ASSERT_EQ(steps.size(), 2);
    EXPECT_EQ(steps[0].statement, "CREATE OR ALTER TRIGGER T FOR X AS BEGIN NEW.A = ';'; END");
    EXPECT_TRUE(steps[0].existsQuery.isEmpty());
    EXPECT_TRUE(steps[1].existsQuery.endsWith("RDB$INDEX_NAME = 'I'")) << steps[1].existsQuery.toStdString();
    EXPECT_THROW(ParseUpgradeScript("DROP TABLE BANNED;"), Error);
    // A body kept when the object exists would stay as an older Palisor made it.
    EXPECT_THROW(ParseUpgradeScript("CREATE PROCEDURE P AS BEGIN END;"), Error);

    // Every script is numbered, and the schema file makes the last version.
    const QList<UpgradeScript> scripts = UpgradeScripts();
    for (qsizetype i = 0; i < scripts.size(); ++i) {
        EXPECT_EQ(scripts[i].version, i + 1);
        EXPECT_NO_THROW(ParseUpgradeScript(scripts[i].text)) << scripts[i].name.toStdString();
    }
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
        const QList<SampleStretch> stretches = ReadSampleStretches(data->database(), data->ServerId(), now.addSecs(-600), stretchSeconds);
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
    BerlinTime zone_;
};

TEST_F(HistoryZoneTest, TheHourTheClocksRepeatIsReadInOrder)
{
    // 2026-10-25 03:00 summer time in Berlin is 02:00 winter time again.
    for (const int minute : {20, 50, 80, 110})
        data->RecordSample({Utc(10, 25, 0, 0).addSecs(minute * 60).toLocalTime(), minute, 32, "dm", 50, 50});
    const QList<SampleStretch> stretches = ReadSampleStretches(data->database(), data->ServerId(), Utc(10, 25, 0, 0), 300);
    ASSERT_EQ(stretches.size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(stretches[i].first, Utc(10, 25, 0, 20).addSecs(1800 * i));
    EXPECT_EQ(Stored("SELECT TAKEN FROM SAMPLES ORDER BY TAKEN").first(), "10-25 00:20");
}

TEST_F(HistoryZoneTest, LocalSamplesOfAnEarlierVersionAreConvertedOnceByOneOfTwoProgramsConnecting)
{
    sql("INSERT INTO SAMPLES (TAKEN, PLAYERCOUNT, MAXPLAYERS, MAPNAME) "
        "SELECT CAST(T AS TIMESTAMP), 1, 8, 'dm' FROM (SELECT '2026-03-29 01:30' T FROM RDB$DATABASE "
        "UNION ALL SELECT '2026-03-29 03:30' FROM RDB$DATABASE UNION ALL SELECT '2026-07-01 12:05' FROM RDB$DATABASE "
        "UNION ALL SELECT '2026-10-25 02:30' FROM RDB$DATABASE UNION ALL SELECT '2026-12-01 12:05' FROM RDB$DATABASE)");
    sql("INSERT INTO SAMPLES_IN_LOCAL_TIME (MARK) VALUES (1)");
    data->DisconnectDatabase();

    // Another program has taken the mark and converts; it commits while
    // this one waits on the mark.
    std::promise<void> taken;
    std::thread other([this, &taken] {
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase("QIBASE", "other");
            raw.setDatabaseName(db.databasePath());
            raw.setUserName("SYSDBA");
            raw.open();
            raw.transaction();
            sql::run(raw, "DELETE FROM SAMPLES_IN_LOCAL_TIME");
            ConvertSamplesToUtc(raw);
            taken.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            raw.commit();
            raw.close();
        }
        QSqlDatabase::removeDatabase("other");
    });
    taken.get_future().wait();
    data->ConnectDatabase();
    other.join();

    EXPECT_TRUE(data->HasHistory());
    EXPECT_FALSE(Log(*data).contains("converted")) << Log(*data).toStdString();
    EXPECT_EQ(Stored("SELECT TAKEN FROM SAMPLES ORDER BY TAKEN"),
              QStringList({"03-29 00:30", "03-29 01:30", "07-01 10:05", "10-25 00:30", "12-01 11:05"}));
    EXPECT_EQ(Stored("SELECT SPANSTART FROM SAMPLESPANS ORDER BY SPANSTART"),
              QStringList({"03-29 00:30", "03-29 01:30", "07-01 10:00", "10-25 00:30", "12-01 11:00"}));
}

}  // namespace

// palisorctl as a program, run against a real database made from the schema.
#include "store/history.h"
#include "store/letgo.h"
#include "store/monitorclaim.h"
#include "store/sqltext.h"
#include "tests/support/db/tempdatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace palisor;

namespace {

struct Outcome {
    int status = -1;
    QString out, err;
};

class Ctl : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "ctl_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    // The arguments follow "--data FOLDER"; input goes to standard input.
    Outcome Run(const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess ctl;
        ctl.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisorctl",
                  QStringList{"--data", db_.dataFolder()} + arguments);
        ctl.write(input);
        ctl.closeWriteChannel();
        EXPECT_TRUE(ctl.waitForFinished(60000));
        return {ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1, QString::fromUtf8(ctl.readAllStandardOutput()),
                QString::fromUtf8(ctl.readAllStandardError())};
    }

    // Refused with status 1 (or 2), a message naming the value, and the
    // database exactly as before.
    void ExpectRefused(const QStringList& arguments, const QString& named, int status = 1)
    {
        const QStringList before = Snapshot();
        const Outcome refused = Run(arguments);
        EXPECT_EQ(refused.status, status) << arguments.join(' ').toStdString();
        EXPECT_TRUE(refused.err.startsWith("palisorctl: ")) << refused.err.toStdString();
        EXPECT_TRUE(refused.err.contains(named)) << refused.err.toStdString();
        EXPECT_EQ(Snapshot(), before) << arguments.join(' ').toStdString();
    }

    // The servers, every list, the settings and the penalty log, one line per row.
    QStringList Snapshot() const
    {
        auto data = db_.createDataModule();
        QStringList rows = test::RecordedEvents(*data);
        for (const char* table : {"SERVERS", "SETTINGS", "BANNED", "IMMUNE", "ILLEGAL", "MAPALIAS", "MESSAGES"}) {
            QSqlQuery q = sql::run(data->database(), QStringLiteral("SELECT * FROM %1").arg(QLatin1String(table)));
            while (q.next()) {
                QStringList values{QLatin1String(table)};
                for (int c = 0; c < q.record().count(); ++c)
                    values << q.value(c).toString();
                rows << values.join('|');
            }
        }
        data->DataModuleDestroy();
        return rows;
    }

    QStringList Lines(const QStringList& arguments)
    {
        const Outcome listed = Run(arguments);
        EXPECT_EQ(listed.status, 0) << listed.err.toStdString();
        return listed.out.split('\n', Qt::SkipEmptyParts);
    }

    test::TempDatabase db_;
};

TEST_F(Ctl, SettingsAreCheckedLikeTheWindowsBoxesAndStoredTogether)
{
    EXPECT_EQ(Run({"settings", "set", "port=27960", "scan-time=3", "announcements=on", "interval=10"}).status, 0);
    const QStringList shown = Lines({"settings", "show"});
    for (const char* line : {"address=127.0.0.1", "port=27960", "scan-time=3", "announcements=on", "interval=10",
                             "password=(not set)"})
        EXPECT_TRUE(shown.contains(QLatin1String(line))) << line;

    // One bad value keeps the good ones beside it out as well.
    ExpectRefused({"settings", "set", "scan-time=5", "port=99999"}, "port=99999");
    ExpectRefused({"settings", "set", "max-ping=12a"}, "max-ping=12a");
    ExpectRefused({"settings", "set", "scan-time=0"}, "scan-time=0");
    ExpectRefused({"settings", "set", "interval=7"}, "interval=7");
    ExpectRefused({"settings", "set", "address=1234567890.123456"}, "address=1234567890.123456");
    ExpectRefused({"settings", "set", "announcements=yes"}, "announcements=yes");
    ExpectRefused({"settings", "set", "colour=red"}, "colour", 2);
}

TEST_F(Ctl, PasswordComesFromAFileOrStandardInputNeverTheCommandLine)
{
    QFile file(db_.folder() + "/secret");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("from file\nsecond line\n");
    file.close();
    EXPECT_EQ(Run({"password", "set", "--password-file", file.fileName()}).status, 0);
    EXPECT_TRUE(Snapshot().filter("SETTINGS|").first().contains("|from file|"));
    EXPECT_EQ(Run({"password", "set"}, "piped\n").status, 0);
    EXPECT_TRUE(Snapshot().filter("SETTINGS|").first().contains("|piped|"));
    EXPECT_NE(Run({"password", "set", "--password", "x"}).status, 0);
    const Outcome tooLong = Run({"password", "set", "--password-file", "-"}, QByteArray(36, 'p') + "\n");
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_TRUE(Snapshot().filter("SETTINGS|").first().contains("|piped|"));
}

TEST_F(Ctl, BansAreRecordedAsTheAdminsWithTheirReason)
{
    EXPECT_EQ(Run({"ban", "add", "--name", "Bad'Guy", "--address", "203.0.113.7", "--reason", "aimbot"}).status, 0);
    EXPECT_EQ(Lines({"ban", "list"}), QStringList{"Bad`Guy\t203.0.113.7"});
    ExpectRefused({"ban", "add", "--address", "203.0.113.256"}, "203.0.113.256");
    ExpectRefused({"ban", "add", "--name", QString(41, 'n')}, QString(41, 'n'));
    ExpectRefused({"ban", "add", "--reason", "why"}, "--name", 2);
    // The reason reaches the penalty log whole or not at all.
    ExpectRefused({"ban", "add", "--address", "203.0.113.8", "--reason", QString(251, 'r')}, "at most 250");
    ExpectRefused({"ban", "add", "--address", "203.0.113.8", "--reason", "aim\u2713"}, "aim\u2713");
    ExpectRefused({"ban", "remove", "--name", "Nobody"}, "Nobody");

    const Outcome removed = Run({"ban", "remove", "--name", "bad'guy"});
    EXPECT_EQ(removed.out, "Removed 1 ban\n");
    auto data = db_.createDataModule();
    EXPECT_EQ(test::RecordedEvents(*data),
              (QStringList{"BAN||Bad`Guy|203.0.113.7|aimbot|admin", "UNBAN||Bad`Guy|203.0.113.7||admin"}));
    data->DataModuleDestroy();
}

TEST_F(Ctl, AnImportWithBadLinesBansNothingAndAnExportReadsBack)
{
    const QString name = db_.folder() + "/Banned.txt";
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Alpha\t10.0.0.1\r\n// remark\r\nBeta\t10.0.0.2\r\n" + QByteArray(41, 'x') + "\t10.0.0.3\r\nGamma\t10.0.0\r\n");
    file.close();
    ExpectRefused({"ban", "import", "--kind", "both", name}, "line 4");
    EXPECT_TRUE(Run({"ban", "import", "--kind", "both", name}).err.contains("line 5: \"10.0.0\""));

    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Alpha\t10.0.0.1\r\n// remark\r\nBeta\t10.0.0.2 // kept\r\n");
    file.close();
    EXPECT_EQ(Run({"ban", "import", "--kind", "both", name}).out, "Imported 2 bans from " + name + "\n");
    EXPECT_EQ(Run({"ban", "export", "--kind", "both"}).out, "Alpha\t10.0.0.1\r\nBeta\t10.0.0.2\r\n");
    EXPECT_EQ(Run({"ban", "export", "--kind", "addresses", name}).status, 0);
    EXPECT_EQ(Run({"ban", "import", "--kind", "addresses", name}).status, 0);
    EXPECT_TRUE(Snapshot().contains("BAN||IMPORT-" + QDate::currentDate().toString("MMddyyyy") + "|10.0.0.1|Banned.txt|import"));
}

TEST_F(Ctl, ListsKeepOneEntryPerNameAndAnnouncementsMoveInOrder)
{
    EXPECT_EQ(Run({"immune", "add", "Admin"}).status, 0);
    EXPECT_EQ(Run({"immune", "add", "ADMIN"}).status, 0);
    EXPECT_EQ(Lines({"immune", "list"}), QStringList{"Admin"});
    EXPECT_EQ(Run({"illegal", "add", "medic"}).status, 0);
    EXPECT_EQ(Run({"immune", "remove", "admin"}).status, 0);
    EXPECT_TRUE(Lines({"immune", "list"}).isEmpty());
    ExpectRefused({"banished", "add", "x"}, "\"banished\"", 2);
    ExpectRefused({"illegal", "add", QString(41, 'i')}, QString(41, 'i'));

    EXPECT_EQ(Run({"alias", "add", "obj/obj_team2", "V2 Rocket"}).status, 0);
    EXPECT_EQ(Run({"alias", "add", "OBJ/obj_team2", "V2"}).status, 0);
    EXPECT_EQ(Lines({"alias", "list"}), QStringList{"obj/obj_team2\tV2"});

    for (const char* text : {"one", "two", "three"})
        Run({"announce", "add", text});
    EXPECT_EQ(Run({"announce", "move", "3", "1"}).status, 0);
    EXPECT_EQ(Run({"announce", "remove", "2"}).status, 0);
    EXPECT_EQ(Lines({"announce", "list"}), (QStringList{"1\tthree", "2\ttwo"}));
    ExpectRefused({"announce", "remove", "3"}, "3");

    auto data = db_.createDataModule();
    data->RecordPlayer("03", "Sgt.Pepper", "203.0.113.7", "12203", "048");
    data->DataModuleDestroy();
    const QStringList recent = Lines({"recent", "list", "--grep", "PEPPER", "--since", "1h"});
    ASSERT_EQ(recent.size(), 1);
    EXPECT_TRUE(recent[0].startsWith("Sgt.Pepper\t203.0.113.7\t" + QDate::currentDate().toString(Qt::ISODate)));
    EXPECT_TRUE(Lines({"recent", "list", "--grep", "203.0.113.7", "--since", "2099-01-01"}).isEmpty());
}

TEST_F(Ctl, HistoryFormatsKeepSpreadsheetsFromRunningNames)
{
    Run({"ban", "add", "--name", "=HYPERLINK(1)", "--reason", "+1"});
    Run({"ban", "add", "--address", "10.0.0.9", "--reason", "a, \"b\""});
    Run({"ban", "remove", "--address", "10.0.0.9"});
    const QStringList csv = Run({"history", "--format", "csv"}).out.split("\r\n");
    EXPECT_EQ(csv[0], "time,kind,clientid,name,address,reason,source");
    EXPECT_TRUE(csv[1].endsWith(",ban,,'=HYPERLINK(1),,'+1,admin")) << csv[1].toStdString();
    EXPECT_TRUE(csv[2].endsWith(",ban,,,10.0.0.9,\"a, \"\"b\"\"\",admin")) << csv[2].toStdString();

    const QJsonArray unbans = QJsonDocument::fromJson(Run({"history", "--kind", "unban", "--format", "json"}).out.toUtf8()).array();
    ASSERT_EQ(unbans.size(), 1);
    EXPECT_EQ(unbans[0].toObject().value("address").toString(), "10.0.0.9");
    EXPECT_TRUE(unbans[0].toObject().value("name").isNull());
    EXPECT_EQ(Lines({"history", "--since", "1h"}).size(), 3);
    EXPECT_TRUE(Lines({"history", "--since", "2099-01-01"}).isEmpty());
    ExpectRefused({"history", "--since", "yesterday"}, "yesterday", 2);
}

TEST_F(Ctl, AFolderWithoutDatabaseIsRefused)
{
    // The global options also come after the subcommand.
    QProcess ctl;
    ctl.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisorctl", {"ban", "list", "--data", db_.folder()});
    ASSERT_TRUE(ctl.waitForFinished(60000));
    EXPECT_EQ(ctl.exitCode(), 1);
    EXPECT_TRUE(ctl.readAllStandardError().contains("holds no Palisor database"));
}

TEST_F(Ctl, ServersAreAddedChangedRenamedAndRemovedByName)
{
    EXPECT_EQ(Run({"server", "add", "TDM", "address=10.0.0.9", "port=12204", "scan-time=5", "--password-file", "-"}, "rcon\n")
                  .status,
              0);
    EXPECT_EQ(Run({"server", "set", "tdm", "max-ping=300"}).status, 0);
    EXPECT_EQ(Run({"server", "rename", "127.0.0.1:12203", "Objective"}).status, 0);
    EXPECT_EQ(Lines({"server", "list"}), (QStringList{"Objective\t127.0.0.1:12203\t30\t250\t-", "TDM\t10.0.0.9:12204\t5\t300\t-"}));
    EXPECT_TRUE(Lines({"--server", "TDM", "settings", "show"}).contains("password=(set)"));
    EXPECT_TRUE(Lines({"settings", "show", "--server", "objective"}).contains("password=(not set)"));

    ExpectRefused({"server", "add", "objective", "address=10.0.0.8", "port=1"}, "named Objective", 2);
    ExpectRefused({"server", "add", " ", "address=10.0.0.8", "port=1"}, "needs a name", 2);
    ExpectRefused({"server", "add", "FFA", "address=10.0.0.8", "port=65536"}, "port=65536", 2);
    ExpectRefused({"server", "add", "FFA", "address=bad host", "port=1"}, "address=bad host", 2);
    ExpectRefused({"server", "add", "FFA", "address=10.0.0.8", "port=1", "scan-time=0"}, "scan-time=0", 2);
    // One game server entered twice would be polled, and kicked on, twice.
    ExpectRefused({"server", "add", "FFA", "address=10.0.0.9", "port=12204"}, "TDM is 10.0.0.9:12204", 2);
    ExpectRefused({"server", "set", "TDM", "port=12203", "address=127.0.0.1"}, "Objective is 127.0.0.1:12203", 2);
    ExpectRefused({"server", "rename", "TDM", "OBJECTIVE"}, "named Objective", 2);
    ExpectRefused({"server", "remove", "FFA"}, "no server named \"FFA\" (Objective, TDM)", 2);
    ExpectRefused({"settings", "set", "--server", "FFA", "port=1"}, "no server named \"FFA\"", 2);
    ExpectRefused({"settings", "set", "port=1"}, "There are 2 servers (Objective, TDM): name one with --server.", 2);
    ExpectRefused({"password", "set", "--password-file", "/dev/null"}, "name one with --server", 2);

    // A removed server's penalties stay in the log, on no server.
    auto data = db_.createDataModule();
    data->SetServer(2);
    Penalty ping;
    ping.source = EventSource::Monitor;
    ping.clientId = "05";
    data->RecordEvent("KICK", ping, "Lagger", "10.0.0.5");
    data->DataModuleDestroy();
    Run({"ban", "add", "--name", "Cheater"});
    EXPECT_TRUE(Lines({"history"}).join('\n').contains(QRegularExpression("\tLagger\t10.0.0.5\t-\tmonitor\tTDM\n.*\tadmin\t-$")));
    EXPECT_EQ(Run({"server", "remove", "tdm"}).status, 0);
    EXPECT_EQ(Lines({"server", "list"}).size(), 1);
    EXPECT_TRUE(Lines({"history"}).first().endsWith("\tLagger\t10.0.0.5\t-\tmonitor")) << "one server: no server column";
    ExpectRefused({"server", "remove", "Objective"}, "Objective is the only server");
}

// What a monitor leaves behind: its claim, renewed by a poll that ended
// `age` seconds ago with that outcome.
void Polled(const test::TempDatabase& db, qint64 age, const QString& error = QString())
{
    auto data = db.createDataModule();
    QSqlDatabase connection = data->database();
    const QDateTime at = QDateTime::currentDateTimeUtc().addSecs(-age);
    const MonitorIdentity monitor{"palisor-monitor", "gamehost", 917};
    TakeClaim(connection, 1, monitor, 30, "127.0.0.1:12203", at, [](const QString&) {});
    ServerState state;
    state.polled = at;
    state.pollError = error;
    state.curMap = "obj_team2";
    state.players = 12;
    state.maxPlayers = 32;
    state.pingMedian = 48;
    ASSERT_TRUE(StorePoll(connection, 1, monitor, 30, state));
    data->DataModuleDestroy();
}

// A monitoring plugin's answer: one line whose first word agrees with the
// status, text before the performance data.
QString Verdict(const Outcome& check, int status)
{
    static const QRegularExpression plugin(R"(^PALISOR (OK|WARNING|CRITICAL|UNKNOWN) - [^|\n]+( \| ([\w]+=[\w;.]+ ?)+)?\n$)");
    static const QStringList words{"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    const QRegularExpressionMatch m = plugin.match(check.out);
    EXPECT_TRUE(m.hasMatch()) << check.out.toStdString();
    EXPECT_EQ(check.status, status) << check.out.toStdString();
    EXPECT_EQ(m.captured(1), words.value(status));
    return check.out;
}

TEST_F(Ctl, StatusAndCheckReadWhatTheMonitorStored)
{
    EXPECT_TRUE(Lines({"status"}).contains("monitored-by=nobody"));
    EXPECT_TRUE(Verdict(Run({"check"}), 2).contains("never been polled"));

    Polled(db_, 4);
    const QStringList status = Lines({"status"});
    EXPECT_TRUE(status.contains("scan-time=30")) << status.join('\n').toStdString();
    EXPECT_TRUE(status.filter(QRegularExpression("^monitored-by=palisor-monitor on gamehost \\(process 917\\) since ")).size() == 1);
    EXPECT_TRUE(status.contains("players=12/32"));
    EXPECT_TRUE(status.contains("map=obj_team2"));
    EXPECT_TRUE(QRegularExpression(R"(^PALISOR OK - 12/32 players on obj_team2, polled \d+ s ago \| players=12;;;0;32 ping_median=48ms\n$)")
                    .match(Verdict(Run({"check"}), 0))
                    .hasMatch());
    EXPECT_TRUE(Verdict(Run({"check", "--warning-ping", "40"}), 1).contains("median ping 48 ms above 40 ms"));
    EXPECT_TRUE(Verdict(Run({"check", "--max-age", "2"}), 2).contains("max-age 2 s"));

    // The default age is three scan times plus 30 seconds.
    Polled(db_, 119);
    Verdict(Run({"check"}), 0);
    Polled(db_, 125);
    EXPECT_TRUE(Verdict(Run({"check"}), 2).contains("max-age 120 s"));
    Polled(db_, 1, "No reply | from the server");
    EXPECT_TRUE(Verdict(Run({"check"}), 2).contains("failed (1 s ago): No reply ! from the server"));
}

TEST_F(Ctl, CheckJudgesEveryServerAndTheWorstWins)
{
    Polled(db_, 4);
    Run({"server", "rename", "127.0.0.1:12203", "Objective"});
    Run({"server", "add", "TDM", "address=10.0.0.9", "port=12204"});
    const Outcome both = Run({"check"});
    EXPECT_EQ(both.status, 2);
    const QStringList lines = both.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << both.out.toStdString();
    EXPECT_EQ(lines[0], "PALISOR CRITICAL - 2 servers: Objective OK, TDM CRITICAL | players=12;;;0;32");
    EXPECT_TRUE(lines[1].startsWith("Objective: OK - 12/32 players on obj_team2, polled ")) << lines[1].toStdString();
    EXPECT_EQ(lines[2], "TDM: CRITICAL - 10.0.0.9:12204 has never been polled");
    Verdict(Run({"check", "--server", "objective"}), 0);
    EXPECT_TRUE(Verdict(Run({"check", "--server", "FFA"}), 3).contains("no server named \"FFA\""));

    EXPECT_EQ(Lines({"server", "list"}).first(), "Objective\t127.0.0.1:12203\t30\t250\tpalisor-monitor on gamehost (process 917)");
    ExpectRefused({"server", "remove", "Objective"}, "Stop it before removing Objective");
    EXPECT_TRUE(Lines({"status", "--server", "TDM"}).contains("monitored-by=nobody"));
    ExpectRefused({"status"}, "name one with --server", 2);
}

TEST_F(Ctl, CheckIsUnknownWithoutDatabaseOrOnBadUsage)
{
    Verdict(Run({"check", "--max-age", "soon"}), 3);
    Verdict(Run({"check", "--frob"}), 3);
    QProcess ctl;
    ctl.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisorctl", {"check", "--data", db_.folder()});
    ASSERT_TRUE(ctl.waitForFinished(60000));
    EXPECT_TRUE(Verdict({ctl.exitCode(), ctl.readAllStandardOutput(), QString()}, 3).contains("holds no Palisor database"));

    // A compaction that outlasts a monitoring system's patience is said,
    // not waited out.
    CycleMark cycle(db_.dataFolder());
    ASSERT_TRUE(cycle.take());
    EXPECT_TRUE(Verdict(Run({"check"}), 3).contains("being compacted"));
}

// The engine's lock files are shared by every user of a folder: one that
// another user made and this one cannot write is named, not run into.
TEST_F(Ctl, ALockFileAnotherUserKeptToHimselfIsRefused)
{
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (::geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run palisorctl as another user";
    QTemporaryDir shared;
    const QString locks = shared.path() + "/firebird-locks";
    ASSERT_TRUE(QDir().mkdir(locks));
    ASSERT_TRUE(QFile::copy(db_.databasePath(), shared.path() + "/PALISOR.GDB"));
    QFile kept(locks + "/fb_init");
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const QString& path : {shared.path(), locks, shared.path() + "/PALISOR.GDB"})
        QFile::setPermissions(path, QFileDevice::Permissions(0x7777));

    QProcess ctl;
    ctl.start(setpriv, {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                        qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisorctl", "--data", shared.path(), "ban", "list"});
    ASSERT_TRUE(ctl.waitForFinished(60000));
    EXPECT_EQ(ctl.exitCode(), 1);
    EXPECT_EQ(ctl.readAllStandardError(),
              "palisorctl: The database engine's lock file " + QFile::encodeName(kept.fileName())
                  + " belongs to root and cannot be written by the user nobody\n");
}

}  // namespace

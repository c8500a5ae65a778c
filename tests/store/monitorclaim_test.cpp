// One monitor per game server: the claim two attachments contend for, as two
// programs on one data folder do, and the poll stored beside it.
#include "core/error.h"
#include "store/dbevents.h"
#include "store/monitorclaim.h"
#include "tests/store/storetest.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace palisor;
using palisor::test::StoreTest;

namespace {

const QString kServer = QStringLiteral("127.0.0.1:12203");
const QDateTime kStart(QDate(2026, 12, 7), QTime(21, 30, 5), Qt::UTC);

ServerState PolledAt(const QDateTime& at, const QString& error = QString())
{
    ServerState state;
    state.polled = at;
    state.pollError = error;
    return state;
}

class MonitorClaimTest : public StoreTest {
protected:
    MonitorClaimTest() : other(db.createDataModule()) {}

    MonitorClaim take(TDataPalisor& module, const MonitorIdentity& who, const QDateTime& at)
    {
        QSqlDatabase connection = module.database();
        return TakeClaim(connection, 1, who, 30, kServer, at, [this](const QString& line) { log << line; });
    }
    QString refusal(TDataPalisor& module, const MonitorIdentity& who, const QDateTime& at)
    {
        try {
            take(module, who, at);
        } catch (const Error& e) {
            return e.message();
        }
        return QStringLiteral("(taken)");
    }

    std::unique_ptr<TDataPalisor> other;
    const MonitorIdentity window{QStringLiteral("palisor"), QStringLiteral("desk"), 4242};
    const MonitorIdentity service{QStringLiteral("palisor-monitor"), QStringLiteral("gamehost"), 917};
    QStringList log;
};

TEST_F(MonitorClaimTest, ASecondMonitorIsRefusedUntilTheClaimIsStaleThenTakesItOver)
{
    take(*data, service, kStart);
    const QString refused =
        "The server 127.0.0.1:12203 is monitored by palisor-monitor on gamehost (process 917) since 2026-12-07 21:30:05 UTC.";
    // Fresh up to three scan times plus a minute after the last renewal.
    EXPECT_EQ(refusal(*other, window, kStart.addSecs(150)), refused);
    QSqlDatabase first = data->database();
    ASSERT_TRUE(StorePoll(first, 1, service, 30, PolledAt(kStart.addSecs(120))));
    EXPECT_EQ(refusal(*other, window, kStart.addSecs(270)), refused);
    // The same program on another host is another monitor.
    EXPECT_EQ(refusal(*other, MonitorIdentity{service.program, "gamehost2", 917}, kStart.addSecs(120)), refused);
    EXPECT_TRUE(log.isEmpty());

    const MonitorClaim taken = take(*other, window, kStart.addSecs(271));
    EXPECT_EQ(taken.started, kStart.addSecs(271));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains("stale claim of palisor-monitor on gamehost (process 917)")) << log[0].toStdString();
    const std::optional<MonitorClaim> now = ReadClaim(other->database(), 1);
    ASSERT_TRUE(now);
    EXPECT_TRUE(window.holds(*now));
    EXPECT_EQ(now->started, kStart.addSecs(271));

    // The old monitor learns at its next poll that it no longer holds it,
    // and neither renews nor stores anything; nor can it release it.
    EXPECT_FALSE(StorePoll(first, 1, service, 30, PolledAt(kStart.addSecs(280), QStringLiteral("late"))));
    EXPECT_FALSE(ReadServerState(first, 1)->pollError.contains("late"));
    ReleaseClaim(first, 1, service);
    EXPECT_TRUE(ReadClaim(other->database(), 1));
}

TEST_F(MonitorClaimTest, AClaimOfAnEndedProcessOnThisHostIsTakenOverAtOnce)
{
    QProcess ended;
    ended.start("true");
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    const MonitorIdentity here = MonitorIdentity::current();
    const MonitorIdentity gone{"palisor-monitor", here.host, endedPid};
    // A live process keeps its claim, whatever program it says it is.
    const MonitorIdentity alive{"palisor", here.host, here.pid};
    take(*data, alive, kStart);
    EXPECT_TRUE(IsClaimedByAnother(refusal(*other, gone, kStart.addSecs(1))));
    QSqlDatabase first = data->database();
    ReleaseClaim(first, 1, alive);

    take(*data, gone, kStart);
    take(*other, here, kStart.addSecs(1));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains("ended process's claim of palisor-monitor")) << log[0].toStdString();
}

TEST_F(MonitorClaimTest, ReleasedClaimLetsTheNextMonitorStartAndEachChangeIsAnnounced)
{
    QSignalSpy events(other.get(), &TDataPalisor::notified);
    other->Listen({"PALISOR_CLAIM", "PALISOR_POLLED"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return other->Listening(); }, 5000));
    const auto next = [&] {
        if (events.isEmpty() && !events.wait(5000))
            return QString();
        return events.takeFirst().at(0).toString();
    };

    take(*data, service, kStart);
    EXPECT_EQ(next(), "PALISOR_CLAIM");
    QSqlDatabase first = data->database();
    ASSERT_TRUE(StorePoll(first, 1, service, 30, PolledAt(kStart.addSecs(30))));
    EXPECT_EQ(next(), "PALISOR_POLLED");   // a renewal alone is no claim news
    ASSERT_TRUE(StorePoll(first, 1, service, 30, PolledAt(kStart.addSecs(60), QStringLiteral("No reply"))));
    EXPECT_EQ(next(), "PALISOR_POLLED");
    other->Resynchronise({});
    EXPECT_EQ(ReadClaim(other->database(), 1)->renewed, kStart.addSecs(60));
    EXPECT_EQ(ReadServerState(other->database(), 1)->pingMedian, -1);

    ReleaseClaim(first, 1, service);
    EXPECT_EQ(next(), "PALISOR_CLAIM");
    EXPECT_FALSE(ReadClaim(first, 1));
    take(*other, window, kStart.addSecs(61));
    EXPECT_TRUE(log.isEmpty());
}

// A running monitor hears of list and settings changes from the commit that
// makes them, again after reconnecting; its own writes at every poll (the
// players, a name's ban following the player) and a sort wake nobody.
TEST_F(MonitorClaimTest, ListAndSettingsCommitsAreHeardButNotThePollsOwnWrites)
{
    addRow(data->tblBanned, {{"NAME", "Camper"}, {"ADDRESS", "198.51.100.1"}});
    QStringList heard;
    QObject::connect(other.get(), &TDataPalisor::notified, [&](const QString& event) { heard << event; });
    other->Listen({ListsEvent, SettingsEvent, QStringLiteral("PALISOR_MARK")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return other->Listening(); }, 5000));
    const auto after = [&](const std::function<void()>& change) {
        heard.clear();
        change();
        // Committed last, so what the change posted has come by then.
        sql("EXECUTE BLOCK AS BEGIN POST_EVENT 'PALISOR_MARK'; END");
        for (QDeadlineTimer deadline(5000); !heard.contains("PALISOR_MARK") && !deadline.hasExpired();)
            QTest::qWait(10);
        if (!heard.contains("PALISOR_MARK"))
            return QStringList{"PALISOR_MARK unheard"};
        return heard.mid(0, heard.indexOf("PALISOR_MARK"));
    };

    EXPECT_EQ(after([&] {
        data->RecordPlayers({{QStringLiteral("01"), QStringLiteral("Camper"), QStringLiteral("203.0.113.9"),
                              QStringLiteral("1"), QStringLiteral("40")}}, true);
        ASSERT_TRUE(data->IsBanned("Camper", "203.0.113.9"));
        data->tblSettings->edit();
        data->tblSettings->setValue("SORTED", QStringLiteral("NAME"));
        data->tblSettings->post();
        data->tblSettings->edit();
        data->tblSettings->post();
    }), QStringList());
    EXPECT_EQ(scalar("SELECT ADDRESS FROM BANNED").toString(), "203.0.113.9");

    EXPECT_EQ(after([&] { addRow(data->tblIllegal, {{"NAME", "medic"}}); }), QStringList{ListsEvent});
    EXPECT_EQ(after([&] {
        data->tblSettings->edit();
        data->tblSettings->setValue("SCANTIME", QStringLiteral("3"));
        data->tblSettings->post();
    }), QStringList{SettingsEvent});
    other->DisconnectDatabase();
    other->ConnectDatabase();
    ASSERT_TRUE(QTest::qWaitFor([&] { return other->Listening(); }, 5000));
    EXPECT_EQ(after([&] { sql("DELETE FROM MAPALIAS"); addRow(data->tblImmune, {{"NAME", "Medic"}}); }),
              QStringList{ListsEvent});
}

}  // namespace

// One monitor per game server: the claim two attachments contend for, as two
// programs on one data folder do, and the poll stored beside it.
#include "core/error.h"
#include "store/monitorclaim.h"
#include "tests/store/storetest.h"

#include <QSignalSpy>
#include <QSqlDriver>

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
        return TakeClaim(connection, who, 30, kServer, at, [this](const QString& line) { log << line; });
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
    ASSERT_TRUE(StorePoll(first, service, 30, PolledAt(kStart.addSecs(120))));
    EXPECT_EQ(refusal(*other, window, kStart.addSecs(270)), refused);
    // The same program in another process is another monitor.
    EXPECT_EQ(refusal(*other, MonitorIdentity{service.program, service.host, 918}, kStart.addSecs(120)), refused);
    EXPECT_TRUE(log.isEmpty());

    const MonitorClaim taken = take(*other, window, kStart.addSecs(271));
    EXPECT_EQ(taken.started, kStart.addSecs(271));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains("stale claim of palisor-monitor on gamehost (process 917)")) << log[0].toStdString();
    const std::optional<MonitorClaim> now = ReadClaim(other->database());
    ASSERT_TRUE(now);
    EXPECT_TRUE(window.holds(*now));
    EXPECT_EQ(now->started, kStart.addSecs(271));

    // The old monitor learns at its next poll that it no longer holds it,
    // and neither renews nor stores anything; nor can it release it.
    EXPECT_FALSE(StorePoll(first, service, 30, PolledAt(kStart.addSecs(280), QStringLiteral("late"))));
    EXPECT_FALSE(ReadServerState(first)->pollError.contains("late"));
    ReleaseClaim(first, service);
    EXPECT_TRUE(ReadClaim(other->database()));
}

TEST_F(MonitorClaimTest, ReleasedClaimLetsTheNextMonitorStartAndEachChangeIsAnnounced)
{
    QSqlDatabase watcher = other->database();
    QSignalSpy events(watcher.driver(), qOverload<const QString&, QSqlDriver::NotificationSource, const QVariant&>(
                                            &QSqlDriver::notification));
    ASSERT_TRUE(watcher.driver()->subscribeToNotification("PALISOR_CLAIM"));
    ASSERT_TRUE(watcher.driver()->subscribeToNotification("PALISOR_POLLED"));
    const auto next = [&] {
        if (events.isEmpty() && !events.wait(5000))
            return QString();
        return events.takeFirst().at(0).toString();
    };

    take(*data, service, kStart);
    EXPECT_EQ(next(), "PALISOR_CLAIM");
    QSqlDatabase first = data->database();
    ASSERT_TRUE(StorePoll(first, service, 30, PolledAt(kStart.addSecs(30))));
    EXPECT_EQ(next(), "PALISOR_POLLED");   // a renewal alone is no claim news
    ASSERT_TRUE(StorePoll(first, service, 30, PolledAt(kStart.addSecs(60), QStringLiteral("No reply"))));
    EXPECT_EQ(next(), "PALISOR_POLLED");
    other->Resynchronise({});
    EXPECT_EQ(ReadClaim(other->database())->renewed, kStart.addSecs(60));
    EXPECT_EQ(ReadServerState(other->database())->pingMedian, -1);

    ReleaseClaim(first, service);
    EXPECT_EQ(next(), "PALISOR_CLAIM");
    EXPECT_FALSE(ReadClaim(first));
    take(*other, window, kStart.addSecs(61));
    EXPECT_TRUE(log.isEmpty());
    watcher.driver()->unsubscribeFromNotification("PALISOR_CLAIM");
    watcher.driver()->unsubscribeFromNotification("PALISOR_POLLED");
}

}  // namespace

// Palisor's programs as processes on one data folder: palisor-monitor polling
// the simulator, palisorctl beside it, and another attachment standing in for
// the window.
#include "store/sharedengine.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QThread>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <pthread.h>
#include <signal.h>

using namespace palisor;

namespace {

const QString kPlayers = QStringLiteral(R"({"players": [
    {"slot": 3, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48}],
  "variables": {"sv_hostname": "Sharing Test", "mapname": "obj/obj_team2", "sv_maxclients": 24}})");

QString Program(const char* name)
{
    return qEnvironmentVariable("PALISOR_BUILD_DIR") + QLatin1Char('/') + QLatin1String(name);
}

// The threads of a running process.
QSet<int> ThreadsOf(qint64 pid)
{
    QSet<int> threads;
    for (const QString& task : QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        threads.insert(task.toInt());
    return threads;
}

// The engine's table shared by the programs on a data folder (locks, events,
// monitoring) whose mutex one of these threads held when it was killed;
// empty when none. The engine's build here makes these mutexes without the
// robust attribute, so nothing ever frees such a one and every program that
// needs the table waits for good: a fault of the engine the programs cannot
// mend, told apart here from one of theirs.
QString TableHeldByKilled(const QString& dataFolder, const QSet<int>& killed)
{
    // Each table's file begins with a 16-byte header, then its mutex.
    constexpr qint64 MutexAt = 16;
    const QDir locks(EngineLockFolder(dataFolder));
    for (const QString& name : locks.entryList(QDir::Files)) {
        QFile table(locks.filePath(name));
        if (!table.open(QIODevice::ReadOnly) || !table.seek(MutexAt))
            continue;
        const QByteArray bytes = table.read(sizeof(pthread_mutex_t));
        if (bytes.size() != qsizetype(sizeof(pthread_mutex_t)))
            continue;
        pthread_mutex_t mutex;
        std::memcpy(&mutex, bytes.constData(), sizeof mutex);
        if (mutex.__data.__lock != 0 && killed.contains(mutex.__data.__owner))
            return QStringLiteral("%1 (thread %2)").arg(name).arg(mutex.__data.__owner);
    }
    return QString();
}

class Sharing : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "service_sharing_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    void SetUp() override
    {
        auto data = db_.createDataModule();
        data->tblSettings->edit();
        data->tblSettings->setValue("PORT", QString::number(sim_.start(kPlayers)));
        data->tblSettings->setValue("PASSWORD", QStringLiteral("secret"));
        data->tblSettings->setValue("SCANTIME", QStringLiteral("1"));
        data->tblSettings->post();
        data->DataModuleDestroy();
    }

    void TearDown() override
    {
        for (QProcess* process : {&monitor_, &window_}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    void StartMonitor()
    {
        monitor_.start(Program("palisor-monitor"), {"--data", db_.dataFolder()});
        ASSERT_TRUE(monitor_.waitForStarted());
    }

    // The polls the simulator has answered so far.
    int Polls() const { return int(sim_.commandTexts().count(QStringLiteral("status"))); }

    bool WaitForPolls(int count, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (Polls() < count && clock.elapsed() < timeoutMs && monitor_.state() == QProcess::Running)
            monitor_.waitForReadyRead(100);
        return Polls() >= count;
    }

    struct Outcome {
        int status = -1;
        QString out, err;
    };
    Outcome Ctl(const QStringList& arguments)
    {
        QProcess ctl;
        ctl.start(Program("palisorctl"), QStringList{"--data", db_.dataFolder()} + arguments);
        EXPECT_TRUE(ctl.waitForFinished(60000));
        return {ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1,
                QString::fromUtf8(ctl.readAllStandardOutput()), QString::fromUtf8(ctl.readAllStandardError())};
    }

    test::SimProcess sim_;
    test::TempDatabase db_;
    QProcess monitor_;
    QProcess window_;
};

// The plugin's one line: its state, its text, its performance data.
QString Judged(const QString& line, const char* state)
{
    static const QRegularExpression plugin(R"(^PALISOR (OK|WARNING|CRITICAL|UNKNOWN) - [^|\n]+( \| ([\w]+=[\w;.]+ ?)+)?\n$)");
    const QRegularExpressionMatch m = plugin.match(line);
    EXPECT_TRUE(m.hasMatch()) << line.toStdString();
    EXPECT_EQ(m.captured(1), QLatin1String(state)) << line.toStdString();
    return line;
}

TEST_F(Sharing, CheckIsOkWhileTheMonitorPollsAndCriticalOnceItHasStoppedForMaxAge)
{
    StartMonitor();
    // Polls well past the maximum age: each one must have been stored.
    ASSERT_TRUE(WaitForPolls(3));
    const Outcome running = Ctl({"check", "--max-age", "2"});
    EXPECT_EQ(running.status, 0) << running.err.toStdString();
    EXPECT_TRUE(Judged(running.out, "OK").startsWith("PALISOR OK - 1/24 players on obj_team2, polled "))
        << running.out.toStdString();
    EXPECT_TRUE(running.out.contains("| players=1;;;0;24 ping_median=48ms")) << running.out.toStdString();

    ::kill(static_cast<pid_t>(monitor_.processId()), SIGTERM);
    ASSERT_TRUE(monitor_.waitForFinished(30000));
    EXPECT_EQ(Ctl({"check", "--max-age", "2"}).status, 0) << "a stop is not yet a failure";
    QThread::sleep(3);
    const Outcome stopped = Ctl({"check", "--max-age", "2"});
    EXPECT_EQ(stopped.status, 2);
    EXPECT_TRUE(Judged(stopped.out, "CRITICAL").contains("max-age 2 s")) << stopped.out.toStdString();
}

// Twenty rounds, each killing one of the three programs outright at a random
// moment while the other two keep working, then starting it again. A ban
// palisorctl reported done stays, one it reported removed stays away, and the
// file is sound at the end.
TEST_F(Sharing, AnyProgramKilledOutrightLosesNoCommittedChangeAndTheOthersCarryOn)
{
    const auto startWindow = [this] {
        window_.start(Program("tests/store/store_change_helper"), {"--idle", db_.folder()});
        ASSERT_TRUE(window_.waitForReadyRead(60000));
        ASSERT_EQ(window_.readLine().trimmed(), "ready");
    };
    StartMonitor();
    startWindow();
    ASSERT_TRUE(WaitForPolls(1));

    QRandomGenerator random(20);
    QSet<QString> kept, removed;
    QProcess ctl;
    QString pending;     // the ban the running palisorctl adds or removes
    QString toRemove;    // every second ban is removed by the next command
    bool adding = true;
    int added = 0;
    const auto next = [&] {
        adding = toRemove.isEmpty();
        pending = adding ? QStringLiteral("Ban%1").arg(added++) : toRemove;
        toRemove.clear();
        ctl.start(Program("palisorctl"), {"--data", db_.dataFolder(), "ban", adding ? "add" : "remove", "--name", pending});
    };
    const auto finished = [&] {
        ctl.waitForFinished();
        EXPECT_EQ(ctl.exitStatus(), QProcess::NormalExit) << "palisorctl crashed";
        EXPECT_EQ(ctl.exitCode(), 0) << ctl.readAllStandardError().constData();
        if (ctl.exitStatus() != QProcess::NormalExit || ctl.exitCode() != 0)
            return;
        if (!adding) {
            removed.insert(pending);
        } else if (added % 2 == 0) {
            toRemove = pending;
        } else {
            kept.insert(pending);
        }
    };

    next();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const int victim = int(random.bounded(3));
        // palisorctl keeps working while the test waits.
        const auto keepWorking = [&](qint64 forMs, const std::function<bool()>& until) {
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < forMs && !until()) {
                if (ctl.waitForFinished(10)) {
                    finished();
                    next();
                }
            }
        };
        keepWorking(random.bounded(100, 1200), [] { return false; });
        const qsizetype sentAtKill = sim_.commands().size();
        QProcess& killed = victim == 0 ? monitor_ : victim == 1 ? window_ : ctl;
        // palisorctl may just have been started again for its next command.
        killed.waitForStarted();
        ASSERT_EQ(killed.state(), QProcess::Running);
        const QSet<int> threads = ThreadsOf(killed.processId());
        ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
        killed.waitForFinished();
        const QString held = TableHeldByKilled(db_.dataFolder(), threads);
        if (!held.isEmpty())
            GTEST_SKIP() << "killed inside the engine's shared table " << held.toStdString()
                         << ", which the engine never frees: every program on the folder waits for good";
        if (victim == 0) {
            // Its claim is taken over at once by the next monitor.
            StartMonitor();
            QByteArray out;
            keepWorking(20000, [&] {
                monitor_.waitForReadyRead(10);
                out += monitor_.readAll();
                return out.contains(" start ") || monitor_.state() != QProcess::Running;
            });
            ASSERT_TRUE(out.contains(" start ")) << out.constData() << monitor_.readAllStandardError().constData();
        } else {
            if (victim == 1)
                startWindow();
            else
                next();   // the one killed may or may not have committed
            // The monitor carries on: a poll's commands follow one another
            // about a second apart, and the next poll begins only once the
            // last one is stored. A lock the killed program held is cleared
            // when the engine finds its owner gone, which a loaded machine
            // may take a while to get to.
            keepWorking(60000, [&] { return sim_.commands().size() > sentAtKill || monitor_.state() != QProcess::Running; });
            ASSERT_GT(sim_.commands().size(), sentAtKill) << monitor_.readAllStandardError().constData();
        }
        ASSERT_EQ(window_.state(), QProcess::Running);
        ASSERT_EQ(monitor_.state(), QProcess::Running);
    }
    // The last monitor started stores its polls too.
    const int polls = Polls();
    ASSERT_TRUE(WaitForPolls(polls + 2));
    finished();
    ::kill(static_cast<pid_t>(monitor_.processId()), SIGTERM);
    ASSERT_TRUE(monitor_.waitForFinished(30000));
    EXPECT_EQ(monitor_.exitCode(), 0) << monitor_.readAllStandardError().constData();
    window_.kill();
    window_.waitForFinished();

    EXPECT_EQ(test::ValidateDatabase(db_.databasePath()), QString());
    QSet<QString> banned;
    const Outcome list = Ctl({"ban", "list"});
    for (const QString& line : list.out.split('\n', Qt::SkipEmptyParts))
        banned.insert(line.section('\t', 0, 0));
    EXPECT_GE(kept.size(), 10);
    EXPECT_EQ(banned & kept, kept);
    EXPECT_TRUE((banned & removed).isEmpty());
}

}  // namespace

// The database on a Firebird server against the embedded file, with the real
// programs and a private server started here:
//   - two palisor-monitors at once, one on an embedded data folder and one on
//     a folder whose database is on the server, each polling a simulated busy
//     server of its own (64 players, scan time 1 s, nobody kicked): each
//     one's CPU per poll, read from /proc, with the Firebird server's CPU per
//     poll of the second and the wall time from one poll to the next;
//   - a ban committed by another process on the server database until the
//     Banned Players list of this one (offscreen) counts it in its caption:
//     the delay from the commit's return, the median of 50. The time the
//     ban and its commit took (most of it the server writing the commit
//     to disk, which varies with the disk) is printed beside it.
// Prints every figure and fails when a target is missed.
//
//   bench_remote                  the benchmark
//   bench_remote --commit FOLDER  the committing process (used by the above)
#include "bench/support/busyserver.h"
#include "bench/support/checks.h"
#include "bench/support/programs.h"
#include "bench/support/processfigures.h"
#include "editors/formbannedplayers.h"
#include "store/datapalisor.h"
#include "tests/support/db/fbserver.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <vector>

using namespace palisor;
using bench::Program;
using bench::ProcessCpu;
using bench::ThreadsCpu;

namespace {

constexpr int Players = 64;
constexpr int WarmUpPolls = 3;
constexpr int MeasuredPolls = 8;
constexpr int WarmUpCommits = 3;
constexpr int Commits = 50;
constexpr int RoundLimitMs = 10000;

// The same clock in every process of the machine.
qint64 MonotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The Firebird server this process started: its child running that program.
qint64 ServerPid()
{
    const QString program = QFileInfo(qEnvironmentVariable("PALISOR_FIREBIRD_SERVER")).canonicalFilePath();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // After the command name, in parentheses: the state, then the parent.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() == ::getpid() &&
            QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).canonicalFilePath() == program)
            return pid;
    }
    return -1;
}

void Ctl(const QString& folder, const QStringList& arguments)
{
    QProcess ctl;
    ctl.start(Program("palisorctl"), QStringList{"--data", folder} + arguments);
    if (!ctl.waitForFinished(300000) || ctl.exitStatus() != QProcess::NormalExit || ctl.exitCode() != 0)
        qFatal("palisorctl %s failed: %s", qPrintable(arguments.join(' ')), ctl.readAllStandardError().constData());
}

// ---- the committing process ---------------------------------------------

// Bans a player for each line read, and answers with the clock before the
// ban and after its commit.
int Commit(int argc, char** argv, const QString& folder)
{
    QCoreApplication app(argc, argv);
    TDataPalisor data{DataFolder{folder}};
    data.DataModuleCreate();
    std::printf("ready\n");
    std::fflush(stdout);
    char line[64];
    for (int n = 0; std::fgets(line, sizeof line, stdin); ++n) {
        const qint64 before = MonotonicNs();
        data.BanPlayer(QStringLiteral("Latecomer %1").arg(n), QStringLiteral("10.9.%1.%2").arg(n / 256).arg(n % 256));
        const qint64 after = MonotonicNs();
        std::printf("%lld %lld\n", static_cast<long long>(before), static_cast<long long>(after));
        std::fflush(stdout);
    }
    data.DataModuleDestroy();
    return 0;
}

// ---- the benchmark ------------------------------------------------------

// One palisor-monitor's polls as it reports them, and the CPU at the first
// and the last measured one.
struct Watched {
    QProcess process;
    bool onServer = false;
    int polls = 0;
    double cpuFrom = -1, cpuTo = -1, serverFrom = -1, serverTo = -1;
    qint64 from = 0, to = 0;

    double cpuPerPoll() const { return 1000.0 * (cpuTo - cpuFrom) / MeasuredPolls; }
    double serverPerPoll() const { return 1000.0 * (serverTo - serverFrom) / MeasuredPolls; }
    double wallPerPoll() const { return double(to - from) / 1e6 / MeasuredPolls; }
};

struct Delays {
    std::vector<double> fromStart, fromCommit;   // ms
};

class Bench : public QObject {
public:
    Bench()
    {
        const QString embeddedPort = QString::number(simEmbedded_.start(bench::BusyServerScenario(Players), QStringLiteral("bench")));
        const QString remotePort = QString::number(simRemote_.start(bench::BusyServerScenario(Players), QStringLiteral("bench")));
        auto data = embedded_.createDataModule();
        data->tblSettings->edit();
        data->tblSettings->setValue("PORT", embeddedPort);
        data->tblSettings->setValue("PASSWORD", QStringLiteral("bench"));
        data->tblSettings->setValue("SCANTIME", QStringLiteral("1"));
        data->tblSettings->setValue("MAXPING", QStringLiteral("999"));
        data->tblSettings->post();
        data->DataModuleDestroy();

        const QString passwordFile = secrets_.filePath(QStringLiteral("password"));
        QFile file(passwordFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(server_.password().toUtf8() + '\n') < 0)
            qFatal("cannot write the password file");
        file.close();
        QFile::setPermissions(passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        Ctl(remote_.path(), {"database", "set", "location=" + server_.location(QStringLiteral("BENCH.FDB")),
                             "user=" + server_.user(), "--password-file", passwordFile});
        Ctl(remote_.path(), {"database", "create"});
        // The same settings and lists, its own game server.
        Ctl(remote_.path(), {"database", "import", embedded_.dataFolder()});
        Ctl(remote_.path(), {"settings", "set", "port=" + remotePort});
        serverPid_ = ServerPid();
        if (serverPid_ < 0)
            qFatal("the Firebird server's process was not found");
    }

    // Both monitors at once, so that whatever else the machine does falls on both.
    void polls(Watched& embedded, Watched& remote)
    {
        remote.onServer = true;
        embedded.process.start(Program("palisor-monitor"), {"--data", embedded_.dataFolder()});
        remote.process.start(Program("palisor-monitor"), {"--data", remote_.path()});
        for (Watched* watched : {&embedded, &remote})
            if (!watched->process.waitForStarted())
                qFatal("palisor-monitor did not start");
        QElapsedTimer clock;
        clock.start();
        while (embedded.polls < WarmUpPolls + MeasuredPolls || remote.polls < WarmUpPolls + MeasuredPolls) {
            for (Watched* watched : {&embedded, &remote}) {
                if (watched->process.state() != QProcess::Running || clock.elapsed() > 300000)
                    qFatal("palisor-monitor stopped polling: %s", watched->process.readAllStandardError().constData());
                watched->process.waitForReadyRead(10);
                while (watched->process.canReadLine())
                    if (watched->process.readLine().contains(" poll "))
                        counted(*watched);
            }
        }
        for (Watched* watched : {&embedded, &remote}) {
            watched->process.terminate();
            watched->process.waitForFinished(60000);
        }
    }

    // Commits in another process until the list shows each.
    Delays delays()
    {
        TDataPalisor data{DataFolder{remote_.path()}};
        data.DataModuleCreate();
        TformBannedPlayers window(data);
        window_ = &window;
        window.installEventFilter(this);
        committer_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        committer_.start(QCoreApplication::applicationFilePath(), {"--commit", remote_.path()});
        if (!committer_.waitForReadyRead(60000) || !committer_.readLine().startsWith("ready"))
            qFatal("the committing process did not start");
        connect(&committer_, &QProcess::readyReadStandardOutput, this, [this] {
            while (committer_.canReadLine()) {
                const QList<QByteArray> times = committer_.readLine().trimmed().split(' ');
                committedFrom_ = times.value(0).toLongLong();
                committedTo_ = times.value(1).toLongLong();
            }
            roundEnds();
        });
        QTimer listening;
        connect(&listening, &QTimer::timeout, this, [&] {
            if (data.Listening()) {
                listening.stop();
                nextRound();
            }
        });
        listening.start(10);
        roundLimit_.setSingleShot(true);
        connect(&roundLimit_, &QTimer::timeout, this, [] { qFatal("a commit did not reach the list within %d ms", RoundLimitMs); });
        window.ShowModal();
        committer_.closeWriteChannel();
        committer_.waitForFinished(60000);
        window_ = nullptr;
        data.DataModuleDestroy();
        return delays_;
    }

private:
    void counted(Watched& watched)
    {
        ++watched.polls;
        const qint64 pid = watched.process.processId();
        if (watched.polls == WarmUpPolls) {
            watched.cpuFrom = ThreadsCpu(pid);
            watched.serverFrom = watched.onServer ? ProcessCpu(serverPid_) : 0;
            watched.from = MonotonicNs();
        } else if (watched.polls == WarmUpPolls + MeasuredPolls) {
            watched.cpuTo = ThreadsCpu(pid);
            watched.serverTo = watched.onServer ? ProcessCpu(serverPid_) : 0;
            watched.to = MonotonicNs();
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::WindowTitleChange && round_ >= 0 && shownAt_ < 0) {
            shownAt_ = MonotonicNs();
            roundEnds();
        }
        return false;
    }

    void nextRound()
    {
        ++round_;
        if (round_ == WarmUpCommits + Commits) {
            window_->close();
            return;
        }
        shownAt_ = committedFrom_ = committedTo_ = -1;
        roundLimit_.start(RoundLimitMs);
        committer_.write("ban\n");
    }

    void roundEnds()
    {
        if (shownAt_ < 0 || committedFrom_ < 0)
            return;
        roundLimit_.stop();
        if (round_ >= WarmUpCommits) {
            delays_.fromStart.push_back(double(shownAt_ - committedFrom_) / 1e6);
            delays_.fromCommit.push_back(double(shownAt_ - committedTo_) / 1e6);
        }
        committedFrom_ = -1;
        // A pause, so that each commit is heard on its own.
        QTimer::singleShot(20, this, [this] { nextRound(); });
    }

    test::FirebirdServer server_;
    test::SimProcess simEmbedded_, simRemote_;
    test::TempDatabase embedded_;
    QTemporaryDir remote_, secrets_;
    qint64 serverPid_ = -1;

    QProcess committer_;
    TformBannedPlayers* window_ = nullptr;
    QTimer roundLimit_;
    int round_ = -1;
    qint64 shownAt_ = -1, committedFrom_ = -1, committedTo_ = -1;
    Delays delays_;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

int Measure(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bench::SetDefault("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    bench::SetDefault("PALISOR_BUILD_DIR", PALISOR_BENCH_BUILD_DIR);
    bench::SetDefault("PALISOR_FIREBIRD_SERVER", PALISOR_BENCH_FIREBIRD_SERVER);

    Bench bench;
    Watched embedded, remote;
    bench.polls(embedded, remote);
    const Delays delays = bench.delays();
    std::vector<double> sorted = delays.fromCommit;
    std::sort(sorted.begin(), sorted.end());

    std::printf("bench_remote: %d players, scan time 1 s, %d polls measured; %d commits\n", Players, MeasuredPolls, Commits);
    std::printf("  monitor CPU per poll: embedded %.2f ms, server database %.2f ms (the Firebird server %.2f ms more)\n",
                embedded.cpuPerPoll(), remote.cpuPerPoll(), remote.serverPerPoll());
    std::printf("  wall time from poll to poll: embedded %.0f ms, server database %.0f ms\n", embedded.wallPerPoll(),
                remote.wallPerPoll());
    std::printf("  commit in another process to the list's caption: median %.2f ms, fastest %.2f ms, slowest %.2f ms; "
                "from the start of the ban %.2f ms (median)\n",
                Median(delays.fromCommit), sorted.front(), sorted.back(), Median(delays.fromStart));

    bench::Checks checks;
    checks.atMost("monitor CPU per poll, server database / embedded",
                  embedded.cpuPerPoll() > 0 ? remote.cpuPerPoll() / embedded.cpuPerPoll() : -1, 1.5, "x");
    checks.atMost("ban committed elsewhere to the list window, median", Median(delays.fromCommit), 20, "ms");
    return checks.exitCode("bench_remote");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--commit") == 0)
        return Commit(argc, argv, QString::fromLocal8Bit(argv[2]));
    return Measure(argc, argv);
}

// Palisor's programs sharing one data folder, as an administrator uses them:
// a real palisor-monitor polls the simulated busy server (64 players, scan
// time 1 s, nobody kicked) while
//   - palisorctl bans an address beside it: wall time from its start to its
//     exit, the median of several runs;
//   - a window-like program (an attachment that re-reads the players at every
//     poll the monitor stores and lets go for a maintenance cycle) and
//     palisorctl status runs are attached: the monitor's CPU per poll, read
//     from /proc, against the same monitor alone, in alternating stretches.
// Prints every figure and fails when a target is missed.
//
//   bench_shared                 the benchmark
//   bench_shared --attach DIR    the window-like program (used by the above)
#include "bench/support/busyserver.h"
#include "bench/support/checks.h"
#include "bench/support/programs.h"
#include "bench/support/processfigures.h"
#include "store/datapalisor.h"
#include "store/letgo.h"
#include "store/monitorclaim.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace palisor;
using bench::Program;
using bench::ProcessCpu;
using bench::ThreadsCpu;

namespace {

constexpr int Players = 64;
constexpr int CtlRuns = 15;
constexpr int PollsPerStretch = 5;
constexpr int Stretches = 2;
constexpr int StatusEveryMs = 500;

// ---- the window-like program --------------------------------------------

int Attach(int argc, char** argv, const QString& folder)
{
    QCoreApplication app(argc, argv);
    TDataPalisor data(folder);
    data.OpenAttachment();
    QObject::connect(&data, &TDataPalisor::notified, [&data](const QString& name) {
        if (name != QLatin1String("PALISOR_POLLED") || !data.isConnected())
            return;
        data.Resynchronise({data.tblPlayers});
        ReadServerState(data.database(), data.ServerId());
    });
    data.Listen({QStringLiteral("PALISOR_POLLED")});
    LetGoWatch watch(data, [&] { data.Resynchronise({data.tblPlayers}); });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

// ---- the benchmark ------------------------------------------------------

struct PollCpu {
    double ticks = -1;     // ms per poll from ProcessCpu
    double precise = -1;   // ms per poll from ThreadsCpu
};

class Bench {
public:
    Bench()
    {
        const quint16 port = sim_.start(bench::BusyServerScenario(Players), QStringLiteral("bench"));
        auto data = db_.createDataModule();
        data->tblSettings->edit();
        data->tblSettings->setValue("PORT", QString::number(port));
        data->tblSettings->setValue("PASSWORD", QStringLiteral("bench"));
        data->tblSettings->setValue("SCANTIME", QStringLiteral("1"));
        data->tblSettings->setValue("MAXPING", QStringLiteral("999"));
        data->tblSettings->post();
        data->DataModuleDestroy();
        monitor_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        monitor_.start(Program("palisor-monitor"), {"--data", db_.dataFolder()});
        if (!monitor_.waitForStarted())
            qFatal("palisor-monitor did not start");
        // The first polls build what the rules need.
        waitForPolls(3, [] {});
    }

    ~Bench()
    {
        monitor_.terminate();
        monitor_.waitForFinished(30000);
    }

    // Wall milliseconds of each `palisorctl ban add` from its start to its exit.
    std::vector<double> banAdds()
    {
        std::vector<double> times;
        for (int run = 0; run < CtlRuns + 2; ++run) {
            QElapsedTimer clock;
            clock.start();
            QProcess ctl;
            ctl.start(Program("palisorctl"), {"--data", db_.dataFolder(), "ban", "add", "--address",
                                              QStringLiteral("10.0.%1.1").arg(run), "--reason", "bench"});
            if (!ctl.waitForFinished(60000) || ctl.exitStatus() != QProcess::NormalExit || ctl.exitCode() != 0)
                qFatal("palisorctl ban add failed: %s", ctl.readAllStandardError().constData());
            // The first two start the engine's files cold.
            if (run >= 2)
                times.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        return times;
    }

    // The monitor's CPU milliseconds per poll over a stretch, alone or with
    // the window-like program and palisorctl status runs attached.
    PollCpu stretch(bool shared)
    {
        QProcess window;
        QProcess ctl;
        QElapsedTimer sinceStatus;
        if (shared) {
            window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            window.start(QCoreApplication::applicationFilePath(), {"--attach", db_.folder()});
            if (!window.waitForReadyRead(30000) || !window.readLine().startsWith("ready"))
                qFatal("the window-like program did not attach");
        }
        const auto alongside = [&] {
            if (!shared || ctl.state() != QProcess::NotRunning)
                return;
            if (ctl.exitStatus() == QProcess::CrashExit || ctl.exitCode() != 0)
                qFatal("palisorctl status failed");
            if (sinceStatus.isValid() && sinceStatus.elapsed() < StatusEveryMs)
                return;
            sinceStatus.start();
            ctl.start(Program("palisorctl"), {"--data", db_.dataFolder(), "status"});
            ctl.waitForStarted();
        };
        // From the end of one poll to the end of another.
        waitForPolls(1, alongside);
        const qint64 pid = monitor_.processId();
        const double before = ProcessCpu(pid);
        const double preciseBefore = ThreadsCpu(pid);
        waitForPolls(PollsPerStretch, alongside);
        const double after = ProcessCpu(pid);
        const double preciseAfter = ThreadsCpu(pid);
        if (shared) {
            ctl.waitForFinished(60000);
            window.kill();
            window.waitForFinished();
        }
        if (before < 0 || after < 0)
            return {};
        return {1000.0 * (after - before) / PollsPerStretch, 1000.0 * (preciseAfter - preciseBefore) / PollsPerStretch};
    }

private:
    // Reads the monitor's events until `count` more polls have ended.
    template <typename Meanwhile>
    void waitForPolls(int count, Meanwhile meanwhile)
    {
        QElapsedTimer clock;
        clock.start();
        while (count > 0) {
            meanwhile();
            if (monitor_.state() != QProcess::Running || clock.elapsed() > 120000)
                qFatal("palisor-monitor stopped polling");
            monitor_.waitForReadyRead(20);
            while (monitor_.canReadLine())
                count -= monitor_.readLine().contains(" poll ") ? 1 : 0;
        }
    }

    test::SimProcess sim_;
    test::TempDatabase db_;
    QProcess monitor_;
};

bench::Checks checks;

int Measure(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Each stretch is printed as it ends: a poll takes seconds.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bench::SetDefault("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    bench::SetDefault("PALISOR_BUILD_DIR", PALISOR_BENCH_BUILD_DIR);

    Bench bench;
    std::vector<double> bans = bench.banAdds();
    std::sort(bans.begin(), bans.end());
    const double median = bans[bans.size() / 2];

    // Alternating stretches, so that what else the machine does falls on both.
    PollCpu alone{0, 0};
    PollCpu shared{0, 0};
    for (int i = 0; i < Stretches; ++i) {
        const PollCpu a = bench.stretch(false);
        const PollCpu s = bench.stretch(true);
        std::printf("  stretch %d: CPU per poll alone %.2f ms (ticks %.1f), shared %.2f ms (ticks %.1f)\n", i + 1,
                    a.precise, a.ticks, s.precise, s.ticks);
        alone.precise += a.precise / Stretches;
        alone.ticks += a.ticks / Stretches;
        shared.precise += s.precise / Stretches;
        shared.ticks += s.ticks / Stretches;
    }

    std::printf("bench_shared: %d players, scan time 1 s, %d polls per stretch, CPU from /proc\n", Players,
                PollsPerStretch);
    std::printf("  palisorctl ban add beside the monitor: median %.1f ms, fastest %.1f ms, slowest %.1f ms (%d runs)\n",
                median, bans.front(), bans.back(), int(bans.size()));
    std::printf("  monitor CPU per poll: alone %.2f ms (ticks %.1f), with a window-like attachment and palisorctl "
                "%.2f ms (ticks %.1f)\n",
                alone.precise, alone.ticks, shared.precise, shared.ticks);
    checks.atMost("palisorctl ban add, start to exit, median", median, 150, "ms");
    checks.atMost("monitor CPU per poll, shared / alone", alone.precise > 0 ? shared.precise / alone.precise : -1, 1.1, "x");
    return checks.exitCode("bench_shared");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--attach") == 0)
        return Attach(argc, argv, QString::fromLocal8Bit(argv[2]));
    return Measure(argc, argv);
}

// One palisor-monitor on eight simulated busy servers (64 players each, scan
// time 5 s, nobody kicked), one database, against another run beside it on
// one such server in a database of its own: the CPU per server-poll of each,
// read from /proc, and their resident memory once every server has polled.
// The two run at once, so the hundred polls of each server take a quarter of
// an hour, not half an hour; together they keep a fraction of one core busy.
// Prints every figure and fails when a target is missed.
//
//   bench_servers [POLLS]    POLLS measured polls of each server (default 100)
#include "bench/support/busyserver.h"
#include "bench/support/checks.h"
#include "bench/support/programs.h"
#include "bench/support/processfigures.h"
#include "store/datapalisor.h"
#include "store/servers.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <vector>

using namespace palisor;
using bench::Program;
using bench::ResidentMb;
using bench::ThreadsCpu;

namespace {

constexpr int Servers = 8;
constexpr int Players = 64;
constexpr int WarmUpPolls = 2;

// A palisor-monitor on some of the servers, its poll lines counted as they
// come.
class Monitor {
public:
    Monitor(const QString& dataFolder, const QStringList& arguments, int servers) : servers_(servers)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(Program("palisor-monitor"), QStringList{"--data", dataFolder} + arguments);
        if (!process_.waitForStarted())
            qFatal("palisor-monitor did not start");
    }
    ~Monitor()
    {
        process_.terminate();
        process_.waitForFinished(60000);
    }

    // Polls of each server so far, after waiting up to 50 ms for output.
    int polls()
    {
        process_.waitForReadyRead(50);
        while (process_.canReadLine())
            if (process_.readLine().contains(" poll "))
                ++lines_;
        return lines_ / servers_;
    }
    bool running() const { return process_.state() == QProcess::Running; }
    void mark()
    {
        cpuBefore_ = ThreadsCpu(process_.processId());
        pollsBefore_ = lines_;
    }
    // ms per server-poll since mark().
    double cpuPerPoll() const
    {
        return 1000.0 * (ThreadsCpu(process_.processId()) - cpuBefore_) / std::max(1, lines_ - pollsBefore_);
    }
    double residentMb() const { return ResidentMb(process_.processId()); }

private:
    QProcess process_;
    const int servers_;
    int lines_ = 0;
    int pollsBefore_ = 0;
    double cpuBefore_ = 0;
};

// A database of `servers` servers, each answered by its own simulator.
class Rig {
public:
    explicit Rig(int servers)
    {
        auto data = db_.createDataModule();
        QSqlDatabase connection = data->database();
        for (int server = 0; server < servers; ++server) {
            sims_.push_back(std::make_unique<test::SimProcess>());
            const QString port = QString::number(sims_.back()->start(bench::BusyServerScenario(Players), QStringLiteral("bench")));
            const QString name = QStringLiteral("Server %1").arg(server + 1);
            const int id = server == 0 ? data->ServerId() : AddServer(connection, name, QStringLiteral("127.0.0.1"), port);
            if (server == 0)
                RenameServer(connection, id, name);
            data->SetServer(id);
            data->tblSettings->edit();
            data->tblSettings->setValue("PORT", port);
            data->tblSettings->setValue("PASSWORD", QStringLiteral("bench"));
            data->tblSettings->setValue("SCANTIME", QStringLiteral("5"));
            data->tblSettings->setValue("MAXPING", QStringLiteral("999"));
            data->tblSettings->post();
        }
        data->DataModuleDestroy();
    }
    QString dataFolder() const { return db_.dataFolder(); }

private:
    std::vector<std::unique_ptr<test::SimProcess>> sims_;
    test::TempDatabase db_;
};

// Waits until every monitor has polled each of its servers `count` times.
void AwaitPolls(std::initializer_list<Monitor*> monitors, int count)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        bool done = true;
        for (Monitor* monitor : monitors) {
            if (!monitor->running())
                qFatal("palisor-monitor ended");
            done = monitor->polls() >= count && done;
        }
        if (done)
            return;
        if (clock.elapsed() > 60000LL * (count + 1))
            qFatal("palisor-monitor stopped polling");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bench::SetDefault("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    bench::SetDefault("PALISOR_BUILD_DIR", PALISOR_BENCH_BUILD_DIR);
    const int polls = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100;

    Rig eight(Servers), one(1);
    Monitor all(eight.dataFolder(), {}, Servers);
    Monitor alone(one.dataFolder(), {}, 1);
    AwaitPolls({&all, &alone}, WarmUpPolls);
    all.mark();
    alone.mark();
    AwaitPolls({&all, &alone}, WarmUpPolls + polls);
    const double allCpu = all.cpuPerPoll(), aloneCpu = alone.cpuPerPoll();
    const double allMb = all.residentMb(), aloneMb = alone.residentMb();
    std::printf("bench_servers: %d servers of %d players, scan time 5 s, %d polls of each measured\n", Servers, Players,
                polls);
    std::printf("  CPU per server-poll: one server %.2f ms, %d servers %.2f ms\n", aloneCpu, Servers, allCpu);
    std::printf("  resident memory: one server %.1f MB, %d servers %.1f MB\n", aloneMb, Servers, allMb);

    bench::Checks checks;
    checks.atMost("CPU per server-poll, 8 servers / one", aloneCpu > 0 ? allCpu / aloneCpu : -1, 1.2, "x");
    checks.atMost("memory per server added", aloneMb > 0 && allMb > 0 ? (allMb - aloneMb) / (Servers - 1) : -1, 4, "MB");
    return checks.exitCode("bench_servers");
}

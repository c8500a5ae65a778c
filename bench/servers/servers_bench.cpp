// One palisor-monitor on eight simulated busy servers (64 players each, scan
// time 5 s, nobody kicked), one database, against the same program run on
// one of them alone: its CPU per server-poll, read from /proc, and its
// resident memory once every server has polled. Prints every figure and
// fails when a target is missed.
//
//   bench_servers [POLLS]    POLLS measured polls of each server (default 12)
#include "bench/support/busyserver.h"
#include "bench/support/checks.h"
#include "bench/support/programs.h"
#include "bench/support/processfigures.h"
#include "store/datapalisor.h"
#include "store/servers.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <memory>
#include <vector>

using namespace palisor;
using bench::ResidentMb;
using bench::ThreadsCpu;

namespace {

constexpr int Servers = 8;
constexpr int Players = 64;
constexpr int WarmUpPolls = 2;

struct Run {
    double cpuPerPoll = -1;   // ms per server-poll
    double residentMb = -1;
};

class Bench {
public:
    Bench()
    {
        auto data = db_.createDataModule();
        QSqlDatabase connection = data->database();
        for (int server = 0; server < Servers; ++server) {
            sims_.push_back(std::make_unique<test::SimProcess>());
            const QString port = QString::number(sims_.back()->start(bench::BusyServerScenario(Players), QStringLiteral("bench")));
            const int id = server == 0 ? data->ServerId()
                                       : AddServer(connection, QStringLiteral("Server %1").arg(server + 1),
                                                   QStringLiteral("127.0.0.1"), port);
            if (server == 0)
                RenameServer(connection, id, QStringLiteral("Server 1"));
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

    // palisor-monitor on the servers the arguments choose, `servers` of them,
    // through `polls` polls of each after the first ones.
    Run measure(const QStringList& arguments, int servers, int polls)
    {
        QProcess monitor;
        monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        monitor.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + QStringLiteral("/palisor-monitor"),
                      QStringList{"--data", db_.dataFolder()} + arguments);
        if (!monitor.waitForStarted())
            qFatal("palisor-monitor did not start");
        waitForPolls(monitor, WarmUpPolls * servers);
        const qint64 pid = monitor.processId();
        const double before = ThreadsCpu(pid);
        waitForPolls(monitor, polls * servers);
        Run run;
        run.cpuPerPoll = 1000.0 * (ThreadsCpu(pid) - before) / (polls * servers);
        run.residentMb = ResidentMb(pid);
        monitor.terminate();
        monitor.waitForFinished(60000);
        return run;
    }

private:
    static void waitForPolls(QProcess& monitor, int count)
    {
        QElapsedTimer clock;
        clock.start();
        while (count > 0) {
            if (monitor.state() != QProcess::Running || clock.elapsed() > 60000)
                qFatal("palisor-monitor stopped polling for a minute");
            monitor.waitForReadyRead(100);
            while (monitor.canReadLine()) {
                if (monitor.readLine().contains(" poll ")) {
                    --count;
                    clock.restart();
                }
            }
        }
    }

    std::vector<std::unique_ptr<test::SimProcess>> sims_;
    test::TempDatabase db_;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bench::SetDefault("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    bench::SetDefault("PALISOR_BUILD_DIR", PALISOR_BENCH_BUILD_DIR);
    const int polls = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 12;

    Bench bench;
    const Run alone = bench.measure({"--server", "Server 1"}, 1, polls);
    const Run all = bench.measure({}, Servers, polls);
    std::printf("bench_servers: %d servers of %d players, scan time 5 s, %d polls of each measured\n", Servers, Players,
                polls);
    std::printf("  CPU per server-poll: one server %.2f ms, %d servers %.2f ms\n", alone.cpuPerPoll, Servers,
                all.cpuPerPoll);
    std::printf("  resident memory: one server %.1f MB, %d servers %.1f MB\n", alone.residentMb, Servers, all.residentMb);

    bench::Checks checks;
    checks.atMost("CPU per server-poll, 8 servers / one", alone.cpuPerPoll > 0 ? all.cpuPerPoll / alone.cpuPerPoll : -1,
                  1.2, "x");
    checks.atMost("memory per server added",
                  alone.residentMb > 0 && all.residentMb > 0 ? (all.residentMb - alone.residentMb) / (Servers - 1) : -1,
                  4, "MB");
    return checks.exitCode("bench_servers");
}

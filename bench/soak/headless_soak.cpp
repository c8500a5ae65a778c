// palisor-monitor's part of the soak: the headless front end, as
// palisor-monitor runs it (the start-up attachment closed, events written),
// against the same simulator and lists as the window's soak, with the pauses
// cut short. No widget code is linked, so its memory is the headless
// program's. Fails when the peak private memory grew by more than 5 % or a
// descriptor leaked.
//
//   palisor-soak-headless [POLLS]        (default 10000)
#include "bench/soak/churn.h"
#include "core/timing.h"
#include "monitor/monitorthread.h"
#include "rcon/rcon.h"
#include "service/eventwriter.h"
#include "service/headless.h"
#include "store/datapalisor.h"
#include "tests/support/monitor/settle.h"

#include <QCoreApplication>

#include <cstdio>

using namespace palisor;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int polls = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;

    soak::Ground ground;
    TDataPalisor& data = *ground.data;
    data.DisconnectDatabase();

    TRcon rcon;
    rcon.ExchangePause = 1;
    setPauseFunction([](int) {});
    std::FILE* sink = std::fopen("/dev/null", "w");
    EventWriter events(MonitorOptions::LogFormat::Json, sink);
    int result = 1;
    {
        HeadlessMonitor monitor(data, data.ServerId(), QStringLiteral("soak"), rcon, events);
        monitor.Start();   // the monitor's first poll
        test::Settle(monitor.Monitor());
        result = soak::Soak(monitor.Monitor(), polls, [] {});
    }
    std::fclose(sink);
    std::printf("%lld console commands\n%s\n", static_cast<long long>(ground.sim.commands().size()),
                result == 0 ? "soak passed" : "soak FAILED");
    return result;
}

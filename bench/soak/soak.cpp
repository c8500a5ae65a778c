// The main window's monitor against the game-server simulator for many polls
// (64 players coming and going, rules firing, ban requests, announcements
// on), with the pauses cut short; the engine's own timer adds polls of its
// own between those the soak asks for. Reports the resident set, the private
// memory and the open file descriptors after a warm-up and at the end, and
// fails when the peak private memory grew by more than 5 % or a descriptor
// leaked.
//
//   palisor-soak [POLLS]        (default 10000)
#include "bench/soak/churn.h"
#include "core/timing.h"
#include "window/formpalisor.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"
#include "tests/support/monitor/settle.h"

#include <QApplication>
#include <QMap>
#include <QPushButton>

#include <cstdio>

using namespace palisor;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int polls = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;

    soak::Ground ground;
    TDataPalisor& data = *ground.data;

    TRcon rcon;
    rcon.ExchangePause = 1;
    setPauseFunction([](int) {});
    TformPalisor window(data, rcon, nullptr);
    window.show();

    window.btnStart->click();   // the monitor's first poll
    test::Settle(window.Monitor());
    QMap<QString, int> outcomes;
    const int result = soak::Soak(window.Monitor(), polls,
                                  [&] { ++outcomes[window.StatusText().left(48).trimmed()]; });
    std::printf("%lld console commands; status bar after the polls:\n", static_cast<long long>(ground.sim.commands().size()));
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        std::printf("  %6d  \"%s\"\n", it.value(), it.key().toLatin1().constData());
    window.btnStart->click();
    std::printf("%s\n", result == 0 ? "soak passed" : "soak FAILED");
    return result;
}

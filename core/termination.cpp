#include "core/termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace palisor {
namespace {

int wakeUp[2] = {-1, -1};
volatile std::sig_atomic_t requested = 0;

void onTerminationSignal(int signalNumber)
{
    if (requested) {
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    requested = 1;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeUp[1], &byte, 1);
}

}  // namespace

void QuitOnTerminationSignals()
{
    if (wakeUp[0] < 0) {
        if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        auto* notifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
            char byte = 0;
            while (::read(wakeUp[0], &byte, 1) > 0) {
            }
            QCoreApplication::exit(0);
        });
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace palisor

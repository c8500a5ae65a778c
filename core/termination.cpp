#include "core/termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace palisor {
namespace {

// The handlers only pass the signal's number through this pipe; the message
// loop acts on it.
int wakeUp[2] = {-1, -1};
volatile std::sig_atomic_t terminating = 0;
volatile std::sig_atomic_t hangUpQuits = 0;
int ended = 0;
std::function<void()> onHangUp;

void onSignal(int signalNumber)
{
    if (signalNumber != SIGHUP || hangUpQuits) {
        if (terminating) {
            std::signal(signalNumber, SIG_DFL);
            std::raise(signalNumber);
            return;
        }
        terminating = 1;
    }
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const auto written = ::write(wakeUp[1], &byte, 1);
}

bool listen()
{
    if (wakeUp[0] >= 0)
        return true;
    if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto* notifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte = 0;
        while (::read(wakeUp[0], &byte, 1) > 0) {
            if (byte == SIGHUP && !hangUpQuits) {
                if (onHangUp)
                    onHangUp();
            } else {
                ended = byte;
                QCoreApplication::exit(0);
            }
        }
    });
    return true;
}

void handle(int signalNumber)
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void QuitOnTerminationSignals()
{
    if (!listen())
        return;
    handle(SIGTERM);
    handle(SIGINT);
}

void QuitOnHangUp()
{
    if (!listen())
        return;
    hangUpQuits = 1;
    handle(SIGHUP);
}

int TerminationSignal() { return ended; }

void ReloadOnHangUp(std::function<void()> reload)
{
    if (!listen())
        return;
    onHangUp = std::move(reload);
    handle(SIGHUP);
}

}  // namespace palisor

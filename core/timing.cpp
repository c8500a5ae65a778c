#include "core/timing.h"

#include <QThread>

namespace palisor {
namespace {
PauseFunction pauseFunction;
ClockFunction clockFunction;
}  // namespace

void pause(int milliseconds)
{
    if (pauseFunction)
        pauseFunction(milliseconds);
    else if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

QDateTime now() { return clockFunction ? clockFunction() : QDateTime::currentDateTime(); }

void setPauseFunction(PauseFunction f) { pauseFunction = std::move(f); }
void setClockFunction(ClockFunction f) { clockFunction = std::move(f); }

}  // namespace palisor

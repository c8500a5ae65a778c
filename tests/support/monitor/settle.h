// Waiting for the monitor engine in tests of the window.
#pragma once

#include "monitor/monitorthread.h"

#include <QEventLoop>

namespace palisor::test {

// Handles the window's events until the engine has done every request made
// so far and the window has handled everything it reported on the way.
inline void Settle(MonitorThread& monitor)
{
    QEventLoop loop;
    monitor.post([&loop](MonitorEngine&) { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
    loop.exec();
}

// One tick of the engine's StatusTimer, as the timer would run it.
inline void Tick(MonitorThread& monitor)
{
    monitor.post([](MonitorEngine& engine) { engine.StatusTimerTimer(); });
    Settle(monitor);
}

}  // namespace palisor::test

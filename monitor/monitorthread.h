#pragma once

#include "monitor/engine.h"

#include <QThread>
#include <functional>

namespace palisor {

// The monitor engine on a thread of its own. Requests are queued to the
// engine in the order they are made and run there one at a time; the
// engine's signals reach receivers on other threads queued as well. The
// engine opens its own database attachment as its first request.
//
//   MonitorThread monitor(data.Maker(), Rcon);
//   connect(&monitor.engine(), &MonitorEngine::statusShown, ...);
//   monitor.post([](MonitorEngine& e) { e.Start(); });
class MonitorThread {
public:
    MonitorThread(std::function<std::unique_ptr<TDataPalisor>()> makeData, TRcon& rcon);
    // Ends the engine after the exchange in progress (at most that
    // exchange's own wait and pause) and the administrator's requests still
    // queued, closes its attachment and joins.
    ~MonitorThread();
    MonitorThread(const MonitorThread&) = delete;
    MonitorThread& operator=(const MonitorThread&) = delete;

    // For connecting to its signals and for its thread-safe calls only.
    MonitorEngine& engine() { return *engine_; }

    void post(std::function<void(MonitorEngine&)> request);
    // Stop: the poll in progress ends after its current exchange.
    void Stop();
    // The program is ending: polls and announcements end after the current
    // exchange (see MonitorEngine::InterruptAll).
    void Exit();

private:
    QThread thread_;
    MonitorEngine* engine_;
};

}  // namespace palisor

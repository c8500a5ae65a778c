#pragma once

#include "sim/console.h"

namespace palisor::sim {

// The scenario's changes over time. Events keyed by status count happen once,
// right after that many status replies; events keyed by seconds happen when a
// request arrives at or after that time, and again every loop period when the
// scenario loops. Events that become due together happen in file order.
class Timeline {
public:
    Timeline(const QList<TimelineEvent>& events, double loopSeconds);

    void afterStatus(int statusCount, ServerState& state, Console& console);
    void atTime(qint64 elapsedMs, ServerState& state, Console& console);

private:
    struct Entry {
        TimelineEvent event;
        qint64 doneCycle = -1;  // the last period in which the event happened
    };
    QList<Entry> entries_;
    double loopSeconds_;
};

void applyEvent(const TimelineEvent& event, ServerState& state, Console& console);

}  // namespace palisor::sim

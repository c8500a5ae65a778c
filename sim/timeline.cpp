#include "sim/timeline.h"

#include <cmath>

namespace palisor::sim {

Timeline::Timeline(const QList<TimelineEvent>& events, double loopSeconds)
    : loopSeconds_(loopSeconds)
{
    for (const TimelineEvent& e : events)
        entries_.append(Entry{e});
}

void Timeline::afterStatus(int statusCount, ServerState& state, Console& console)
{
    for (Entry& entry : entries_) {
        if (entry.event.trigger != TimelineEvent::Trigger::StatusCount || entry.doneCycle >= 0
            || statusCount < entry.event.at)
            continue;
        entry.doneCycle = 0;
        applyEvent(entry.event, state, console);
    }
}

void Timeline::atTime(qint64 elapsedMs, ServerState& state, Console& console)
{
    const double seconds = elapsedMs / 1000.0;
    for (Entry& entry : entries_) {
        if (entry.event.trigger != TimelineEvent::Trigger::Seconds || seconds < entry.event.at)
            continue;
        // A request after a long quiet spell replays a looping event once, not
        // once for every period it slept through.
        const qint64 cycle = loopSeconds_ > 0
                                 ? static_cast<qint64>(std::floor((seconds - entry.event.at) / loopSeconds_))
                                 : 0;
        if (cycle <= entry.doneCycle)
            continue;
        entry.doneCycle = cycle;
        applyEvent(entry.event, state, console);
    }
}

void applyEvent(const TimelineEvent& event, ServerState& state, Console& console)
{
    for (int slot : event.leave)
        state.leave(slot);
    for (const SimPlayer& p : event.join)
        state.join(p);
    for (const PingSetting& s : event.ping) {
        if (SimPlayer* p = state.player(s.slot)) {
            p->state = s.state;
            p->ping = s.ping;
        }
    }
    for (const auto& [slot, score] : event.score)
        if (SimPlayer* p = state.player(slot))
            p->score = score;
    for (const VariableSetting& s : event.set)
        state.apply(s);
    if (!event.command.isEmpty())
        console.executeScript(event.command);
}

}  // namespace palisor::sim

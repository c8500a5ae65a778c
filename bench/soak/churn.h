// The soak's workload, shared by the window's soak and the headless one: a
// server of 64 churning players, the administrator's lists, and the loop that
// polls and watches memory and file descriptors.
#pragma once

#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QString>

#include <functional>
#include <memory>

namespace palisor {
class MonitorThread;
class TDataPalisor;
}

namespace palisor::soak {

// The simulator's scenario: 64 slots, 96 players coming and going, pings
// moving, the map rotating, a ban request now and then.
QString Scenario();

// The lists of a server that has run for a while; the settings point at the
// simulator on port, with a scan time of one second and announcements on.
void FillLists(TDataPalisor& data, quint16 port);

// What both soaks stand on, made after the application object: the
// simulator running Scenario() and a database holding FillLists(), with the
// build folder's schema and simulator unless the environment names others.
class Ground {
    // Made first: the members below read the environment it sets.
    struct BuildFolder {
        BuildFolder();
    } buildFolder_;

public:
    Ground();
    ~Ground();

    test::SimProcess sim;
    test::TempDatabase db;
    std::unique_ptr<TDataPalisor> data;
};

// The resident set counts the pages of the database engine, Qt, ICU and the
// C++ runtime that every process using the database maps alike; the private
// part (RssAnon) is what the program adds itself.
struct Usage {
    qint64 peakKb = 0;         // VmHWM: the largest resident set so far
    qint64 residentKb = 0;     // VmRSS
    qint64 privateKb = 0;      // RssAnon
    qint64 peakPrivateKb = 0;  // the largest RssAnon sampled so far
    int descriptors = 0;
};
Usage Measure();

// Runs `polls` ticks at the scan time (a poll and the size check each) on a
// started monitor, an announcement every 25, with afterPoll after each,
// sampling the private memory after every poll. Reports memory after a
// warm-up and at the end; 0 when the peak private memory grew by at most 5 %
// and no descriptor leaked, else 1.
int Soak(MonitorThread& monitor, int polls, const std::function<void()>& afterPoll);

}  // namespace palisor::soak

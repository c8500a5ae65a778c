#pragma once

#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace palisor {

// The servers' engines of one program share its data folder, and the
// maintenance cycle of one needs every other to have let go of the file. An
// engine in the middle of a poll hears the request only when the poll has
// ended, which with kicks takes longer than the cycle waits for others to
// let go; polls beginning meanwhile would find the file away and fail. So a
// cycle closes its folder's gate: no engine of the program on that folder
// begins a poll until it has ended, and it waits for the polls under way to
// end before asking anyone to let go.
class PollGate {
public:
    // The gate of the program's engines on one data folder.
    static PollGate& of(const QString& dataFolder);

    // A poll may begin: false while a cycle has the gate (the poll is left
    // out; the next one comes a scan time later).
    bool enter();
    void leave();

    // Closed once every poll under way has ended: false, and open again,
    // when stopWaiting says so first or maxMs have passed.
    bool close(const std::function<bool()>& stopWaiting, int maxMs);
    void open();

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    int polls_ = 0;
    bool closed_ = false;
};

}  // namespace palisor

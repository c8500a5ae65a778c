#include "monitor/pollgate.h"

#include <QDir>

#include <chrono>
#include <map>
#include <memory>

namespace palisor {

PollGate& PollGate::of(const QString& dataFolder)
{
    static std::mutex mutex;
    static std::map<QString, std::unique_ptr<PollGate>> gates;
    const std::lock_guard lock(mutex);
    std::unique_ptr<PollGate>& gate = gates[QDir::cleanPath(QDir(dataFolder).absolutePath())];
    if (!gate)
        gate = std::make_unique<PollGate>();
    return *gate;
}

bool PollGate::enter()
{
    const std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    ++polls_;
    return true;
}

void PollGate::leave()
{
    {
        const std::lock_guard lock(mutex_);
        --polls_;
    }
    ended_.notify_all();
}

bool PollGate::close(const std::function<bool()>& stopWaiting, int maxMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(maxMs);
    std::unique_lock lock(mutex_);
    // Closed from the start: a poll that ends is not followed by another
    // while the others finish theirs.
    closed_ = true;
    while (polls_ > 0) {
        if (Clock::now() >= deadline || stopWaiting()) {
            closed_ = false;
            return false;
        }
        ended_.wait_for(lock, std::chrono::milliseconds(100));
    }
    return true;
}

void PollGate::open()
{
    const std::lock_guard lock(mutex_);
    closed_ = false;
}

}  // namespace palisor

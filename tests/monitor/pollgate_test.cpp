#include "monitor/pollgate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace palisor;
using namespace std::chrono_literals;

// One server's cycle waits for another's poll under way, and no poll begins
// until the cycle is over; a poll that never ends leaves the gate open.
TEST(PollGate, ACycleWaitsForThePollUnderWayAndHoldsBackNewOnes)
{
    PollGate gate;
    ASSERT_TRUE(gate.enter());
    std::atomic<bool> ended{false};
    std::thread poll([&] {
        std::this_thread::sleep_for(300ms);
        ended = true;
        gate.leave();
    });
    EXPECT_TRUE(gate.close([] { return false; }, 10000));
    EXPECT_TRUE(ended);
    poll.join();
    EXPECT_FALSE(gate.enter());
    gate.open();
    ASSERT_TRUE(gate.enter());

    EXPECT_FALSE(gate.close([] { return false; }, 200));
    EXPECT_TRUE(gate.enter());
    int asked = 0;
    EXPECT_FALSE(gate.close([&] { return ++asked > 1; }, 10000));
    gate.leave();
    gate.leave();
    EXPECT_TRUE(gate.close([] { return false; }, 0));

    // One gate per data folder: another folder's cycle holds back no poll.
    PollGate& folder = PollGate::of("/srv/palisor/one");
    EXPECT_EQ(&folder, &PollGate::of("/srv/palisor/./one/"));
    ASSERT_TRUE(folder.close([] { return false; }, 0));
    PollGate& other = PollGate::of("/srv/palisor/two");
    EXPECT_TRUE(other.enter());
    other.leave();
    folder.open();
}

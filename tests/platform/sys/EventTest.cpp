// The event object and bounded waits the link's two sides meet through.
#include <gtest/gtest.h>

#include <thread>

#include "xelsys/Event.h"

using namespace xel::sys;
using namespace std::chrono_literals;

TEST(Event, SignalsCoalesceAndOneConsumeClears) {
    Event event;
    ASSERT_TRUE(event.create());
    EXPECT_FALSE(event.consume()) << "a new event is clear";
    event.signal();
    event.signal();
    EXPECT_TRUE(event.consume());
    EXPECT_FALSE(event.consume()) << "two signals are one wake-up";
    event.reset();
    EXPECT_EQ(event.fd(), -1);
}

TEST(Event, AWaitEndsOnReadinessOnTheStopEventOrAtTheDeadline) {
    Event ready, stop;
    ASSERT_TRUE(ready.create());
    ASSERT_TRUE(stop.create());
    EXPECT_FALSE(waitFor(ready.fd(), POLLIN, Clock::now() + 10ms, stop.fd())) << "nothing happened";

    std::thread other([&] { ready.signal(); });
    EXPECT_TRUE(waitFor(ready.fd(), POLLIN, Clock::now() + 60s, stop.fd()));
    other.join();

    // Ready and stopped at once: the stop wins, so a closing side never starts more work.
    stop.signal();
    EXPECT_FALSE(waitFor(ready.fd(), POLLIN, Clock::now() + 60s, stop.fd()));
    EXPECT_TRUE(waitFor(ready.fd(), POLLIN, Clock::now() + 60s, -1)) << "without a stop event";
}

TEST(Deadline, MillisecondsLeftRoundUpAndStopAtZero) {
    EXPECT_EQ(msUntil(Clock::now() - 1s), 0);
    const int left = msUntil(Clock::now() + 1s);
    EXPECT_GE(left, 1) << "a wait must never end early";
    EXPECT_LE(left, 1000);
    EXPECT_EQ(msUntil(Clock::time_point::max()), INT_MAX);
}

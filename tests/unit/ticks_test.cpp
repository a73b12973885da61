// The pause arithmetic, at the product's tick and the test build's.
#include <gtest/gtest.h>

#include "supervisor/ticks.h"

TEST(Ticks, ProductTickHoldsTheLongestPauseWithoutOverflow)
{
    struct {
        unsigned seconds;
        unsigned long long tick_us;
        long long sec;
        long nsec;
    } cases[] = {
        {7200, 1000000, 7200, 0},  // 7.2e9 us: beyond 32 bits
        {1260, 1000000, 1260, 0},   {10, 1000000, 10, 0},
        {7200, 1000, 7, 200000000},  // test build: one second is one millisecond
        {10, 1000, 0, 10000000},    {3, 2500, 0, 7500000},
        {0, 1000000, 0, 0},
    };
    for (const auto &c : cases) {
        timespec ts = ticks_to_timespec(c.seconds, c.tick_us);
        EXPECT_EQ((long long)ts.tv_sec, c.sec) << c.seconds << " x " << c.tick_us;
        EXPECT_EQ(ts.tv_nsec, c.nsec) << c.seconds << " x " << c.tick_us;
    }
}

// The daemon's pauses. The product's longest pause, 7200 s, is 7.2e9 us:
// the arithmetic is done in 64 bits, since long may be 32 bits wide.
#include "supervisor/ticks.h"

#include <errno.h>

#include "supervisor/watch_table.h"

timespec ticks_to_timespec(unsigned seconds, unsigned long long tick_us)
{
    unsigned long long us = (unsigned long long)seconds * tick_us;
    timespec ts;
    ts.tv_sec = (time_t)(us / 1000000ULL);
    ts.tv_nsec = (long)(us % 1000000ULL) * 1000L;
    return ts;
}

void sleep_seconds(unsigned seconds)
{
    timespec left = ticks_to_timespec(seconds, TICK_US);
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

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

timespec monotonic_now()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

void sleep_seconds_since(const timespec &start, unsigned seconds)
{
    timespec pause = ticks_to_timespec(seconds, TICK_US);
    timespec deadline = start;
    deadline.tv_sec += pause.tv_sec;
    deadline.tv_nsec += pause.tv_nsec;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void sleep_seconds(unsigned seconds)
{
    sleep_seconds_since(monotonic_now(), seconds);
}

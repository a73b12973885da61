// The daemon's pauses, in seconds of the product scaled by the build's tick.
#pragma once

#include <time.h>

// seconds * tick_us microseconds as a timespec, without 32-bit overflow.
timespec ticks_to_timespec(unsigned seconds, unsigned long long tick_us);

// The monotonic clock's time now.
timespec monotonic_now();

// Blocks the calling thread until seconds of the product (TICK_US each) have
// passed since start, a time of the monotonic clock.
void sleep_seconds_since(const timespec &start, unsigned seconds);

// Blocks the calling thread for seconds of the product.
void sleep_seconds(unsigned seconds);

// The daemon's pauses, in seconds of the product scaled by the build's tick.
#pragma once

#include <time.h>

// seconds * tick_us microseconds as a timespec, without 32-bit overflow.
timespec ticks_to_timespec(unsigned seconds, unsigned long long tick_us);

// Blocks the calling thread for seconds of the product (TICK_US each).
void sleep_seconds(unsigned seconds);

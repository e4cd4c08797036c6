// Clocks: a monotonic clock for every time-out and delay, never moved by
// changes to the wall clock.
#pragma once

#include <cstdint>

// Microseconds and milliseconds on the monotonic clock (arbitrary origin).
int64_t monotonic_us();
int64_t monotonic_ms();

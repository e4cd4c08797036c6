// Clocks: a monotonic clock for every time-out and delay, never moved by
// changes to the wall clock, and the local calendar of a wall-clock time.
#pragma once

#include <cstdint>
#include <ctime>

// Microseconds and milliseconds on the monotonic clock (arbitrary origin).
int64_t monotonic_us();
int64_t monotonic_ms();

// Milliseconds since 1970-01-01 00:00 UTC on the wall clock (moves when the
// clock is set): time stamps only, never time-outs.
int64_t wall_clock_utc_ms();

// The local calendar breakdown of `seconds` since the epoch; false when the
// time has none (out of the system's range).
bool local_calendar(int64_t seconds, std::tm* out);

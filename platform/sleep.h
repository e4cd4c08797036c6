// Pauses on the one thread of the program.
#pragma once

#include <cstdint>

// Sleeps whole milliseconds (restarting after signals until the time is up).
void sleep_ms(uint32_t milliseconds);

// Waits the given microseconds with microsecond precision: spins to a
// monotonic deadline for short waits, sleeps most of a long one.
void delay_us(uint64_t microseconds);

// Pauses on Windows. Whole milliseconds are Sleep calls, exact to the
// millisecond once platform_process_start has raised the timer resolution
// (Windows otherwise rounds Sleep(1) up to its 15.6 ms tick). Microsecond
// waits spin on the performance counter to their deadline, as no timer waits
// a microsecond; a long one sleeps most of its time first.
#include "platform/sleep.h"

#include "platform/performance_counter_windows.h"

#include <windows.h>

namespace {

// A Sleep overshoots by up to a millisecond or so: spin the last 2 ms of a wait.
constexpr uint64_t SPIN_LIMIT_US = 2000;

} // namespace

void sleep_ms(uint32_t milliseconds) {
    Sleep(milliseconds);
}

void delay_us(uint64_t microseconds) {
    const int64_t frequency = performance_counter_frequency();
    // Counter ticks for the wait, rounded up so that it never ends early.
    const int64_t us = static_cast<int64_t>(microseconds);
    const int64_t ticks = us / 1000000 * frequency + (us % 1000000 * frequency + 999999) / 1000000;
    const int64_t deadline = performance_counter_now() + ticks;
    if (microseconds > SPIN_LIMIT_US) {
        Sleep(static_cast<DWORD>((microseconds - SPIN_LIMIT_US) / 1000));
    }
    while (performance_counter_now() < deadline) {
    }
}

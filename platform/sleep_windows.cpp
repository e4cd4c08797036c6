// Pauses on Windows. Whole milliseconds are Sleep calls, exact to the
// millisecond once platform_process_start has raised the timer resolution
// (Windows otherwise rounds Sleep(1) up to its 15.6 ms tick). Microsecond
// waits spin on the performance counter to their deadline, as no timer waits
// a microsecond; a long one sleeps most of its time first.
#include "platform/sleep.h"

#include <windows.h>

namespace {

// A Sleep overshoots by up to a millisecond or so: spin the last 2 ms of a wait.
constexpr uint64_t SPIN_LIMIT_US = 2000;

int64_t counter_now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<int64_t>(now.QuadPart);
}

int64_t counter_frequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<int64_t>(value.QuadPart);
    }();
    return frequency;
}

} // namespace

void sleep_ms(uint32_t milliseconds) {
    Sleep(milliseconds);
}

void delay_us(uint64_t microseconds) {
    const int64_t frequency = counter_frequency();
    // Counter ticks for the wait, rounded up so that it never ends early.
    const int64_t us = static_cast<int64_t>(microseconds);
    const int64_t ticks = us / 1000000 * frequency + (us % 1000000 * frequency + 999999) / 1000000;
    const int64_t deadline = counter_now() + ticks;
    if (microseconds > SPIN_LIMIT_US) {
        Sleep(static_cast<DWORD>((microseconds - SPIN_LIMIT_US) / 1000));
    }
    while (counter_now() < deadline) {
    }
}

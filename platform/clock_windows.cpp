// Clocks on Windows: the performance counter for the monotonic clock, the
// CRT's 64-bit local time for the calendar.
#include "platform/clock.h"

#include "platform/performance_counter_windows.h"

#include <ctime>
#include <windows.h>

namespace {

int64_t monotonic_ns() {
    const int64_t frequency = performance_counter_frequency();
    const int64_t ticks = performance_counter_now();
    // Whole seconds and the rest apart, so the product never overflows.
    return ticks / frequency * 1000000000 + ticks % frequency * 1000000000 / frequency;
}

} // namespace

int64_t monotonic_us() {
    return monotonic_ns() / 1000;
}

int64_t monotonic_ms() {
    return monotonic_ns() / 1000000;
}

int64_t wall_clock_utc_ms() {
    // 100 ns ticks since 1601-01-01; 11644473600 s lie between that and 1970.
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const int64_t ticks =
        static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return ticks / 10000 - INT64_C(11644473600000);
}

bool local_calendar(int64_t seconds, std::tm* out) {
    const __time64_t time = seconds;
    return _localtime64_s(out, &time) == 0;
}

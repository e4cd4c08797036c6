// Clocks on Windows: the performance counter for the monotonic clock, the
// CRT's 64-bit local time for the calendar.
#include "platform/clock.h"

#include <ctime>
#include <windows.h>

namespace {

int64_t counter_frequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<int64_t>(value.QuadPart);
    }();
    return frequency;
}

int64_t monotonic_ns() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const int64_t frequency = counter_frequency();
    const int64_t ticks = static_cast<int64_t>(now.QuadPart);
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

bool local_calendar(int64_t seconds, std::tm* out) {
    const __time64_t time = seconds;
    return _localtime64_s(out, &time) == 0;
}

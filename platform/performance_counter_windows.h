// The Windows performance counter, shared by the monotonic clock and the
// microsecond delay (Windows files only).
#pragma once

#include <cstdint>
#include <windows.h>

// The counter's current value, in its own ticks.
inline int64_t performance_counter_now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<int64_t>(now.QuadPart);
}

// Ticks a second; fixed at boot, so read once.
inline int64_t performance_counter_frequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<int64_t>(value.QuadPart);
    }();
    return frequency;
}

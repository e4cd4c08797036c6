#include "platform/clock.h"

#include <ctime>

int64_t monotonic_us() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t monotonic_ms() {
    return monotonic_us() / 1000;
}

int64_t wall_clock_utc_ms() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool local_calendar(int64_t seconds, std::tm* out) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    return localtime_r(&time, out) != nullptr;
}

#include "platform/sleep.h"

#include <cerrno>
#include <ctime>

namespace {

// The monotonic clock in nanoseconds: a delay counted in whole microseconds
// would end anywhere from 0 to 1 us early, depending on where in the current
// microsecond it started.
int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Sleeps on the monotonic clock until an absolute deadline (in nanoseconds).
void sleep_until_ns(int64_t deadline_ns) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadline_ns / 1000000000);
    until.tv_nsec = static_cast<long>(deadline_ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// A kernel sleep overshoots by tens of microseconds: sleep only for waits far
// longer than that, and spin the last stretch.
constexpr int64_t SPIN_LIMIT_US = 200;

} // namespace

void sleep_ms(uint32_t milliseconds) {
    sleep_until_ns(monotonic_ns() + static_cast<int64_t>(milliseconds) * 1000000);
}

void delay_us(uint64_t microseconds) {
    const int64_t deadline = monotonic_ns() + static_cast<int64_t>(microseconds) * 1000;
    if (microseconds > static_cast<uint64_t>(SPIN_LIMIT_US)) {
        sleep_until_ns(deadline - SPIN_LIMIT_US * 1000 / 2);
    }
    while (monotonic_ns() < deadline) {
    }
}

#include "platform/sleep.h"

#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace {

// Sleeps on the monotonic clock until an absolute deadline (in microseconds).
void sleep_until_us(int64_t deadline_us) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadline_us / 1000000);
    until.tv_nsec = static_cast<long>((deadline_us % 1000000) * 1000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// A kernel sleep overshoots by tens of microseconds: sleep only for waits far
// longer than that, and spin the last stretch.
constexpr int64_t SPIN_LIMIT_US = 200;

} // namespace

void sleep_ms(uint32_t milliseconds) {
    sleep_until_us(monotonic_us() + static_cast<int64_t>(milliseconds) * 1000);
}

void delay_us(uint64_t microseconds) {
    const int64_t deadline = monotonic_us() + static_cast<int64_t>(microseconds);
    if (microseconds > static_cast<uint64_t>(SPIN_LIMIT_US)) {
        sleep_until_us(deadline - SPIN_LIMIT_US / 2);
    }
    while (monotonic_us() < deadline) {
    }
}

// micro_delay measured on a nanosecond clock: a delay must never end early,
// wherever in the current microsecond it starts (a deadline in whole
// microseconds ended up to 1 us early, so micro_delay(1) often took a few
// nanoseconds).
#include "serial/transport.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <gtest/gtest.h>

namespace {

int64_t now_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

TEST(MicroDelay, NeverEndsEarlyOnANanosecondClock) {
    for (const int64_t microseconds : {1, 2, 7, 250, 1500}) {
        const int calls = microseconds < 100 ? 2000 : 20;
        int64_t shortest = INT64_MAX;
        for (int i = 0; i < calls; ++i) {
            const int64_t started = now_ns();
            micro_delay(microseconds);
            shortest = std::min(shortest, now_ns() - started);
        }
        EXPECT_GE(shortest, microseconds * 1000) << "micro_delay(" << microseconds << ")";
    }
}

} // namespace

// A moment on the simulator's clock that something is due at, or none. Every
// time is a moment, a negative one too: "none" is not a value of the clock.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

using Deadline = std::optional<int64_t>;

// The earlier of two deadlines; none when neither is set.
inline Deadline earliest(Deadline a, Deadline b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

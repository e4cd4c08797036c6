// Properties checked inside the fuzz targets: a failed one names itself on
// standard error before abort() makes the fuzzer keep the input as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void check_at(bool condition, const char* text, int line) {
    if (!condition) {
        std::fprintf(stderr, "property failed at line %d: %s\n", line, text);
        std::abort();
    }
}

#define check(condition) check_at((condition), #condition, __LINE__)

// The series: opens the board, acquires on the cadence, writes each record
// whole, rides out a lost board and ends with the summary line.
#pragma once

#include "tools/options.h"
#include "tools/output_file.h"
#include "tools/progress.h"
#include "tools/record.h"
#include "tools/stop_control.h"

#include <chrono>
#include <cstdint>

// Exit statuses.
constexpr int EXIT_ALL_WRITTEN = 0;
constexpr int EXIT_SOME_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_PORT = 3;
constexpr int EXIT_OUTPUT = 4;

// The steady cadence: slot k starts at start + k * every. After an
// acquisition of slot `slot` ended at `now`, the next takes slot + 1 and waits
// for it; when that slot has already passed, the next starts at once and takes
// the latest slot that has begun, the ones before it counted as skipped.
struct CadenceStep {
    uint64_t slot = 0;
    std::chrono::steady_clock::time_point start;
    uint64_t skipped = 0;
};
CadenceStep cadence_next(std::chrono::steady_clock::time_point series_start, double every_s,
                         uint64_t slot, std::chrono::steady_clock::time_point now);

// Runs the series; returns the exit status (0, 1, 3, 4, or 128 + the signal).
int run_series(const AcquireOptions& options, const DarkSpectrum* dark, OutputFile& output,
               StopControl& stop, ProgressLine& progress);

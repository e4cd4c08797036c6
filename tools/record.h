// One acquisition as the tool writes it, and what every record of a run shares.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RunInfo {
    std::string version; // the tool's
    std::string port;    // as given
    long baud = 0;
    std::string firmware; // the board's answer
    uint16_t pre_scans = 0;
    uint16_t data_scans = 0;
    uint32_t period_ms = 0;
    int64_t start_utc_ms = 0; // the run's start
    bool average = false;
    std::string dark_path; // as given; empty: none
};

struct Record {
    uint64_t number = 0; // from 1 in each run, counting attempts
    int64_t start_utc_ms = 0;
    int64_t end_utc_ms = 0;
    uint16_t pre_scans = 0;
    uint16_t data_scans = 0;
    uint32_t period_ms = 0;
    std::vector<uint16_t> scans; // scan-major: scans[s * 256 + p]
    std::vector<uint16_t> mean;  // 256 values with --average, else empty
};

using DarkSpectrum = std::array<uint16_t, 256>;

// The per-pixel mean of `scan_count` scans (scan-major), rounded to the
// nearest integer, halves up.
std::vector<uint16_t> pixel_mean(const std::vector<uint16_t>& scans, size_t scan_count);

// Subtracts `dark` from every scan and from the mean, clamping at 0.
void subtract_dark(Record& record, const DarkSpectrum& dark);

// "2026-12-09T03:12:07.250Z" for milliseconds since 1970-01-01 UTC.
std::string iso8601_utc_ms(int64_t utc_ms);
// "2026-12-09T03:12:07Z".
std::string iso8601_utc_s(int64_t utc_ms);

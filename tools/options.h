// The acquisition tool's command line: parsed and range-checked before the
// port is opened, so that a usage error sends nothing to the board.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class OutputFormat { csv, jsonl };

struct AcquireOptions {
    std::string port;
    long baud = 115200;
    uint16_t pre_scans = 3;
    uint16_t data_scans = 3;
    uint32_t period_ms = 650;
    uint64_t count = 1;
    bool forever = false;
    double every_s = 0; // 0: back to back
    OutputFormat format = OutputFormat::csv;
    std::string output; // empty: standard output
    bool average = false;
    std::string dark; // empty: none
    double retry_for_s = 3600;
    bool quiet = false;
};

enum class ParseResult { run, help, version, error };

// Fills `options`; on ParseResult::error, `error` holds one line saying what
// is wrong and how to put it right.
ParseResult parse_acquire_options(const std::vector<std::string>& args, AcquireOptions& options,
                                  std::string& error);

// The usage text for --help.
const char* acquire_usage();

// Standard error: the progress line (rewritten in place, only on a terminal),
// the run's event lines and the summary.
#pragma once

#include <cstdint>
#include <string>

struct SeriesCounts {
    uint64_t attempted = 0;
    uint64_t written = 0;
    uint64_t failed = 0;
    uint64_t skipped_slots = 0;
    uint64_t reconnects = 0;
};

struct ProgressLine {
    bool enabled = false;
    bool shown = false;
};

// "acquisition 4 of 10" / "acquisition 4 so far", last duration, failures,
// reconnects and, when `next_in_s` >= 0, the wait before the next start.
std::string progress_text(const SeriesCounts& counts, uint64_t total, bool forever, double last_s,
                          double next_in_s);

// Rewrites the progress line (when enabled).
void progress_show(ProgressLine& line, const std::string& text);

// One line on standard error, the progress line cleared first.
void report_line(ProgressLine& line, const std::string& text);

// "3 written, 1 failed, 0 cadence slots skipped, 0 reconnects, 12.4 s elapsed".
std::string summary_text(const SeriesCounts& counts, double elapsed_s);

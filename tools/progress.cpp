#include "tools/progress.h"

#include <cstdio>

namespace {

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

void clear(ProgressLine& line) {
    if (line.shown) {
        std::fputs("\r\033[K", stderr);
        line.shown = false;
    }
}

} // namespace

std::string progress_text(const SeriesCounts& counts, uint64_t total, bool forever, double last_s,
                          double next_in_s) {
    std::string text = "acquisition " + std::to_string(counts.attempted);
    text += forever ? " so far" : " of " + std::to_string(total);
    if (last_s >= 0) {
        text += ", last " + seconds_text(last_s);
    }
    text += ", " + std::to_string(counts.failed) + " failed, " + std::to_string(counts.reconnects) +
            " reconnects";
    if (counts.skipped_slots != 0) {
        text += ", " + std::to_string(counts.skipped_slots) + " slots skipped";
    }
    if (next_in_s >= 0) {
        text += ", next in " + seconds_text(next_in_s);
    }
    return text;
}

void progress_show(ProgressLine& line, const std::string& text) {
    if (!line.enabled) {
        return;
    }
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
    line.shown = true;
}

void report_line(ProgressLine& line, const std::string& text) {
    clear(line);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

std::string summary_text(const SeriesCounts& counts, double elapsed_s) {
    return std::to_string(counts.written) + " written, " + std::to_string(counts.failed) +
           " failed, " + std::to_string(counts.skipped_slots) + " cadence slots skipped, " +
           std::to_string(counts.reconnects) + " reconnects, " + seconds_text(elapsed_s) +
           " elapsed";
}

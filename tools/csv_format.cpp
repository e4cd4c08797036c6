#include "tools/csv_format.h"

#include <charconv>

namespace {

void append_number(std::string& out, uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// A text on one comment line: no line ends or other control characters.
std::string comment_text(const std::string& text) {
    std::string clean = text;
    for (char& c : clean) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return clean;
}

} // namespace

std::string csv_column_header(uint16_t data_scans, bool average) {
    std::string header = "acquisition,start,pixel";
    for (uint16_t s = 1; s <= data_scans; ++s) {
        header += ",scan";
        append_number(header, s);
    }
    if (average) {
        header += ",mean";
    }
    return header;
}

std::string csv_run_comment(const RunInfo& run) {
    std::string out;
    out += "# zorvidlk-acquire " + comment_text(run.version) + "\n";
    out += "# firmware: " + comment_text(run.firmware) + "\n";
    out += "# port: " + comment_text(run.port) + " at " + std::to_string(run.baud) + " baud\n";
    out += "# settings: pre_scans " + std::to_string(run.pre_scans) + ", data_scans " +
           std::to_string(run.data_scans) + ", period_ms " + std::to_string(run.period_ms) + "\n";
    out += "# run start: " + iso8601_utc_ms(run.start_utc_ms) + "\n";
    if (run.average) {
        out += "# mean: per-pixel mean of the data scans, rounded to the nearest integer\n";
    }
    if (!run.dark_path.empty()) {
        out += "# dark: " + comment_text(run.dark_path) +
               " (its first spectrum subtracted, clamped at 0)\n";
    }
    return out;
}

std::string csv_record(const Record& record) {
    std::string prefix;
    append_number(prefix, record.number);
    prefix += ',';
    prefix += iso8601_utc_ms(record.start_utc_ms);
    prefix += ',';
    std::string out;
    out.reserve(256 * (prefix.size() + 4 + 6 * (record.data_scans + 1)));
    for (size_t p = 0; p < 256; ++p) {
        out += prefix;
        append_number(out, p + 1);
        for (size_t s = 0; s < record.data_scans; ++s) {
            out += ',';
            append_number(out, record.scans[s * 256 + p]);
        }
        if (!record.mean.empty()) {
            out += ',';
            append_number(out, record.mean[p]);
        }
        out += '\n';
    }
    return out;
}

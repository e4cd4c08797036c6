#include "tools/jsonl_format.h"

#include <charconv>
#include <cstdio>

namespace {

void append_number(std::string& out, uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void append_values(std::string& out, const uint16_t* values) {
    out += '[';
    for (size_t p = 0; p < 256; ++p) {
        if (p != 0) {
            out += ", ";
        }
        append_number(out, values[p]);
    }
    out += ']';
}

} // namespace

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else if (byte >= 0x80) {
            // Not assumed to be UTF-8: a byte of a firmware text or a path
            // stays readable by every JSON reader as its Latin-1 character.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string jsonl_record(const RunInfo& run, const Record& record) {
    std::string out;
    out.reserve(1800 * (record.data_scans + 1) + 400);
    out += "{\"acquisition\": ";
    append_number(out, record.number);
    out += ", \"start\": \"" + iso8601_utc_ms(record.start_utc_ms) + "\"";
    out += ", \"end\": \"" + iso8601_utc_ms(record.end_utc_ms) + "\"";
    out += ", \"port\": " + json_string(run.port);
    out += ", \"firmware\": " + json_string(run.firmware);
    out += ", \"settings\": {\"pre_scans\": ";
    append_number(out, record.pre_scans);
    out += ", \"data_scans\": ";
    append_number(out, record.data_scans);
    out += ", \"period_ms\": ";
    append_number(out, record.period_ms);
    out += "}, \"scans\": [";
    for (size_t s = 0; s < record.data_scans; ++s) {
        if (s != 0) {
            out += ", ";
        }
        append_values(out, record.scans.data() + s * 256);
    }
    out += ']';
    if (!record.mean.empty()) {
        out += ", \"mean\": ";
        append_values(out, record.mean.data());
    }
    if (!run.dark_path.empty()) {
        out += ", \"dark\": " + json_string(run.dark_path);
    }
    out += "}\n";
    return out;
}

#include "tools/dark_file.h"

#include "tools/record.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

bool parse_value(const std::string& text, uint16_t& value) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned long number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number > 65535) {
        return false;
    }
    value = static_cast<uint16_t>(number);
    return true;
}

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    size_t begin = 0;
    while (true) {
        const size_t end = line.find(separator, begin);
        fields.push_back(line.substr(begin, end - begin));
        if (end == std::string::npos) {
            return fields;
        }
        begin = end + 1;
    }
}

std::string strip_cr(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

// The number of scan columns a header names, 0 when it is not this tool's.
size_t header_scans(const std::string& header) {
    const std::vector<std::string> names = split(header, ',');
    if (names.size() < 4 || names[0] != "acquisition" || names[1] != "start" ||
        names[2] != "pixel") {
        return 0;
    }
    size_t scans = 0;
    for (size_t i = 3; i < names.size(); ++i) {
        if (names[i] == "scan" + std::to_string(scans + 1)) {
            ++scans;
        } else if (!(names[i] == "mean" && i + 1 == names.size())) {
            return 0;
        }
    }
    return scans;
}

bool parse_csv(std::istringstream& lines, DarkSpectrum& dark, std::string& error) {
    std::string line;
    std::string header;
    while (std::getline(lines, line)) {
        line = strip_cr(line);
        if (!line.empty() && line[0] != '#') {
            header = line;
            break;
        }
    }
    const size_t scan_count = header_scans(header);
    if (scan_count == 0) {
        error = "no column header acquisition,start,pixel,scan1,...";
        return false;
    }
    const size_t columns = split(header, ',').size();
    std::vector<uint16_t> scans(scan_count * 256);
    std::string acquisition;
    size_t pixel = 0;
    while (pixel < 256 && std::getline(lines, line)) {
        line = strip_cr(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::vector<std::string> fields = split(line, ',');
        if (fields.size() != columns) {
            error = "a row with " + std::to_string(fields.size()) +
                    " fields where the header has " + std::to_string(columns);
            return false;
        }
        if (pixel == 0) {
            acquisition = fields[0];
        } else if (fields[0] != acquisition) {
            error = "acquisition " + acquisition + " ends before pixel 256";
            return false;
        }
        if (fields[2] != std::to_string(pixel + 1)) {
            error = "pixel " + fields[2] + " where " + std::to_string(pixel + 1) + " belongs";
            return false;
        }
        for (size_t s = 0; s < scan_count; ++s) {
            if (!parse_value(fields[3 + s], scans[s * 256 + pixel])) {
                error = "a value that is not a count: " + fields[3 + s];
                return false;
            }
        }
        ++pixel;
    }
    if (pixel < 256) {
        error = "the first acquisition has " + std::to_string(pixel) + " of its 256 rows";
        return false;
    }
    const std::vector<uint16_t> mean = pixel_mean(scans, scan_count);
    std::copy(mean.begin(), mean.end(), dark.begin());
    return true;
}

void skip_spaces(const std::string& text, size_t& at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
        ++at;
    }
}

bool expect(const std::string& text, size_t& at, char c) {
    skip_spaces(text, at);
    if (at < text.size() && text[at] == c) {
        ++at;
        return true;
    }
    return false;
}

// One [v, v, ...] of 256 counts.
bool parse_scan(const std::string& text, size_t& at, std::vector<uint16_t>& scans) {
    if (!expect(text, at, '[')) {
        return false;
    }
    for (size_t p = 0; p < 256; ++p) {
        if (p != 0 && !expect(text, at, ',')) {
            return false;
        }
        skip_spaces(text, at);
        const size_t begin = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        uint16_t value = 0;
        if (!parse_value(text.substr(begin, at - begin), value)) {
            return false;
        }
        scans.push_back(value);
    }
    return expect(text, at, ']');
}

bool parse_jsonl(const std::string& line, DarkSpectrum& dark, std::string& error) {
    size_t at = line.find("\"scans\"");
    if (at == std::string::npos) {
        error = "its first line has no \"scans\"";
        return false;
    }
    at += 7;
    std::vector<uint16_t> scans;
    size_t scan_count = 0;
    if (!expect(line, at, ':') || !expect(line, at, '[')) {
        error = "\"scans\" is not a list of scans";
        return false;
    }
    do {
        if (!parse_scan(line, at, scans)) {
            error = "a scan that is not a list of 256 counts";
            return false;
        }
        ++scan_count;
    } while (expect(line, at, ','));
    if (!expect(line, at, ']')) {
        error = "\"scans\" does not end after its scans";
        return false;
    }
    const std::vector<uint16_t> mean = pixel_mean(scans, scan_count);
    std::copy(mean.begin(), mean.end(), dark.begin());
    return true;
}

} // namespace

bool parse_dark_text(const std::string& text, DarkSpectrum& dark, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = strip_cr(line);
        if (line.empty()) {
            continue;
        }
        if (line[0] == '{') {
            return parse_jsonl(line, dark, error);
        }
        lines.clear();
        lines.seekg(0);
        return parse_csv(lines, dark, error);
    }
    error = "it is empty";
    return false;
}

bool read_dark_file(const std::string& path, DarkSpectrum& dark, std::string& error) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        error = "cannot be read";
        return false;
    }
    // The first acquisition sits at the start: a long series is not read whole.
    std::string text(4u << 20, '\0');
    stream.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(stream.gcount()));
    return parse_dark_text(text, dark, error);
}

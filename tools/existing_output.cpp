#include "tools/existing_output.h"

#include <filesystem>
#include <fstream>

bool output_accepts_run(const std::string& path, OutputFormat format, const std::string& csv_header,
                        std::string& error) {
    // Only a regular file holds a series: a device (/dev/null, /dev/full) or
    // a pipe is not read.
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) {
        return true;
    }
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        return true; // missing (or unreadable: opening it for append says so)
    }
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || (format == OutputFormat::csv && line[0] == '#')) {
            continue;
        }
        if (format == OutputFormat::jsonl) {
            if (line[0] == '{') {
                return true;
            }
            error = path + " holds something other than JSON Lines; write to another file";
            return false;
        }
        if (line == csv_header) {
            return true;
        }
        error = path + " holds a series with other columns (" + line.substr(0, 80) +
                "); write this one (" + csv_header + ") to another file";
        return false;
    }
    return true;
}

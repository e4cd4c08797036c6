#include "tools/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

bool parse_unsigned(const std::string& text, uint64_t low, uint64_t high, uint64_t& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

// Seconds as a plain decimal number ("10", "0.2"), 0..high.
bool parse_seconds(const std::string& text, double high, double& value) {
    if (text.empty() || !((text[0] >= '0' && text[0] <= '9') || text[0] == '.')) {
        return false;
    }
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || c == '.')) {
            return false;
        }
    }
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < 0 || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

// Options that take a value, by their spellings.
bool takes_value(const std::string& name) {
    static const char* const names[] = {"-p",      "--port",   "-b",      "--baud",     "--pre",
                                        "--scans", "--period", "--count", "--every",    "--format",
                                        "-o",      "--output", "--dark",  "--retry-for"};
    for (const char* known : names) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

bool apply(const std::string& name, const std::string& value, AcquireOptions& options,
           std::string& error) {
    uint64_t number = 0;
    if (name == "-p" || name == "--port") {
        if (value.empty()) {
            error = "-p needs a port: a COM number, a device path or rfc2217://HOST:PORT";
            return false;
        }
        options.port = value;
    } else if (name == "-b" || name == "--baud") {
        if (!parse_unsigned(value, 1, 4000000, number)) {
            error = "-b " + value + ": the baud rate is a whole number such as 115200";
            return false;
        }
        options.baud = static_cast<long>(number);
    } else if (name == "--pre") {
        if (!parse_unsigned(value, 0, 10, number)) {
            error = "--pre " + value + ": pre-scans go from 0 to 10";
            return false;
        }
        options.pre_scans = static_cast<uint16_t>(number);
    } else if (name == "--scans") {
        if (!parse_unsigned(value, 1, 10, number)) {
            error = "--scans " + value + ": data scans go from 1 to 10";
            return false;
        }
        options.data_scans = static_cast<uint16_t>(number);
    } else if (name == "--period") {
        if (!parse_unsigned(value, 100, 1500, number)) {
            error = "--period " + value + ": the scan period goes from 100 to 1500 ms";
            return false;
        }
        options.period_ms = static_cast<uint32_t>(number);
    } else if (name == "--count") {
        if (!parse_unsigned(value, 1, 1000000000, number)) {
            error = "--count " + value + ": give 1 or more acquisitions, or --forever";
            return false;
        }
        options.count = number;
    } else if (name == "--every") {
        if (!parse_seconds(value, 86400.0 * 366, options.every_s)) {
            error = "--every " + value + ": give the seconds between starts, 0 or more (0.5, 10)";
            return false;
        }
    } else if (name == "--format") {
        if (value == "csv") {
            options.format = OutputFormat::csv;
        } else if (value == "jsonl") {
            options.format = OutputFormat::jsonl;
        } else {
            error = "--format " + value + ": the formats are csv and jsonl";
            return false;
        }
    } else if (name == "-o" || name == "--output") {
        if (value.empty()) {
            error = "-o needs a file name";
            return false;
        }
        options.output = value;
    } else if (name == "--dark") {
        if (value.empty()) {
            error = "--dark needs a file written by zorvidlk-acquire";
            return false;
        }
        options.dark = value;
    } else if (name == "--retry-for") {
        if (!parse_seconds(value, 86400.0 * 366, options.retry_for_s)) {
            error =
                "--retry-for " + value + ": give the seconds to wait for a lost board, 0 or more";
            return false;
        }
    }
    return true;
}

} // namespace

ParseResult parse_acquire_options(const std::vector<std::string>& args, AcquireOptions& options,
                                  std::string& error) {
    bool count_given = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_value = false;
        if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
            value = name.substr(name.find('=') + 1);
            name = name.substr(0, name.find('='));
            has_value = true;
        } else if ((name.rfind("-p", 0) == 0 || name.rfind("-b", 0) == 0 ||
                    name.rfind("-o", 0) == 0) &&
                   name.size() > 2) {
            value = name.substr(2);
            name = name.substr(0, 2);
            has_value = true;
        }
        if (name == "-h" || name == "--help") {
            return ParseResult::help;
        }
        if (name == "--version") {
            return ParseResult::version;
        }
        if (name == "--forever" || name == "--average" || name == "--quiet" || name == "-q") {
            if (has_value) {
                error = name + " takes no value";
                return ParseResult::error;
            }
            if (name == "--forever") {
                options.forever = true;
            } else if (name == "--average") {
                options.average = true;
            } else {
                options.quiet = true;
            }
            continue;
        }
        if (!takes_value(name)) {
            error = "unknown option " + args[i] + " (zorvidlk-acquire --help lists them)";
            return ParseResult::error;
        }
        if (!has_value) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value (zorvidlk-acquire --help)";
                return ParseResult::error;
            }
            value = args[++i];
        }
        if (name == "--count") {
            count_given = true;
        }
        if (!apply(name, value, options, error)) {
            return ParseResult::error;
        }
    }
    if (options.port.empty()) {
        error = "no port: give -p PORT (a COM number, a device path or rfc2217://HOST:PORT)";
        return ParseResult::error;
    }
    if (options.forever && count_given) {
        error = "--count and --forever exclude each other: give one";
        return ParseResult::error;
    }
    return ParseResult::run;
}

const char* acquire_usage() {
    return "usage: zorvidlk-acquire -p PORT [-b BAUD] [--pre N] [--scans N] [--period MS]\n"
           "                        [--count N | --forever] [--every SECONDS]\n"
           "                        [--format csv|jsonl] [-o FILE] [--average] [--dark FILE]\n"
           "                        [--retry-for SECONDS] [--quiet]\n"
           "Acquires spectra from the board on PORT (a COM number, a device path or\n"
           "rfc2217://HOST:PORT) into CSV or JSON Lines, one complete record each.\n"
           "  -b BAUD             line rate (115200)\n"
           "  --pre N             pre-scans, 0..10 (3)\n"
           "  --scans N           data scans, 1..10 (3)\n"
           "  --period MS         scan period, 100..1500 ms (650)\n"
           "  --count N           acquisitions (1); --forever: until stopped\n"
           "  --every SECONDS     start times SECONDS apart (0: back to back)\n"
           "  --format csv|jsonl  output format (csv)\n"
           "  -o FILE             append to FILE (standard output)\n"
           "  --average           add the per-pixel mean of the data scans\n"
           "  --dark FILE         subtract the first spectrum of FILE (written by this tool)\n"
           "  --retry-for SECONDS wait this long for a lost board (3600; 0: give up)\n"
           "  --quiet             no progress line (the summary line stays)\n"
           "Exit status: 0 all written, 1 some failed, 2 usage, 3 port not opened,\n"
           "4 output not written, 130/143 stopped by SIGINT/SIGTERM.\n";
}

#include "sim/options.h"

#include "sim/listener.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char USAGE[] =
    "Usage: zorvidlk-sim --socket PATH [--tcp 127.0.0.1:PORT] [--events FILE]\n"
    "                    [--firmware TEXT] [--seed N] [--fault NAME[=VALUE]]...\n"
    "                    [--fault-after N] [--adapter NAME]\n"
    "Serves a simulated spectrometer board over RFC 2217 on a Unix-domain socket\n"
    "(and on loopback TCP with --tcp: 127.x.y.z, [::1] or localhost; port 0 picks\n"
    "a free port).\n"
    "Faults: no-scan-start, scan-stuck, no-data-ready, stall-at=N, cts-stuck-after-data,\n"
    "        silent, slow-reply=MS, noise, disconnect-at=N\n"
    "Adapters (the path between the board and the host, default ideal): ideal, 16550,\n"
    "        ftdi, ftdi-low-latency, cp210x, ch340, ch340-chunked, cdc-acm, ser2net\n";

bool parse_unsigned(const char* text, unsigned long long limit, unsigned long long& value) {
    if (text == nullptr || *text < '0' || *text > '9') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0' && value <= limit;
}

// HOST:PORT with a loopback host; false with a message in `error`.
bool parse_tcp(const char* text, SimOptions& options, std::string& error) {
    const char* colon = std::strrchr(text, ':');
    unsigned long long port = 0;
    if (colon == nullptr || colon == text || !parse_unsigned(colon + 1, 65535, port)) {
        error = std::string("--tcp wants HOST:PORT, got ") + text;
        return false;
    }
    const std::string host(text, static_cast<size_t>(colon - text));
    options.tcp_address = loopback_address(host);
    if (options.tcp_address.empty()) {
        error = "--tcp serves this machine only: give 127.x.y.z:PORT, [::1]:PORT or "
                "localhost:PORT, not " +
                host;
        return false;
    }
    options.tcp = true;
    options.tcp_port = static_cast<uint16_t>(port);
    return true;
}

} // namespace

int parse_sim_options(int argc, char** argv, SimOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(USAGE, stdout);
            return 1;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr) {
            std::fprintf(stderr, "zorvidlk-sim: %s needs a value\n%s", option.c_str(), USAGE);
            return -1;
        }
        ++i;
        unsigned long long number = 0;
        std::string error;
        if (option == "--socket") {
            options.socket_path = value;
        } else if (option == "--tcp") {
            if (!parse_tcp(value, options, error)) {
                std::fprintf(stderr, "zorvidlk-sim: %s\n", error.c_str());
                return -1;
            }
        } else if (option == "--events") {
            options.events_path = value;
        } else if (option == "--firmware") {
            options.firmware = value;
        } else if (option == "--seed") {
            if (!parse_unsigned(value, ~0ULL, number)) {
                std::fprintf(stderr, "zorvidlk-sim: --seed wants a number, got %s\n", value);
                return -1;
            }
            options.seed = number;
        } else if (option == "--adapter") {
            options.adapter = adapter_find(value);
            if (options.adapter == nullptr) {
                std::fprintf(stderr, "zorvidlk-sim: unknown adapter %s (one of: %s)\n", value,
                             adapter_names().c_str());
                return -1;
            }
        } else if (option == "--fault-after") {
            if (!parse_unsigned(value, 0xFFFFFFFFULL, number)) {
                std::fprintf(stderr, "zorvidlk-sim: --fault-after wants a number, got %s\n", value);
                return -1;
            }
            options.faults.after_spectra = static_cast<uint32_t>(number);
        } else if (option == "--fault") {
            if (!fault_arm(options.faults, value, error)) {
                std::fprintf(stderr, "zorvidlk-sim: %s\n", error.c_str());
                return -1;
            }
        } else {
            std::fprintf(stderr, "zorvidlk-sim: unknown option %s\n%s", option.c_str(), USAGE);
            return -1;
        }
    }
    if (options.socket_path.empty() && !options.tcp) {
        std::fprintf(stderr, "zorvidlk-sim: give --socket PATH (and/or --tcp HOST:PORT)\n%s",
                     USAGE);
        return -1;
    }
    return 0;
}

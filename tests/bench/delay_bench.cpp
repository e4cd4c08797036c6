// zorvidlk-delay-bench: timing figures of the transport's pauses and of the
// byte handshake, printed as one JSON object on standard output.
//
//   zorvidlk-delay-bench [--samples N]
//       micro_delay(1) as the acquisition calls it (N calls, default 200000),
//       a plain 1 us kernel sleep for comparison, and sleep_ms(1), whose
//       length the benchmark needs to take the CTS polls out of its figures.
//   zorvidlk-delay-bench --handshake COM [--scans N]
//       (with ZORVIDLK_PORT_DIR set) opens COM at 115200 baud, runs N scans
//       (default 3) of the board with the settings P0, I100 and times every
//       byte request of each transfer exactly as the acquisition makes it:
//       RTS set, read_byte(link, 500), RTS clear, micro_delay(1).
#include "platform/clock.h"
#include "platform/sleep.h"
#include "serial/serial_service.h"
#include "serial/transport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

int64_t now_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

struct Summary {
    double min_us = 0;
    double median_us = 0;
    double p99_us = 0;
    double max_us = 0;
    double mean_us = 0;
};

Summary summarise(std::vector<int64_t> samples_ns) {
    Summary summary;
    if (samples_ns.empty()) {
        return summary;
    }
    std::sort(samples_ns.begin(), samples_ns.end());
    const auto at = [&samples_ns](double fraction) {
        const auto index =
            static_cast<size_t>(fraction * static_cast<double>(samples_ns.size() - 1));
        return static_cast<double>(samples_ns[index]) / 1000.0;
    };
    summary.min_us = at(0.0);
    summary.median_us = at(0.5);
    summary.p99_us = at(0.99);
    summary.max_us = static_cast<double>(samples_ns.back()) / 1000.0;
    double total = 0;
    for (const int64_t sample : samples_ns) {
        total += static_cast<double>(sample);
    }
    summary.mean_us = total / static_cast<double>(samples_ns.size()) / 1000.0;
    return summary;
}

void print_summary(const char* name, const Summary& summary, bool last) {
    std::printf(
        "  \"%s\": {\"min_us\": %.3f, \"median_us\": %.3f, \"p99_us\": %.3f, \"max_us\": %.3f, "
        "\"mean_us\": %.3f}%s\n",
        name, summary.min_us, summary.median_us, summary.p99_us, summary.max_us, summary.mean_us,
        last ? "" : ",");
}

template <typename Pause> std::vector<int64_t> time_calls(size_t count, Pause pause) {
    std::vector<int64_t> samples;
    samples.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const int64_t before = now_ns();
        pause();
        samples.push_back(now_ns() - before);
    }
    return samples;
}

int run_delays(size_t samples) {
    // The clock read itself, so the delay figures can be read net of it.
    const Summary clock_read = summarise(time_calls(samples, [] {}));
    const Summary delay = summarise(time_calls(samples, [] { micro_delay(1); }));
    const Summary kernel = summarise(time_calls(std::min<size_t>(samples, 2000), [] {
        const timespec one_us{0, 1000};
        nanosleep(&one_us, nullptr);
    }));
    const Summary sleep_1ms = summarise(time_calls(300, [] { sleep_ms(1); }));
    const Summary sleep_10ms = summarise(time_calls(50, [] { sleep_ms(10); }));
    std::printf("{\n  \"samples\": %zu,\n", samples);
    print_summary("clock_read", clock_read, false);
    print_summary("micro_delay_1", delay, false);
    print_summary("nanosleep_1us", kernel, false);
    print_summary("sleep_ms_1", sleep_1ms, false);
    print_summary("sleep_ms_10", sleep_10ms, true);
    std::printf("}\n");
    return 0;
}

// Waits for CTS to reach `asserted` within `limit_ms`, polling every millisecond.
bool wait_cts(PortIndex port, bool asserted, int64_t limit_ms) {
    const int64_t deadline = monotonic_ms() + limit_ms;
    while (monotonic_ms() < deadline) {
        const int cts = serial_cts(port);
        if (asserted ? cts > 0 : cts <= 0) {
            return true;
        }
        sleep_ms(1);
    }
    return false;
}

int run_handshake(int com, int scans) {
    const PortIndex port = com - 1;
    serial_reset(-1, 1, 1);
    serial_set_params(-1, 0, 0, 8);
    const SerialStatus opened = serial_reset(port, 1024, 1024);
    if (opened < 0 || serial_set_baud(port, 115200) < 0) {
        std::fprintf(stderr, "zorvidlk-delay-bench: cannot open COM%d (%d)\n", com, opened);
        return 1;
    }
    serial_rts(port, 'C');
    DeviceLink link;
    link.port = port;
    for (const char* command : {"E5\r", "P0\r", "R1\r", "I100\r"}) {
        send_command(link, command);
        sleep_ms(100);
    }
    std::vector<int64_t> per_byte;
    std::vector<int64_t> transfers;
    int missing = 0;
    for (int scan = 0; scan < scans; ++scan) {
        send_command(link, "S\r");
        if (!wait_cts(port, true, 500) || !wait_cts(port, false, 15000)) {
            std::fprintf(stderr, "zorvidlk-delay-bench: the scan did not run\n");
            return 1;
        }
        send_command(link, "g\r");
        if (!wait_cts(port, true, 500)) {
            std::fprintf(stderr, "zorvidlk-delay-bench: no data ready\n");
            return 1;
        }
        serial_rx_clear(port);
        const int64_t start = now_ns();
        for (int i = 0; i < 512; ++i) {
            const int64_t before = now_ns();
            serial_rts(port, 'S');
            const int byte = read_byte(link, 500);
            serial_rts(port, 'C');
            per_byte.push_back(now_ns() - before);
            missing += byte < 0 ? 1 : 0;
            micro_delay(1);
        }
        transfers.push_back(now_ns() - start);
        wait_cts(port, false, 500);
    }
    serial_close(port);
    const Summary bytes = summarise(per_byte);
    const Summary whole = summarise(transfers);
    std::printf("{\n  \"scans\": %d,\n  \"missing_bytes\": %d,\n", scans, missing);
    print_summary("byte_request", bytes, false);
    print_summary("transfer", whole, true);
    std::printf("}\n");
    return missing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    size_t samples = 200000;
    int handshake_com = 0;
    int scans = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--samples" && has_value) {
            samples = std::strtoul(argv[++i], nullptr, 10);
        } else if (arg == "--handshake" && has_value) {
            handshake_com = std::atoi(argv[++i]);
        } else if (arg == "--scans" && has_value) {
            scans = std::atoi(argv[++i]);
        } else {
            std::fprintf(
                stderr,
                "usage: zorvidlk-delay-bench [--samples N] | --handshake COM [--scans N]\n");
            return 2;
        }
    }
    if (handshake_com > 0) {
        if (std::getenv("ZORVIDLK_PORT_DIR") == nullptr) {
            std::fprintf(stderr, "zorvidlk-delay-bench: set ZORVIDLK_PORT_DIR first\n");
            return 2;
        }
        return run_handshake(handshake_com, scans < 1 ? 1 : scans);
    }
    return run_delays(samples < 100 ? 100 : samples);
}

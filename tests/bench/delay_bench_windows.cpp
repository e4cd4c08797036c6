// zorvidlk-delay-bench.exe: the Windows build's pause figures, printed as
// benchmark lines: micro_delay(1) as the acquisition calls it (a spin on the
// performance counter) and sleep_ms(1) (Sleep(1) with the timer resolution
// raised to 1 ms, as the program runs), median and 99th percentile.
//   zorvidlk-delay-bench.exe [--samples N] [--label TEXT]
// The label (default "windows") names where the figures come from, e.g. "wine".
#include "platform/process_start.h"
#include "platform/sleep.h"
#include "serial/transport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

namespace {

double counter_us(int64_t ticks) {
    static const double frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    return static_cast<double>(ticks) * 1e6 / frequency;
}

int64_t counter_now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<int64_t>(now.QuadPart);
}

template <typename Pause> std::vector<double> time_calls(size_t count, Pause pause) {
    std::vector<double> samples;
    samples.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const int64_t before = counter_now();
        pause();
        samples.push_back(counter_us(counter_now() - before));
    }
    std::sort(samples.begin(), samples.end());
    return samples;
}

double at(const std::vector<double>& sorted, double fraction) {
    return sorted[static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1))];
}

} // namespace

int main(int argc, char** argv) {
    size_t samples = 100000;
    std::string label = "windows";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--samples") {
            samples = std::max<size_t>(std::strtoul(argv[i + 1], nullptr, 10), 1);
        } else if (arg == "--label") {
            label = argv[i + 1];
        }
    }
    platform_process_start(); // the timer resolution, as the program runs
    const std::vector<double> delay = time_calls(samples, [] { micro_delay(1); });
    const std::vector<double> sleep =
        time_calls(std::min<size_t>(samples, 1000), [] { sleep_ms(1); });
    std::printf("%-34s %9.3f us median, %.3f us p99, %.3f us max (target median < 3 us: %s)\n",
                ("micro_delay(1), " + label).c_str(), at(delay, 0.5), at(delay, 0.99), delay.back(),
                at(delay, 0.5) < 3.0 ? "met" : "MISSED");
    std::printf("%-34s %9.3f us median, %.3f us p99, %.3f us max (%zu sleeps)\n",
                ("Sleep(1), " + label).c_str(), at(sleep, 0.5), at(sleep, 0.99), sleep.back(),
                sleep.size());
    return 0;
}

// Menu command G: one acquisition into a fresh buffer, then the table of
// pixels (rows) by data scans (columns) on standard output.
#include "app/spectrum_command.h"

#include "app/collect_spectra.h"

#include <cstdio>
#include <memory>
#include <new>

namespace {

// One line per pixel: "%03d," with the pixel number from 1, then the value of
// each data scan. Flushed after every value so a reader sees the table grow.
void print_table(const uint16_t* buffer, uint16_t data_scans) {
    for (int pixel = 0; pixel < PIXELS_PER_SCAN; ++pixel) {
        std::printf("%03d,", pixel + 1);
        for (int scan = 0; scan < data_scans; ++scan) {
            const uint16_t value = buffer[static_cast<size_t>(scan) * PIXELS_PER_SCAN + pixel];
            std::printf(scan + 1 < data_scans ? "%hu," : "%hu\n", value);
            std::fflush(stdout);
        }
    }
}

} // namespace

void spectrum_command(PortIndex port, const ScanSettings& settings) {
    std::printf("\n");
    const size_t count = static_cast<size_t>(settings.data_scans) * PIXELS_PER_SCAN;
    // Value-initialised: every pixel starts at 0. Released on every path.
    std::unique_ptr<uint16_t[]> buffer(new (std::nothrow) uint16_t[count]());
    if (!buffer) {
        std::printf("CAN'T allocate memory\n");
        return;
    }
    const int result = collect_spectra(port, nullptr, settings.pre_scans, settings.data_scans,
                                       settings.integration_ms, buffer.get());
    if (result == 1) {
        print_table(buffer.get(), settings.data_scans);
    } else {
        std::printf("Scan ERROR, ret = %d\n", result);
    }
}

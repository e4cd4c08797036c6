// The menu's acquisition: the settings line, the acquisition itself, its
// failure report, and the scan log of every scan collected.
#include "app/collect_spectra.h"

#include "console/prompts.h"
#include "instrument/acquisition.h"
#include "platform/clock.h"

#include <ctime>
#include <vector>

namespace {

constexpr int FAILED = -2;

// "MM/DD/YYYY hh:mm:ss," in local time, then the scan's values in position order.
void write_scan_log(std::FILE* scan_log, std::time_t started, const uint16_t* block) {
    std::tm local{};
    local_calendar(static_cast<int64_t>(started), &local);
    std::fprintf(scan_log, "%02d/%02d/%02d %02d:%02d:%02d,", local.tm_mon + 1, local.tm_mday,
                 local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    for (int position = 0; position < PIXELS_PER_SCAN - 1; ++position) {
        std::fprintf(scan_log, "%hu,", block[position]);
    }
    std::fprintf(scan_log, "%hu", block[PIXELS_PER_SCAN - 1]);
    std::fprintf(scan_log, "\n");
}

} // namespace

int collect_spectra(PortIndex port, std::FILE* scan_log, uint16_t pre_scans, uint16_t data_scans,
                    uint32_t integration_ms, uint16_t* buffer) {
    std::printf("\nPre Scans = %hu, Data Scans = %hu, Data Scan Period = %lums\n", pre_scans,
                data_scans, static_cast<unsigned long>(integration_ms));
    std::fflush(stdout);
    DeviceLink link;
    link.port = port;
    const ScanSettings settings{pre_scans, data_scans, integration_ms};
    std::vector<std::time_t> scan_started(data_scans);
    const AcquisitionResult result = acquire_spectra(
        link, settings, buffer, scan_started.empty() ? nullptr : scan_started.data());
    if (scan_log != nullptr) {
        for (uint16_t scan = 0; scan < result.scans_collected; ++scan) {
            write_scan_log(scan_log, scan_started[scan],
                           buffer + static_cast<size_t>(scan) * PIXELS_PER_SCAN);
        }
    }
    if (result.status != AcquisitionStatus::done) {
        std::fflush(stdout);
        report_failure(result.failure.text, result.failure.code);
        return FAILED;
    }
    return 1;
}

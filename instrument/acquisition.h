// One acquisition on the board's spectrometer: the settings go out, then each
// data scan is started, awaited on CTS and pulled across two bytes per pixel,
// one RTS pulse per byte.
#pragma once

#include "instrument/board_failure.h"
#include "instrument/scan_settings.h"
#include "serial/transport.h"

#include <cstdint>
#include <ctime>

enum class AcquisitionStatus {
    done,      // every data scan is in the buffer
    failed,    // a time-out: `failure` holds its code and text
    cancelled, // the link's cancel signal ended it (the board's scan was cleared)
};

struct AcquisitionResult {
    AcquisitionStatus status = AcquisitionStatus::done;
    BoardFailure failure;
    uint16_t scans_collected = 0;
    int64_t start_utc_ms = 0; // when the settings went out
    int64_t end_utc_ms = 0;   // when the last value arrived (or the acquisition ended)
};

// Runs one acquisition into `buffer` (data_scans x 256 values, scan-major).
// `scan_started`, when given, receives the wall-clock second at which each
// collected scan was started (data_scans entries).
AcquisitionResult acquire_spectra(DeviceLink& link, const ScanSettings& settings, uint16_t* buffer,
                                  std::time_t* scan_started);

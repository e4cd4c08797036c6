#pragma once

#include "serial/serial_service.h"

#include <cstdint>
#include <cstdio>

// Runs one acquisition into `buffer` (data_scans x 256 values) and tells the
// operator of it: the settings line first, a failure report on standard error.
// 1, or -2 after a reported failure. `scan_log` may be null.
int collect_spectra(PortIndex port, std::FILE* scan_log, uint16_t pre_scans, uint16_t data_scans,
                    uint32_t integration_ms, uint16_t* buffer);

#pragma once

#include <cstdint>

constexpr int PIXELS_PER_SCAN = 256;

struct ScanSettings {
    uint16_t pre_scans = 3;
    uint16_t data_scans = 3;
    uint32_t integration_ms = 650;
};

#pragma once

#include <cstdint>

constexpr int PIXELS_PER_SCAN = 256;

// The settings an acquisition may use.
constexpr uint32_t PRE_SCANS_LOW = 0;
constexpr uint32_t PRE_SCANS_HIGH = 10;
constexpr uint32_t DATA_SCANS_LOW = 1;
constexpr uint32_t DATA_SCANS_HIGH = 10;
constexpr uint32_t INTEGRATION_LOW_MS = 100;
constexpr uint32_t INTEGRATION_HIGH_MS = 1500;

struct ScanSettings {
    uint16_t pre_scans = 3;
    uint16_t data_scans = 3;
    uint32_t integration_ms = 650;
};

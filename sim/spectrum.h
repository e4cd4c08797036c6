// Synthetic spectra: a dark level and a broad continuum, a few emission lines
// placed by the seed, shot and read noise; counts grow with the integration
// period and saturate at 65535. Deterministic for a seed and a scan number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t SIM_PIXELS = 256;
using Spectrum = std::array<uint16_t, SIM_PIXELS>;

struct EmissionLine {
    double center;   // pixel
    double width;    // pixels (standard deviation)
    double strength; // counts per millisecond of integration at the peak
};

struct SpectrumModel {
    uint64_t seed = 1;
    std::vector<EmissionLine> lines;
};

SpectrumModel spectrum_model(uint64_t seed);

// The spectrum of one scan in pixel order. Its 512 transfer bytes always
// include 0x00, 0x0A, 0x0D and 0xFF (a low byte of an edge pixel is adjusted
// when one is missing), so every transfer exercises escaping and line handling.
Spectrum spectrum_generate(const SpectrumModel& model, uint32_t integration_ms, uint32_t scan);

// The transfer order: pixel 255 first, each value high byte first.
std::array<uint8_t, 2 * SIM_PIXELS> spectrum_transfer_bytes(const Spectrum& spectrum);

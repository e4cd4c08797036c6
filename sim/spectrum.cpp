#include "sim/spectrum.h"

#include <algorithm>
#include <cmath>

namespace {

// splitmix64: small, fast, the same sequence on every platform.
uint64_t next_random(uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Uniform in (0, 1).
double uniform(uint64_t& state) {
    return (static_cast<double>(next_random(state) >> 11) + 0.5) / 9007199254740992.0;
}

double gaussian(uint64_t& state) {
    const double u1 = uniform(state);
    const double u2 = uniform(state);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

constexpr double DARK_COUNTS = 380.0;
constexpr double DARK_PER_MS = 0.6;
constexpr double CONTINUUM_PER_MS = 9.0;
constexpr double READ_NOISE = 6.0;

bool has_byte(const Spectrum& spectrum, uint8_t byte) {
    return std::any_of(spectrum.begin(), spectrum.end(), [byte](uint16_t value) {
        return (value >> 8) == byte || (value & 0xFF) == byte;
    });
}

} // namespace

SpectrumModel spectrum_model(uint64_t seed) {
    SpectrumModel model;
    model.seed = seed;
    uint64_t state = seed ^ 0x5A17E5EEDULL;
    const int count = 3 + static_cast<int>(next_random(state) % 4);
    for (int i = 0; i < count; ++i) {
        EmissionLine line{};
        line.center = 16.0 + uniform(state) * 224.0;
        line.width = 1.2 + uniform(state) * 2.8;
        line.strength = 15.0 + uniform(state) * 110.0;
        model.lines.push_back(line);
    }
    return model;
}

Spectrum spectrum_generate(const SpectrumModel& model, uint32_t integration_ms, uint32_t scan) {
    uint64_t state = model.seed * 0x100000001B3ULL + scan;
    const double period = static_cast<double>(integration_ms);
    Spectrum spectrum{};
    for (size_t pixel = 0; pixel < SIM_PIXELS; ++pixel) {
        const double x = static_cast<double>(pixel);
        // A broad continuum peaking in the middle of the sensor, falling to the edges.
        const double hump = std::exp(-0.5 * std::pow((x - 120.0) / 70.0, 2.0));
        double signal = CONTINUUM_PER_MS * hump;
        for (const EmissionLine& line : model.lines) {
            signal +=
                line.strength * std::exp(-0.5 * std::pow((x - line.center) / line.width, 2.0));
        }
        const double mean = DARK_COUNTS + (DARK_PER_MS + signal) * period;
        const double noisy =
            mean + gaussian(state) * std::sqrt(mean) + gaussian(state) * READ_NOISE;
        spectrum[pixel] = static_cast<uint16_t>(std::clamp(std::lround(noisy), 0L, 65535L));
    }
    // Edge pixels see the least light: adjusting one of their low bytes stays
    // within the noise while it guarantees the byte values every transfer must carry.
    constexpr std::array<uint8_t, 4> must_have = {0x00, 0x0A, 0x0D, 0xFF};
    const bool complete = std::all_of(must_have.begin(), must_have.end(),
                                      [&](uint8_t byte) { return has_byte(spectrum, byte); });
    if (!complete) {
        for (size_t i = 0; i < must_have.size(); ++i) {
            uint16_t& value = spectrum[1 + i];
            value = static_cast<uint16_t>((value & 0xFF00) | must_have[i]);
        }
    }
    return spectrum;
}

std::array<uint8_t, 2 * SIM_PIXELS> spectrum_transfer_bytes(const Spectrum& spectrum) {
    std::array<uint8_t, 2 * SIM_PIXELS> bytes{};
    for (size_t i = 0; i < SIM_PIXELS; ++i) {
        const uint16_t value = spectrum[SIM_PIXELS - 1 - i];
        bytes[2 * i] = static_cast<uint8_t>(value >> 8);
        bytes[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
    }
    return bytes;
}

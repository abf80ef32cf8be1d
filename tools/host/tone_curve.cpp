#include "tone_curve.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace b58::host {

size_t GammaEntries(uint16_t driverMode) {
    return driverMode == ModeColor48 ? 65536 : 256;
}

std::vector<uint16_t> BuildGammaTables(const ToneControls& tone, uint16_t driverMode) {
    if (tone.Identity()) return {};
    const size_t entries = GammaEntries(driverMode);
    const double top = static_cast<double>(entries - 1);
    const double slope =
        std::tan((std::clamp(tone.contrast, -100.0, 100.0) + 100) / 200 * std::numbers::pi / 2);
    const double offset = std::clamp(tone.brightness, -100.0, 100.0) / 100;
    const double exponent = 1 / std::max(tone.gamma, 0.01);
    std::vector<uint16_t> tables(entries * 3);
    for (size_t i = 0; i < entries; ++i) {
        double v = std::pow(static_cast<double>(i) / top, exponent);
        v = (v - 0.5) * slope + 0.5 + offset;
        tables[i] = static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 1.0) * top));
    }
    std::copy_n(tables.begin(), entries, tables.begin() + static_cast<std::ptrdiff_t>(entries));
    std::copy_n(tables.begin(), entries, tables.begin() + static_cast<std::ptrdiff_t>(2 * entries));
    return tables;
}

}  // namespace b58::host

#include <algorithm>
#include <cstdint>

#include "calibration/afe_calibration.h"

namespace b58 {

namespace {

constexpr uint32_t kBins = 1200;
constexpr uint32_t kWhiteBin = 10;
constexpr uint16_t kNoBlack = 255;

struct BlackWindow {
    uint32_t start;
    uint32_t end;  // exclusive
    uint32_t binSize;
};

BlackWindow BlackWindowOf(uint16_t dpi, int taSelector) {
    const uint32_t d = dpi;
    if (taSelector) return {0, d * 400 / 300, d >= 75 ? 10u : 5u};
    return {d * 12 / 300, d * 120 / 300, d >= 300 ? 4u : d >= 100 ? 3u : 2u};
}

}  // namespace

StripLevels MeasureStripLevels(const uint8_t* plane, uint16_t stripWidth, uint16_t stripLines,
                               uint16_t calibrationDpi, int taSelector) {
    StripLevels levels;
    levels.MinBlack = kNoBlack;
    // A strip without rows has no levels to average (and nothing to divide by).
    if (stripLines == 0) {
        levels.MidLevel = static_cast<uint16_t>((levels.MinBlack + levels.MaxWhite) / 2);
        return levels;
    }
    uint32_t bins[kBins];

    // White: the brightest 10-pixel bin over the whole strip.
    std::fill(bins, bins + kBins, 0u);
    const uint32_t whiteBins = std::min<uint32_t>(stripWidth / kWhiteBin, kBins);
    const uint32_t whiteWidth = whiteBins * kWhiteBin;
    for (uint32_t r = 0; r < stripLines; ++r) {
        const uint8_t* row = plane + static_cast<size_t>(r) * stripWidth;
        for (uint32_t x = 0; x < whiteWidth; ++x) bins[x / kWhiteBin] += row[x];
    }
    uint32_t maxWhite = 0;
    for (uint32_t b = 0; b < whiteBins; ++b)
        maxWhite = std::max(maxWhite, bins[b] / (stripLines * kWhiteBin));
    levels.MaxWhite = static_cast<uint16_t>(maxWhite);

    // Black: the darkest bin of the window at the strip's left end; a partial last bin is not
    // used. Rows are stepped by the strip's width, as they lie in the plane. Where the window
    // starts inside a bin (75, 100 and 200 dpi) that first bin holds fewer samples than the bin
    // size and is averaged over the samples it holds: dividing it by the full size would read
    // the black a third or half too dark and over-drive the offsets.
    std::fill(bins, bins + kBins, 0u);
    const BlackWindow window = BlackWindowOf(calibrationDpi, taSelector);
    const uint32_t end = std::min({window.end, static_cast<uint32_t>(stripWidth), kBins * window.binSize});
    for (uint32_t r = 0; r < stripLines; ++r) {
        const uint8_t* row = plane + static_cast<size_t>(r) * stripWidth;
        for (uint32_t x = window.start; x < end; ++x) bins[x / window.binSize] += row[x];
    }
    uint32_t minBlack = kNoBlack;
    bool any = false;
    for (uint32_t b = window.start / window.binSize; b < end / window.binSize; ++b) {
        const uint32_t first = std::max(b * window.binSize, window.start);
        const uint32_t samples = (b + 1) * window.binSize - first;
        const uint32_t level = bins[b] / (samples * stripLines);
        minBlack = any ? std::min(minBlack, level) : level;
        any = true;
    }
    levels.MinBlack = static_cast<uint16_t>(minBlack);
    levels.MidLevel = static_cast<uint16_t>((levels.MinBlack + levels.MaxWhite) / 2);
    return levels;
}

}  // namespace b58

// Pure builders that turn shading strips into per-pixel corrections: 256-entry byte maps for
// 8-bit samples, white and dark references for 16-bit samples. Each works on one colour.
// Strip rows lie `stripWidth` samples apart in 8-bit planes and 2 x `stripWidth` samples
// apart in 16-bit planes; only pixels 0 .. stripWidth - 1 are written.
#pragma once

#include <cstdint>

namespace b58 {

inline constexpr int kMapEntries = 256;

// Exchange sort, ascending.
void SortSamples(uint16_t* samples, int count);

// The sum and count of the middle band of one pixel's samples over the strip's rows.
struct TrimmedSum {
    uint32_t sum = 0;
    uint32_t count = 0;
    uint32_t Integer() const { return count == 0 ? 0 : sum / count; }
    float Exact() const { return count == 0 ? 0.0f : static_cast<float>(sum) / static_cast<float>(count); }
};

// The middle band of a pixel's sorted samples, in percent of the rows.
struct PercentBand {
    int low = 0;
    int high = 100;
};

// Collects the sample of `pixel` from each of `rows` rows (`rowStride` apart), sorts them and
// sums the sorted positions rows x low% / 100 .. rows x high% / 100. `scratch` holds `rows`.
TrimmedSum TrimmedMean(const uint8_t* plane, int rowStride, int rows, int pixel, PercentBand band,
                       uint16_t* scratch);
TrimmedSum TrimmedMean(const uint16_t* plane, int rowStride, int rows, int pixel, PercentBand band,
                       uint16_t* scratch);

// White from the strip, black from the colour's black level; the white span is scaled by
// factor percent and the entries are truncated.
void BuildMapsFromBlackLevel(const uint8_t* white, uint16_t stripWidth, uint16_t stripLines,
                             uint8_t blackLevel, uint16_t factor, uint8_t* maps);
// White and black both from strips (fractional means); entries rounded.
void BuildMapsFromDarkStrip(const uint8_t* white, const uint8_t* dark, uint16_t stripWidth,
                            uint16_t stripLines, uint8_t* maps);
// White from the adapter's strip, black from the colour's black level; entries rounded.
void BuildTaMapsFromBlackLevel(const uint8_t* white, uint16_t stripWidth, uint16_t stripLines,
                               uint8_t blackLevel, uint8_t* maps);

// 16-bit references from a white and a dark strip.
void BuildReferences16(const uint16_t* white, const uint16_t* dark, uint16_t stripWidth, uint16_t stripLines,
                       uint16_t* whiteRef, uint16_t* darkRef);
// 16-bit references when no dark strip is taken: white from the strip, dark the colour's
// 8-bit black level scaled to 16 bits. A pixel whose white is not above that dark gets the
// neutral references (dark 0, white 65535), which leave its samples as they are.
void BuildReferences16FromBlackLevel(const uint16_t* white, uint16_t stripWidth, uint16_t stripLines,
                                     uint8_t blackLevel, uint16_t* whiteRef, uint16_t* darkRef);

}  // namespace b58

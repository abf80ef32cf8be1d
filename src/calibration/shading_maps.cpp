#include "calibration/shading_maps.h"

#include <algorithm>
#include <vector>

namespace b58 {
namespace {

constexpr PercentBand kWhiteBand{35, 65};
constexpr PercentBand kDarkBand16{25, 50};

template <typename Sample>
TrimmedSum TrimmedMeanOf(const Sample* plane, int rowStride, int rows, int pixel, PercentBand band,
                         uint16_t* scratch) {
    TrimmedSum result;
    if (rows <= 0) return result;
    for (int r = 0; r < rows; ++r) scratch[r] = plane[static_cast<long>(r) * rowStride + pixel];
    SortSamples(scratch, rows);
    const int lo = rows * band.low / 100;
    int hi = rows * band.high / 100;
    if (hi > rows - 1) hi = rows - 1;
    for (int i = lo; i <= hi; ++i) result.sum += scratch[i];
    result.count = hi >= lo ? static_cast<uint32_t>(hi - lo + 1) : 0;
    return result;
}

// Clamped to 0..255 and truncated toward zero.
uint8_t MapEntry(float value) {
    if (!(value > 0.0f)) return 0;
    if (value > 255.0f) return 255;
    return static_cast<uint8_t>(value);
}

void IdentityMap(uint8_t* map) {
    for (int v = 0; v < kMapEntries; ++v) map[v] = static_cast<uint8_t>(v);
}

// One map per pixel: (v - b) x 255 / span + bias, with identity where the span is not positive.
template <typename Pixel>
void FillMaps(uint16_t stripWidth, uint8_t* maps, Pixel pixel) {
    for (int p = 0; p < stripWidth; ++p) {
        uint8_t* map = maps + static_cast<long>(p) * kMapEntries;
        float black = 0.0f, span = 0.0f, bias = 0.0f;
        if (!pixel(p, &black, &span, &bias)) {
            IdentityMap(map);
            continue;
        }
        for (int v = 0; v < kMapEntries; ++v)
            map[v] = MapEntry((static_cast<float>(v) - black) * 255.0f / span + bias);
    }
}

// A pixel's white level against a black level byte, kept to its fraction: cut to a whole
// code, a white of about 200 loses up to half a percent, which scales the pixel's column up
// to a code brighter than its neighbours in every line.
float WhiteLevel(const uint8_t* white, uint16_t stripWidth, uint16_t stripLines, int pixel,
                 uint16_t* scratch) {
    return TrimmedMean(white, stripWidth, stripLines, pixel, kWhiteBand, scratch).Exact();
}

}  // namespace

// Ascending order; equal samples are indistinguishable, so any sort gives the exchange sort's
// result, and a standard one does it in n log n rather than n squared per column.
void SortSamples(uint16_t* samples, int count) {
    if (count > 1) std::sort(samples, samples + count);
}

TrimmedSum TrimmedMean(const uint8_t* plane, int rowStride, int rows, int pixel, PercentBand band,
                       uint16_t* scratch) {
    return TrimmedMeanOf(plane, rowStride, rows, pixel, band, scratch);
}

TrimmedSum TrimmedMean(const uint16_t* plane, int rowStride, int rows, int pixel, PercentBand band,
                       uint16_t* scratch) {
    return TrimmedMeanOf(plane, rowStride, rows, pixel, band, scratch);
}

// A white level at or below the black one (a dead pixel) gets the identity map rather than
// an inverted one.
void BuildMapsFromBlackLevel(const uint8_t* white, uint16_t stripWidth, uint16_t stripLines,
                             uint8_t blackLevel, uint16_t factor, uint8_t* maps) {
    std::vector<uint16_t> scratch(stripLines);
    const float scale = static_cast<float>(factor) / 100.0f;
    FillMaps(stripWidth, maps, [&](int p, float* black, float* span, float* bias) {
        const float range = WhiteLevel(white, stripWidth, stripLines, p, scratch.data()) - blackLevel;
        if (range <= 0.0f) return false;
        *black = blackLevel;
        *span = range * scale;
        *bias = 0.0f;
        return *span > 0.0f;
    });
}

void BuildMapsFromDarkStrip(const uint8_t* white, const uint8_t* dark, uint16_t stripWidth,
                            uint16_t stripLines, uint8_t* maps) {
    std::vector<uint16_t> scratch(stripLines);
    FillMaps(stripWidth, maps, [&](int p, float* black, float* span, float* bias) {
        const float w = TrimmedMean(white, stripWidth, stripLines, p, kWhiteBand, scratch.data()).Exact();
        const float b = TrimmedMean(dark, stripWidth, stripLines, p, kWhiteBand, scratch.data()).Exact();
        if (w - b <= 0.0f) return false;
        *black = b;
        *span = w - b;
        *bias = 0.5f;
        return true;
    });
}

void BuildTaMapsFromBlackLevel(const uint8_t* white, uint16_t stripWidth, uint16_t stripLines,
                               uint8_t blackLevel, uint8_t* maps) {
    std::vector<uint16_t> scratch(stripLines);
    FillMaps(stripWidth, maps, [&](int p, float* black, float* span, float* bias) {
        const float range = WhiteLevel(white, stripWidth, stripLines, p, scratch.data()) - blackLevel;
        if (range <= 0.0f) return false;
        *black = blackLevel;
        *span = range;
        *bias = 0.5f;
        return true;
    });
}

void BuildReferences16(const uint16_t* white, const uint16_t* dark, uint16_t stripWidth, uint16_t stripLines,
                       uint16_t* whiteRef, uint16_t* darkRef) {
    std::vector<uint16_t> scratch(stripLines);
    const int stride = 2 * stripWidth;
    for (int p = 0; p < stripWidth; ++p) {
        whiteRef[p] = static_cast<uint16_t>(
            TrimmedMean(white, stride, stripLines, p, kWhiteBand, scratch.data()).Integer());
        darkRef[p] = static_cast<uint16_t>(
            TrimmedMean(dark, stride, stripLines, p, kDarkBand16, scratch.data()).Integer());
    }
}

void BuildReferences16FromBlackLevel(const uint16_t* white, uint16_t stripWidth, uint16_t stripLines,
                                     uint8_t blackLevel, uint16_t* whiteRef, uint16_t* darkRef) {
    std::vector<uint16_t> scratch(stripLines);
    const int stride = 2 * stripWidth;
    const uint32_t dark = blackLevel * 257u;  // the byte's full 16-bit equivalent
    for (int p = 0; p < stripWidth; ++p) {
        const uint32_t w = TrimmedMean(white, stride, stripLines, p, kWhiteBand, scratch.data()).Integer();
        if (w <= dark) {
            whiteRef[p] = 65535;
            darkRef[p] = 0;
        } else {
            whiteRef[p] = static_cast<uint16_t>(w);
            darkRef[p] = static_cast<uint16_t>(dark);
        }
    }
}

}  // namespace b58

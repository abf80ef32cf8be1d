// The conversion of raw sensor lines into the host's pixel formats: per-pixel shading map
// (or, for 16-bit samples, the white and dark references), the host's gamma curve and the
// colour byte order. Pure functions over the raw lines and tables they are given.
//
// A raw line may hold fewer samples than the output line has pixels; output pixels beyond
// the raw line repeat its last sample, so nothing past the raw line is ever read.
#pragma once

#include <cstdint>

namespace b58 {

inline constexpr int kGammaSection8 = 256;
inline constexpr int kGammaSection16 = 65536;

// One colour's samples in a raw line: sample p is bytes[p * stride] (8-bit) or the
// little-endian value at bytes[p * 2] (16-bit planes), for p below `samples`.
struct RawSamples {
    const uint8_t* bytes;
    int stride;
    int samples;
};

// The raw samples of one output line's red, green and blue.
struct ColourSamples {
    RawSamples red;
    RawSamples green;
    RawSamples blue;
};

// Byte position of each colour inside an output colour pixel (0, 1, 2 or 2, 1, 0).
struct ColourOffsets {
    int red;
    int green;
    int blue;
};

// One bit per pixel, pixel 0 in bit 7 of byte 0: 1 when the gamma-mapped shaded value is
// greater than `threshold`. Writes exactly `lineBytes` bytes (pixels beyond them are dropped,
// bytes beyond the pixels stay 0). Pixels past the raw line's samples are white (1): the line
// is rounded up to whole bytes, and hosts crop it to the width they asked for.
void ConvertLineArt(const RawSamples& raw, int pixels, const uint8_t* mapG, const uint16_t* gamma,
                    uint16_t threshold, uint8_t* out, int lineBytes);

// One byte per pixel, through the green maps and the first gamma section.
void ConvertGray(const RawSamples& raw, int pixels, const uint8_t* mapG, const uint16_t* gamma, uint8_t* out);

struct ColourMaps {
    const uint8_t* red;
    const uint8_t* green;
    const uint8_t* blue;
};

// Three bytes per pixel, each colour through its maps and its gamma section.
void ConvertColor24(const ColourSamples& raw, int pixels, const ColourMaps& maps, const uint16_t* gamma,
                    const ColourOffsets& offsets, uint8_t* out);

// The white and dark references of one colour; null references read as 65535 and 0.
struct ShadingReferences {
    const uint16_t* white;
    const uint16_t* dark;
};

// The gamma index of a 16-bit raw sample r against its references: (r - d) / (w - d) of full
// scale, clamped to 0..65535; with w == d full scale when r > d, else 0.
int ShadedIndex16(uint16_t r, uint16_t w, uint16_t d);

// Six bytes per pixel: each colour's 16-bit gamma entry, low byte first.
void ConvertColor48(const ColourSamples& raw, int pixels, const ShadingReferences refs[3],
                    const uint16_t* gamma, const ColourOffsets& offsets, uint8_t* out);

}  // namespace b58

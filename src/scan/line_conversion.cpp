#include "scan/line_conversion.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "scan/scan_run.h"

namespace b58 {
namespace {

// Sample p, or the raw line's last sample past its end.
inline uint8_t Sample8(const RawSamples& raw, int p) {
    return raw.bytes[static_cast<size_t>(std::min(p, raw.samples - 1)) * static_cast<size_t>(raw.stride)];
}

inline uint16_t Sample16(const RawSamples& raw, int p) {
    const uint8_t* at = raw.bytes + static_cast<size_t>(std::min(p, raw.samples - 1)) * 2;
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

inline uint8_t Shade8(const uint8_t* maps, int p, uint8_t sample, const uint16_t* gammaSection) {
    return static_cast<uint8_t>(gammaSection[maps[static_cast<size_t>(p) * kPixelMapBytes + sample]] & 0xFF);
}

}  // namespace

void ConvertLineArt(const RawSamples& raw, int pixels, const uint8_t* mapG, const uint16_t* gamma,
                    uint16_t threshold, uint8_t* out, int lineBytes) {
    std::fill(out, out + lineBytes, uint8_t{0});
    if (raw.samples <= 0) return;
    uint8_t bits = 0;
    int written = 0;
    for (int p = 0; p < pixels && written < lineBytes; ++p) {
        // Pixels the scanner did not send (the byte rounding's last few) read as white
        // background rather than as a repeated, unshaded last sample.
        const bool set = p >= raw.samples || Shade8(mapG, p, Sample8(raw, p), gamma) > threshold;
        bits = static_cast<uint8_t>(bits << 1 | (set ? 1 : 0));
        if (p % 8 == 7) {
            out[written++] = bits;
            bits = 0;
        }
    }
}

void ConvertGray(const RawSamples& raw, int pixels, const uint8_t* mapG, const uint16_t* gamma,
                 uint8_t* out) {
    if (raw.samples <= 0) return;
    for (int p = 0; p < pixels; ++p) out[p] = Shade8(mapG, p, Sample8(raw, p), gamma);
}

void ConvertColor24(const ColourSamples& raw, int pixels, const ColourMaps& maps, const uint16_t* gamma,
                    const ColourOffsets& offsets, uint8_t* out) {
    const RawSamples& red = raw.red;
    const RawSamples& green = raw.green;
    const RawSamples& blue = raw.blue;
    if (red.samples <= 0 || green.samples <= 0 || blue.samples <= 0) return;
    for (int p = 0; p < pixels; ++p) {
        uint8_t* pixel = out + static_cast<size_t>(p) * 3;
        pixel[offsets.red] = Shade8(maps.red, p, Sample8(red, p), gamma);
        pixel[offsets.green] = Shade8(maps.green, p, Sample8(green, p), gamma + kGammaSection8);
        pixel[offsets.blue] = Shade8(maps.blue, p, Sample8(blue, p), gamma + 2 * kGammaSection8);
    }
}

// In integers: (r - d) x 65535 / (w - d) truncated exactly. A single-precision quotient scaled
// afterwards lands one code low on about one sample in a thousand.
int ShadedIndex16(uint16_t r, uint16_t w, uint16_t d) {
    if (w == d) return r > d ? 65535 : 0;
    const int64_t num = static_cast<int64_t>(r) - d;
    const int64_t den = static_cast<int64_t>(w) - d;
    const int64_t i = num * 65535 / den;
    return static_cast<int>(std::clamp<int64_t>(i, 0, 65535));
}

void ConvertColor48(const ColourSamples& raw, int pixels, const ShadingReferences refs[3],
                    const uint16_t* gamma, const ColourOffsets& offsets, uint8_t* out) {
    const RawSamples& red = raw.red;
    const RawSamples& green = raw.green;
    const RawSamples& blue = raw.blue;
    if (red.samples <= 0 || green.samples <= 0 || blue.samples <= 0) return;
    const RawSamples* planes[3] = {&red, &green, &blue};
    const int colourOffset[3] = {offsets.red, offsets.green, offsets.blue};
    for (int p = 0; p < pixels; ++p) {
        uint8_t* pixel = out + static_cast<size_t>(p) * 6;
        for (int c = 0; c < 3; ++c) {
            const uint16_t w = refs[c].white ? refs[c].white[p] : 0xFFFF;
            const uint16_t d = refs[c].dark ? refs[c].dark[p] : 0;
            const int i = ShadedIndex16(Sample16(*planes[c], p), w, d);
            const uint16_t value = gamma[static_cast<size_t>(c) * kGammaSection16 + static_cast<size_t>(i)];
            pixel[2 * colourOffset[c]] = static_cast<uint8_t>(value & 0xFF);
            pixel[2 * colourOffset[c] + 1] = static_cast<uint8_t>(value >> 8);
        }
    }
}

}  // namespace b58

// The pixel formats the host library hands to its consumers, and the shape of one image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace b58::host {

enum class PixelKind {
    Bilevel,  // 1 bit per pixel, most significant bit first; polarity as the scan asked
    Gray8,
    Rgb24,  // red, green, blue
    Rgb48,  // red, green, blue; each sample 16 bits, low byte first
};

// Line art polarity. The driver delivers 1 = white; SANE and most file formats' bilevel
// photometrics want 1 = black.
enum class BilevelPolarity { OneIsWhite, OneIsBlack };

struct ImageFormat {
    PixelKind kind = PixelKind::Gray8;
    uint32_t width = 0;   // pixels
    uint32_t height = 0;  // lines the scan will deliver when it completes
    uint32_t xDpi = 0;    // resolution across and down (equal: the host delivers square pixels)
    uint32_t yDpi = 0;
    BilevelPolarity polarity = BilevelPolarity::OneIsWhite;
};

// Bytes per row of `width` pixels of `kind`.
size_t RowBytesFor(PixelKind kind, uint32_t width);
inline size_t RowBytes(const ImageFormat& format) {
    return RowBytesFor(format.kind, format.width);
}

}  // namespace b58::host

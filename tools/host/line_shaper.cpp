#include "line_shaper.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace b58::host {
namespace {

uint32_t SamplesPerPixel(PixelKind kind) {
    return kind == PixelKind::Rgb24 || kind == PixelKind::Rgb48 ? 3 : 1;
}

}  // namespace

LineShaper::LineShaper(const LineShape& shape) : shape_(shape) {
    const int64_t last = static_cast<int64_t>(shape_.deliveredPixels) - 1;
    auto clamp = [last](int64_t column) {
        return static_cast<uint32_t>(std::clamp<int64_t>(column, 0, last));
    };
    source_.resize(shape_.width);
    next_.resize(shape_.width);
    weight_.resize(shape_.width);
    for (uint32_t x = 0; x < shape_.width; ++x) {
        // Centre of output pixel x in delivered columns of the area, less half a pixel: the
        // position between the two delivered centres it lies between.
        const double at = (x + 0.5) / shape_.scale - 0.5;
        const double base = std::floor(at);
        int64_t column = shape_.firstColumn + static_cast<int64_t>(base);
        uint16_t weight = static_cast<uint16_t>(std::lround((at - base) * 256));
        if (shape_.kind == PixelKind::Bilevel || shape_.scale == 1) {  // no blending
            column = shape_.firstColumn + static_cast<int64_t>(x / shape_.scale);
            weight = 0;
        }
        source_[x] = clamp(column);
        next_[x] = clamp(column + 1);
        weight_[x] = weight;
    }
    if (shape_.kind == PixelKind::Bilevel) bits_.resize(shape_.deliveredPixels);
}

void LineShaper::Shape(const uint8_t* in, uint8_t* out) {
    const uint32_t width = shape_.width;
    switch (shape_.kind) {
        case PixelKind::Bilevel: {
            for (uint32_t p = 0; p < shape_.deliveredPixels; ++p)
                bits_[p] = (in[p >> 3] >> (7 - (p & 7))) & 1;
            const uint8_t flip = shape_.invertBilevel ? 1 : 0;
            std::memset(out, 0, OutputBytes());
            for (uint32_t x = 0; x < width; ++x) {
                if ((bits_[source_[x]] ^ flip) != 0) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            }
            break;
        }
        case PixelKind::Gray8:
        case PixelKind::Rgb24: {
            const uint32_t n = SamplesPerPixel(shape_.kind);
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* a = in + size_t{source_[x]} * n;
                const uint8_t* b = in + size_t{next_[x]} * n;
                const uint32_t w = weight_[x];
                for (uint32_t c = 0; c < n; ++c) {
                    out[size_t{x} * n + c] = static_cast<uint8_t>((a[c] * (256 - w) + b[c] * w + 128) >> 8);
                }
            }
            break;
        }
        case PixelKind::Rgb48: {
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* a = in + size_t{source_[x]} * 6;
                const uint8_t* b = in + size_t{next_[x]} * 6;
                const uint32_t w = weight_[x];
                for (uint32_t c = 0; c < 3; ++c) {
                    const uint32_t va = a[2 * c] | (a[2 * c + 1] << 8), vb = b[2 * c] | (b[2 * c + 1] << 8);
                    const uint32_t v = (va * (256 - w) + vb * w + 128) >> 8;
                    out[size_t{x} * 6 + 2 * c] = static_cast<uint8_t>(v);
                    out[size_t{x} * 6 + 2 * c + 1] = static_cast<uint8_t>(v >> 8);
                }
            }
            break;
        }
    }
}

}  // namespace b58::host

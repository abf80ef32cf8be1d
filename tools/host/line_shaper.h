// Turns each delivered line into a line of the exact requested area with square pixels:
// picks the requested columns (padding by repeating the edge pixel where the driver's image
// falls short), stretches across when the driver delivers fewer pixels across than down,
// and sets line art's polarity.
#pragma once

#include <cstdint>
#include <vector>

#include "image_format.h"

namespace b58::host {

struct LineShape {
    PixelKind kind = PixelKind::Gray8;
    uint32_t deliveredPixels = 0;  // pixels in a delivered line
    int32_t firstColumn = 0;       // delivered column of the area's first column (< 0: pad)
    uint32_t columns = 0;          // the area's width in delivered columns
    uint32_t scale = 1;            // output pixels per delivered pixel across
    uint32_t width = 0;            // output pixels (at most columns x scale)
    bool invertBilevel = false;
};

class LineShaper {
  public:
    explicit LineShaper(const LineShape& shape);
    size_t OutputBytes() const { return RowBytesFor(shape_.kind, shape_.width); }
    // `delivered` holds a delivered line; `out` OutputBytes() bytes.
    void Shape(const uint8_t* delivered, uint8_t* out);

  private:
    LineShape shape_;
    std::vector<uint32_t> source_;  // per output pixel: left delivered column, clamped
    std::vector<uint32_t> next_;    // and its right neighbour, clamped
    std::vector<uint16_t> weight_;  // of the right neighbour, in 1/256
    std::vector<uint8_t> bits_;     // line art unpacked, one byte per pixel
};

}  // namespace b58::host

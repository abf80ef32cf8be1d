#include "sim/document.h"

#include <stdexcept>
#include <utility>

namespace b58::sim {

RasterDocument::RasterDocument(int width, int height, double dpiX, double dpiY, int channels,
                               std::vector<uint16_t> samples)
    : Document(width, height, dpiX, dpiY), channels_(channels), samples_(std::move(samples)) {
    if (width <= 0 || height <= 0 || !(dpiX > 0.0) || !(dpiY > 0.0) || (channels != 1 && channels != 3) ||
        samples_.size() !=
            static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(channels)) {
        throw std::invalid_argument("document size, resolution or channel count out of range");
    }
}

void RasterDocument::Row(int y, float* red, float* green, float* blue) const {
    constexpr float kScale = 1.0f / 65535.0f;
    const uint16_t* p = samples_.data() + static_cast<size_t>(y) * Width() * channels_;
    if (channels_ == 1) {
        for (int x = 0; x < Width(); ++x) red[x] = green[x] = blue[x] = p[x] * kScale;
        return;
    }
    for (int x = 0; x < Width(); ++x, p += 3) {
        red[x] = p[0] * kScale;
        green[x] = p[1] * kScale;
        blue[x] = p[2] * kScale;
    }
}

}  // namespace b58::sim

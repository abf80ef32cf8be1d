// An image as rows of samples: what the ground truth renders and what b58sim writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace b58::sim {

struct SampleImage {
    int width = 0;
    int height = 0;
    int channels = 1;               // 1 grey, 3 red-green-blue
    int bitDepth = 8;               // 8 or 16
    std::vector<uint16_t> samples;  // row by row, `channels` per pixel, 0..255 or 0..65535
    double dpiX = 0.0;              // resolution, when known
    double dpiY = 0.0;

    uint16_t At(int x, int y, int channel = 0) const {
        return samples[(static_cast<size_t>(y) * width + x) * channels + channel];
    }
};

}  // namespace b58::sim

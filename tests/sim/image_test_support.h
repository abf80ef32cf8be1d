// Helpers shared by the image model's tests.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/document.h"
#include "sim/scanner_model.h"
#include "sim/stream_source.h"

namespace b58::sim::testing {

inline std::vector<uint8_t> ReadAll(StreamSource& stream) {
    std::vector<uint8_t> bytes(stream.TotalBytes());
    bytes.resize(stream.Produce(bytes.data(), bytes.size()));
    return bytes;
}

// A document of one colour, `width` x `height` at 300 dpi.
inline std::shared_ptr<const RasterDocument> SolidDocument(int width, int height, std::array<double, 3> rgb) {
    std::vector<uint16_t> samples(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint16_t>(rgb[i % 3] * 65535.0 + 0.5);
    return std::make_shared<const RasterDocument>(width, height, 300.0, 300.0, 3, std::move(samples));
}

// White paper with black rectangles (left, top, width, height in 300-dpi pixels).
inline std::shared_ptr<const RasterDocument> PaperWithMarks(int width, int height,
                                                            const std::vector<std::array<int, 4>>& marks) {
    std::vector<uint16_t> samples(static_cast<size_t>(width) * height, 60000);
    for (const auto& m : marks) {
        for (int y = m[1]; y < m[1] + m[3]; ++y) {
            for (int x = m[0]; x < m[0] + m[2]; ++x) samples[static_cast<size_t>(y) * width + x] = 0;
        }
    }
    return std::make_shared<const RasterDocument>(width, height, 300.0, 300.0, 1, std::move(samples));
}

inline std::shared_ptr<const ScannerModel> ModelWithDocument(std::shared_ptr<const Document> document,
                                                             uint64_t seed = 7) {
    BedContents contents;
    contents.document.document = std::move(document);
    return std::make_shared<const ScannerModel>(seed, std::move(contents));
}

// AFE values the driver's flatbed search settles on with the default device (seed 1).
inline AfeSettings CalibratedAfe() {
    AfeSettings afe;
    afe.offset[0] = 51;
    afe.offset[1] = 50;
    afe.offset[2] = 51;
    afe.gain[0] = 12;
    afe.gain[1] = 9;
    afe.gain[2] = 14;
    return afe;
}

}  // namespace b58::sim::testing

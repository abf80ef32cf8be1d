#include "sim/placeholder_stream.h"

#include <algorithm>
#include <cstring>

#include "sim/scan_window_decoder.h"

namespace b58::sim {

PlaceholderStream::PlaceholderStream(const ScanWindow& window, uint32_t seed)
    : window_(window), seed_(seed), total_(StreamBytes(window)), scanLine_(BytesPerScanLine(window)) {}

void PlaceholderStream::FillScanLine(uint32_t line) {
    const uint32_t sampleBytes = window_.dataWidth > 8 ? 2 : 1;
    const uint32_t planes = PlanesPerLine(window_);
    const bool interleaved = planes == 3 && window_.PixelMode();
    for (size_t i = 0; i < scanLine_.size(); ++i) {
        uint32_t plane = 0;
        uint32_t pixel = 0;
        if (interleaved) {
            const size_t sample = i / sampleBytes;
            plane = static_cast<uint32_t>(sample % 3);
            pixel = static_cast<uint32_t>(sample / 3);
        } else {
            plane = static_cast<uint32_t>(i / window_.lineBytes);
            pixel = static_cast<uint32_t>((i % window_.lineBytes) / sampleBytes);
        }
        scanLine_[i] = PlaceholderSampleByte(line, plane, pixel, seed_);
    }
    scanLineIndex_ = line;
}

size_t PlaceholderStream::Produce(uint8_t* dst, size_t n) {
    const uint64_t lineSize = scanLine_.size();
    size_t done = 0;
    while (done < n && position_ < total_) {
        const uint64_t line = position_ / lineSize;
        if (static_cast<int64_t>(line) != scanLineIndex_) FillScanLine(static_cast<uint32_t>(line));
        const uint64_t offset = position_ % lineSize;
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(lineSize - offset, n - done));
        std::memcpy(dst + done, scanLine_.data() + offset, chunk);
        done += chunk;
        position_ += chunk;
    }
    return done;
}

StreamFactory PlaceholderStreamFactory(uint32_t seed) {
    return [seed](const ScanWindow& window, const AfeSettings&, uint8_t) -> std::unique_ptr<StreamSource> {
        return std::make_unique<PlaceholderStream>(window, seed);
    };
}

}  // namespace b58::sim

// A stand-in for the image model: a stream of the length and layout a scan window asks for,
// filled with a simple pattern that says where each byte belongs.
//
// Scan line k (0-based) of the stream holds, for each plane c (0 red, 1 green, 2 blue; 0 for
// one-plane windows) and pixel p, samples whose bytes all equal
//     SampleByte(k, c, p) = (p + 7k + 85c + seed) mod 256
// Samples are 2 bytes wide when the data width is above 8 bits, else 1 byte. In pixel mode
// (colour) a line is the samples of pixel 0 red, green, blue, then pixel 1, ...; in line mode
// it is three single-colour lines of `lineBytes` each, red, green, blue; a one-plane window
// delivers one line of `lineBytes` per scan line.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/scan_window.h"
#include "sim/stream_source.h"

namespace b58::sim {

inline uint8_t PlaceholderSampleByte(uint32_t line, uint32_t plane, uint32_t pixel, uint32_t seed = 0) {
    return static_cast<uint8_t>(pixel + 7 * line + 85 * plane + seed);
}

class PlaceholderStream : public StreamSource {
  public:
    explicit PlaceholderStream(const ScanWindow& window, uint32_t seed = 0);

    uint64_t TotalBytes() const override { return total_; }
    size_t Produce(uint8_t* dst, size_t n) override;

  private:
    void FillScanLine(uint32_t line);

    ScanWindow window_;
    uint32_t seed_;
    uint64_t total_;
    uint64_t position_ = 0;
    std::vector<uint8_t> scanLine_;  // all planes of the current scan line
    int64_t scanLineIndex_ = -1;     // which line scanLine_ holds
};

StreamFactory PlaceholderStreamFactory(uint32_t seed = 0);

}  // namespace b58::sim

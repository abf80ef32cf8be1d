// What the sensor sees of the bed along one delivered line: the reflectance under the
// flatbed lamp and the transmittance of the transparency adapter under its lamp, per colour,
// at each delivered pixel. Each delivered pixel averages the bed over its aperture: one
// sensor pixel across, one motor step down.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/document.h"
#include "sim/window_reading.h"

namespace b58::sim {

// What lies on the bed: a document on the glass and a film in the adapter (either may be
// absent).
struct BedContents {
    PlacedDocument document;
    PlacedDocument film;
};

// Samples a placed document at a fixed set of sensor pixels, averaging the document over
// each pixel's aperture; keeps the last rows it read.
class DocumentSampler {
  public:
    // originX, originY: bed position (300-dpi pixels and lines) of the area holding the
    // document; pixels: the sensor pixels sampled, ascending.
    DocumentSampler(const PlacedDocument& placed, double originX, double originY,
                    const std::vector<int64_t>& pixels);

    // Lays the document over out[colour][pixel index] where it covers the aperture (partly
    // covered pixels are blended with what out holds). topLine600 is in 600ths of an inch.
    void Paint(int64_t top600, int height600, float* const out[3]);

  private:
    const float* CachedRow(int y);

    std::shared_ptr<const Document> document_;
    double left_ = 0.0;
    double top_ = 0.0;
    size_t first_ = 0;  // pixel indices first_ .. last_ - 1 overlap the document
    size_t last_ = 0;
    std::vector<uint32_t> tapBegin_;  // per pixel index from first_, into the taps
    std::vector<int> tapColumn_;
    std::vector<float> tapWeight_;
    std::vector<float> coverage_;
    int columnMin_ = 0;
    int columnMax_ = -1;
    std::vector<int> cachedY_;
    std::vector<std::vector<float>> cachedRows_;  // 3 x width each
    size_t nextSlot_ = 0;
    std::vector<float> blend_;
};

class BedScene {
  public:
    BedScene(const BedContents& contents, std::vector<int64_t> pixels);

    size_t Size() const { return pixels_.size(); }
    const std::vector<int64_t>& Pixels() const { return pixels_; }

    // Reflectance at the delivered pixels for the aperture, per colour.
    void Reflectance(const LineAperture& aperture, float* const out[3]);
    // Transmittance of the transparency adapter at the delivered pixels, per colour.
    void Transmittance(const LineAperture& aperture, float* const out[3]);

  private:
    void Fill(float* const out[3], int64_t fromPixel, int64_t toPixel, float value) const;

    std::vector<int64_t> pixels_;
    std::unique_ptr<DocumentSampler> document_;
    std::unique_ptr<DocumentSampler> film_;
};

}  // namespace b58::sim

// A document on the glass or a film in the transparency adapter: an image with its own
// resolution whose values are linear reflectance (or transmittance), 0 to 1, relative to
// the scanner's calibration white. Image files map their sample range onto 0..1 as it
// stands, so a document scanned without a tone curve gives its own values back.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace b58::sim {

class Document {
  public:
    virtual ~Document() = default;

    int Width() const { return width_; }
    int Height() const { return height_; }
    double DpiX() const { return dpiX_; }
    double DpiY() const { return dpiY_; }

    // Writes row y (0 <= y < Height()) into red, green and blue, Width() values each.
    virtual void Row(int y, float* red, float* green, float* blue) const = 0;

  protected:
    Document(int width, int height, double dpiX, double dpiY)
        : width_(width), height_(height), dpiX_(dpiX), dpiY_(dpiY) {}

  private:
    int width_;
    int height_;
    double dpiX_;
    double dpiY_;
};

// A document held as samples: one (grey) or three (red, green, blue) channels per pixel,
// each 0..65535 for 0..1.
class RasterDocument final : public Document {
  public:
    RasterDocument(int width, int height, double dpiX, double dpiY, int channels,
                   std::vector<uint16_t> samples);

    int Channels() const { return channels_; }
    uint16_t Sample(int x, int y, int channel) const {
        return samples_[(static_cast<size_t>(y) * Width() + x) * channels_ + (channels_ == 1 ? 0 : channel)];
    }
    void Row(int y, float* red, float* green, float* blue) const override;

  private:
    int channels_;
    std::vector<uint16_t> samples_;
};

// Where a document lies: its top-left corner, in 300-dpi units right of and below the
// corner of the area that holds it (the glass, or the adapter's film aperture).
struct PlacedDocument {
    std::shared_ptr<const Document> document;
    double left = 0.0;
    double top = 0.0;
};

}  // namespace b58::sim

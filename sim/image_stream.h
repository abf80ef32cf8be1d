// The bulk image stream of one scan: for each delivered line the sensor's output at the
// delivered pixels, through the front end, in the layout the window asks for. Everything
// that does not change along the scan (pixel positions, per-pixel gains and levels) is
// worked out once when the stream is made; a line costs one bed lookup per colour and one
// multiply-add, noise draw and clip per sample.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/bed_scene.h"
#include "sim/scanner_model.h"
#include "sim/stream_source.h"
#include "sim/window_reading.h"

namespace b58::sim {

class ImageStream final : public StreamSource {
  public:
    ImageStream(std::shared_ptr<const ScannerModel> model, const ScanWindow& window, const AfeSettings& afe,
                uint8_t lamps);

    uint64_t TotalBytes() const override { return reading_.totalBytes; }
    size_t Produce(uint8_t* dst, size_t n) override;

    const WindowReading& Reading() const { return reading_; }

  private:
    struct SceneRow {
        int64_t top600 = INT64_MIN;
        std::array<std::vector<float>, 3> signal;  // output units above the base level
    };

    const SceneRow& Scene(int64_t top600);
    void RenderLine(uint32_t line);
    float Noise();

    std::shared_ptr<const ScannerModel> model_;
    WindowReading reading_;
    bool flatbedLamp_;
    bool taLamp_;
    BedScene scene_;
    std::array<std::vector<float>, 3> flatbedGain_;  // output units per unit of reflectance
    std::array<std::vector<float>, 3> taGain_;       // output units per unit of transmittance
    std::array<std::vector<float>, 3> base_;         // output with no light
    std::array<std::vector<float>, 3> noiseFloor_;   // noise rms with no light
    std::vector<float> greyBase_;
    std::vector<float> greyNoiseFloor_;
    std::array<std::vector<float>, 3> scratch_;
    std::vector<SceneRow> cache_;
    size_t nextCacheSlot_ = 0;

    std::array<uint64_t, 4> rng_{};
    uint64_t randomBits_ = 0;
    int randomLeft_ = 0;

    std::vector<uint8_t> line_;
    size_t linePos_ = 0;
    uint32_t nextLine_ = 0;
};

}  // namespace b58::sim

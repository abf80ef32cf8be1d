// The virtual scanner's optics and sensor as one immutable model: the device seed (which
// fixes the sensor's defects and the noise), the sensor, and what lies on the bed. Streams
// of any number of scans share it.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/bed_scene.h"
#include "sim/sensor_model.h"
#include "sim/stream_source.h"

namespace b58::sim {

// The built-in test chart on the glass (8.5 x 11 in) and a smaller one (1.5 x 4 in) as film
// in the adapter, both at their area's corner.
BedContents TestChartContents();

class ScannerModel {
  public:
    ScannerModel(uint64_t seed, BedContents contents);

    // The built-in test charts (TestChartContents) on the bed.
    static std::shared_ptr<const ScannerModel> WithTestCharts(uint64_t seed);

    uint64_t Seed() const { return seed_; }
    const SensorModel& Sensor() const { return sensor_; }
    const BedContents& Contents() const { return contents_; }

  private:
    uint64_t seed_;
    SensorModel sensor_;
    BedContents contents_;
};

// The stream the device sends for a programmed window, its AFE values and lamps (LampBits).
std::unique_ptr<StreamSource> MakeImageStream(std::shared_ptr<const ScannerModel> model,
                                              const ScanWindow& window, const AfeSettings& afe,
                                              uint8_t lamps);

// A stream factory for the virtual scanner's controller.
StreamFactory MakeImageStreamFactory(std::shared_ptr<const ScannerModel> model);

}  // namespace b58::sim

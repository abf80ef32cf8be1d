// The contact image sensor: 29 chips of 96 pixels at 300 dpi (sensor pixels -94 .. 2689),
// three colour LEDs lighting the bed through a light guide, and the transparency adapter's
// lamp lighting it from above. All values are the sensor's output in the front end's input
// codes (see afe_model.h).
//
// Per pixel and colour (fixed by the device seed):
//   - response non-uniformity: each pixel's response is scaled by 1 + N(0, 1.5 %) (within
//     +-4 %) and by its chip's own factor 1 + N(0, 1.5 %) (within +-4 %);
//   - dark signal: red 6.0, green 5.5, blue 6.5 codes, each pixel N(0, 0.3) apart;
//   - segment joins: the chips meet between pixels 96m + 1 and 96m + 2; those two pixels
//     respond 8 % less and read 2 codes more in the dark than their neighbours.
// Illumination along the sensor: the flatbed LEDs feed the light guide from its right end,
// so the light is strongest there: 0.84 + 0.16 exp(-(2689 - x) / 40) with a slow ripple of
// 1.2 % (in phase per colour); the adapter's lamp is brightest over its centre (pixel 1104)
// and falls off by 10 % towards the edges of its window. A white at full light gives red
// 160, green 170, blue 150 codes above dark; the adapter's lamp through clear film red 120,
// green 135, blue 110. Pixels outside the sensor read their dark signal only.
// Read noise: N(0, 0.5 + 0.004 x signal) codes per sample.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace b58::sim {

namespace sensor {

constexpr int kChipPixels = 96;
constexpr int kChipCount = 29;
constexpr int kFirstPixel = -94;
constexpr int kPixelCount = kChipPixels * kChipCount;
constexpr int kLastPixel = kFirstPixel + kPixelCount - 1;

constexpr std::array<double, 3> kDark = {6.0, 5.5, 6.5};
constexpr std::array<double, 3> kWhiteResponse = {160.0, 170.0, 150.0};
constexpr std::array<double, 3> kTaResponse = {120.0, 135.0, 110.0};
constexpr double kPixelSpread = 0.015;
constexpr double kChipSpread = 0.015;
constexpr double kSpreadLimit = 0.04;
constexpr double kDarkSpread = 0.3;
constexpr double kJoinResponse = 0.92;
constexpr double kJoinDark = 2.0;
constexpr double kReadNoise = 0.5;
constexpr double kSignalNoise = 0.004;
constexpr int kTaLampCentre = 1104;

// True for the two pixels on either side of a chip boundary (96m + 1 and 96m + 2).
bool IsJoinPixel(int64_t pixel);

// Relative light along the sensor at pixel x.
double FlatbedIllumination(int colour, double x);
double TaIllumination(double x);

}  // namespace sensor

class SensorModel {
  public:
    explicit SensorModel(uint64_t seed);

    // Output above dark of pixel p in colour c for a white of reflectance 1 under the
    // flatbed LEDs, or for clear film under the adapter's lamp.
    double FlatbedResponse(int colour, int64_t pixel) const;
    double TaResponse(int colour, int64_t pixel) const;
    double Dark(int colour, int64_t pixel) const;

  private:
    static bool OnSensor(int64_t pixel) {
        return pixel >= sensor::kFirstPixel && pixel <= sensor::kLastPixel;
    }

    std::array<std::vector<float>, 3> response_;  // non-uniformity and joins
    std::array<std::vector<float>, 3> dark_;
};

}  // namespace b58::sim

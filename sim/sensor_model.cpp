#include "sim/sensor_model.h"

#include <algorithm>
#include <cmath>

#include "sim/random_source.h"

namespace b58::sim {

namespace sensor {

bool IsJoinPixel(int64_t pixel) {
    const int64_t m = ((pixel % kChipPixels) + kChipPixels) % kChipPixels;
    return m == 1 || m == 2;
}

double FlatbedIllumination(int colour, double x) {
    constexpr double kTwoPi = 6.283185307179586;
    return 0.84 + 0.16 * std::exp(-(kLastPixel - x) / 40.0) +
           0.012 * std::sin(kTwoPi * x / 700.0 + 2.0 * colour);
}

double TaIllumination(double x) {
    const double u = (x - kTaLampCentre) / 750.0;
    return 1.0 - 0.10 * u * u;
}

}  // namespace sensor

namespace {

double Spread(RandomSource& r, double sigma) {
    return std::clamp(r.Normal() * sigma, -sensor::kSpreadLimit, sensor::kSpreadLimit);
}

}  // namespace

SensorModel::SensorModel(uint64_t seed) {
    RandomSource r(MixSeed(seed, 0x53454E534F52ull));
    for (size_t c = 0; c < 3; ++c) {
        response_[c].resize(sensor::kPixelCount);
        dark_[c].resize(sensor::kPixelCount);
        std::array<double, sensor::kChipCount> chip{};
        for (double& g : chip) g = 1.0 + Spread(r, sensor::kChipSpread);
        for (int i = 0; i < sensor::kPixelCount; ++i) {
            const int64_t pixel = sensor::kFirstPixel + i;
            double g =
                chip[static_cast<size_t>(i / sensor::kChipPixels)] * (1.0 + Spread(r, sensor::kPixelSpread));
            double d = sensor::kDark[c] + r.Normal() * sensor::kDarkSpread;
            if (sensor::IsJoinPixel(pixel)) {
                g *= sensor::kJoinResponse;
                d += sensor::kJoinDark;
            }
            response_[c][static_cast<size_t>(i)] = static_cast<float>(g);
            dark_[c][static_cast<size_t>(i)] = static_cast<float>(d);
        }
    }
}

double SensorModel::FlatbedResponse(int colour, int64_t pixel) const {
    if (!OnSensor(pixel)) return 0.0;
    const auto c = static_cast<size_t>(colour);
    return sensor::kWhiteResponse[c] * sensor::FlatbedIllumination(colour, static_cast<double>(pixel)) *
           response_[c][static_cast<size_t>(pixel - sensor::kFirstPixel)];
}

double SensorModel::TaResponse(int colour, int64_t pixel) const {
    if (!OnSensor(pixel)) return 0.0;
    const auto c = static_cast<size_t>(colour);
    return sensor::kTaResponse[c] * sensor::TaIllumination(static_cast<double>(pixel)) *
           response_[c][static_cast<size_t>(pixel - sensor::kFirstPixel)];
}

double SensorModel::Dark(int colour, int64_t pixel) const {
    const auto c = static_cast<size_t>(colour);
    if (!OnSensor(pixel)) return sensor::kDark[c];
    return dark_[c][static_cast<size_t>(pixel - sensor::kFirstPixel)];
}

}  // namespace b58::sim

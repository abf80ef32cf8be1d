#include "sim/image_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/afe_model.h"
#include "sim/random_source.h"

namespace b58::sim {

namespace {

// Standard normal values at the midpoints of 4096 equal-probability bins: a 12-bit random
// index gives a normal draw (cut at about 3.5 sigma) with one table read.
const std::array<float, 4096>& NormalTable() {
    static const std::array<float, 4096> table = [] {
        std::array<float, 4096> t{};
        for (size_t k = 0; k < t.size(); ++k) {
            const double p = (static_cast<double>(k) + 0.5) / static_cast<double>(t.size());
            double lo = -8.0;
            double hi = 8.0;
            for (int it = 0; it < 60; ++it) {
                const double mid = 0.5 * (lo + hi);
                if (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p) {
                    lo = mid;
                } else {
                    hi = mid;
                }
            }
            t[k] = static_cast<float>(0.5 * (lo + hi));
        }
        return t;
    }();
    return table;
}

uint64_t Rotl(uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

uint64_t StreamSeed(uint64_t deviceSeed, const ScanWindow& w, const AfeSettings& afe, uint8_t lamps) {
    uint64_t s = MixSeed(deviceSeed, 0x53545245414Dull);
    for (uint64_t v : {uint64_t{w.startLine}, uint64_t{w.hwHeight}, uint64_t{w.startPixel},
                       uint64_t{w.hwWidth}, uint64_t{w.formatByte}, uint64_t{w.optionByte}, uint64_t{w.xDpi},
                       uint64_t{w.lineBytes}, uint64_t{w.linesToDeliver}, uint64_t{w.options20},
                       uint64_t{w.modeByte}, uint64_t{w.dataWidth}, uint64_t{lamps}}) {
        s = MixSeed(s, v);
    }
    for (size_t c = 0; c < 3; ++c) s = MixSeed(s, (uint64_t{afe.offset[c]} << 8) | afe.gain[c]);
    return s;
}

}  // namespace

ImageStream::ImageStream(std::shared_ptr<const ScannerModel> model, const ScanWindow& window,
                         const AfeSettings& afe, uint8_t lamps)
    : model_(std::move(model)),
      reading_(ReadWindow(window)),
      flatbedLamp_((lamps & kLampFlatbed) != 0),
      taLamp_((lamps & kLampTa) != 0),
      scene_(model_->Contents(), [this] {
          std::vector<int64_t> pixels(reading_.samples);
          for (size_t k = 0; k < pixels.size(); ++k)
              pixels[k] = SensorPixelOf(reading_, static_cast<int64_t>(k));
          return pixels;
      }()) {
    const SensorModel& sensor = model_->Sensor();
    const size_t n = reading_.samples;
    const std::vector<int64_t>& pixels = scene_.Pixels();
    // One-plane scans light all three LEDs and read through the green channel of the front
    // end: the sample is the mean of the three colours' responses.
    const double share = reading_.colour ? 1.0 : 1.0 / 3.0;
    for (size_t c = 0; c < 3; ++c) {
        const size_t channel = reading_.colour ? c : 1;
        const double gain = afe::Gain(afe.gain[channel]);
        const double offset = afe::OffsetOutput(afe.offset[channel]);
        const int colour = static_cast<int>(c);
        if (flatbedLamp_) flatbedGain_[c].resize(n);
        if (taLamp_) taGain_[c].resize(n);
        base_[c].resize(n);
        noiseFloor_[c].assign(n, static_cast<float>(gain * sensor::kReadNoise));
        for (size_t i = 0; i < n; ++i) {
            if (flatbedLamp_) {
                flatbedGain_[c][i] =
                    static_cast<float>(share * gain * sensor.FlatbedResponse(colour, pixels[i]));
            }
            if (taLamp_)
                taGain_[c][i] = static_cast<float>(share * gain * sensor.TaResponse(colour, pixels[i]));
            base_[c][i] =
                static_cast<float>(gain * (sensor.Dark(colour, pixels[i]) - afe::kReferenceLevel) + offset);
        }
        scratch_[c].resize(n);
    }
    if (!reading_.colour) {
        const double gain = afe::Gain(afe.gain[1]);
        const double offset = afe::OffsetOutput(afe.offset[1]);
        greyBase_.resize(n);
        greyNoiseFloor_.assign(n, static_cast<float>(gain * sensor::kReadNoise));
        for (size_t i = 0; i < n; ++i) {
            double dark = 0.0;
            for (int c = 0; c < 3; ++c) dark += sensor.Dark(c, pixels[i]) / 3.0;
            greyBase_[i] = static_cast<float>(gain * (dark - afe::kReferenceLevel) + offset);
        }
    }
    cache_.resize(8);
    RandomSource seeder(StreamSeed(model_->Seed(), window, afe, lamps));
    for (uint64_t& s : rng_) s = seeder.Next();
    line_.resize(reading_.bytesPerScanLine);
    linePos_ = line_.size();
}

float ImageStream::Noise() {
    if (randomLeft_ == 0) {
        const uint64_t result = rng_[0] + rng_[3];
        const uint64_t t = rng_[1] << 17;
        rng_[2] ^= rng_[0];
        rng_[3] ^= rng_[1];
        rng_[1] ^= rng_[2];
        rng_[0] ^= rng_[3];
        rng_[2] ^= t;
        rng_[3] = Rotl(rng_[3], 45);
        randomBits_ = result >> 4;  // the low bits of xoshiro256+ are its weakest
        randomLeft_ = 5;
    }
    const float v = NormalTable()[randomBits_ & 0xFFF];
    randomBits_ >>= 12;
    --randomLeft_;
    return v;
}

const ImageStream::SceneRow& ImageStream::Scene(int64_t top600) {
    for (const SceneRow& row : cache_) {
        if (row.top600 == top600) return row;
    }
    SceneRow& row = cache_[nextCacheSlot_];
    nextCacheSlot_ = (nextCacheSlot_ + 1) % cache_.size();
    row.top600 = top600;
    const size_t n = reading_.samples;
    LineAperture aperture;
    aperture.top600 = top600;
    aperture.height600 = reading_.motor600 ? 1 : 2;
    float* light[3] = {scratch_[0].data(), scratch_[1].data(), scratch_[2].data()};
    for (size_t c = 0; c < 3; ++c) row.signal[c].assign(n, 0.0f);
    if (flatbedLamp_) {
        scene_.Reflectance(aperture, light);
        for (size_t c = 0; c < 3; ++c) {
            float* s = row.signal[c].data();
            const float* g = flatbedGain_[c].data();
            for (size_t i = 0; i < n; ++i) s[i] = g[i] * light[c][i];
        }
    }
    if (taLamp_) {
        scene_.Transmittance(aperture, light);
        for (size_t c = 0; c < 3; ++c) {
            float* s = row.signal[c].data();
            const float* g = taGain_[c].data();
            for (size_t i = 0; i < n; ++i) s[i] += g[i] * light[c][i];
        }
    }
    return row;
}

void ImageStream::RenderLine(uint32_t line) {
    std::fill(line_.begin(), line_.end(), uint8_t{0});
    const size_t n = reading_.samples;
    const size_t bps = static_cast<size_t>(reading_.bytesPerSample);
    const bool wide = bps == 2;

    auto put = [&](uint8_t* out, size_t stride, const float* base, const float* floor, auto&& signalAt) {
        for (size_t i = 0; i < n; ++i) {
            const float s = signalAt(i);
            const float y = base[i] + s + Noise() * (floor[i] + static_cast<float>(sensor::kSignalNoise) * s);
            uint8_t* p = out + i * stride;
            if (wide) {
                const uint16_t v = afe::Quantise16(y);
                p[0] = static_cast<uint8_t>(v & 0xFF);
                p[1] = static_cast<uint8_t>(v >> 8);
            } else {
                p[0] = afe::Quantise8(y);
            }
        }
    };

    if (!reading_.colour) {
        const SceneRow& row = Scene(ApertureOf(reading_, line).top600);
        const float* s0 = row.signal[0].data();
        const float* s1 = row.signal[1].data();
        const float* s2 = row.signal[2].data();
        put(line_.data(), bps, greyBase_.data(), greyNoiseFloor_.data(),
            [&](size_t i) { return s0[i] + s1[i] + s2[i]; });
        return;
    }
    for (size_t c = 0; c < 3; ++c) {
        const SceneRow& row = Scene(ColourApertureOf(reading_, line, static_cast<int>(c)).top600);
        const float* s = row.signal[c].data();
        uint8_t* out = reading_.pixelMode ? line_.data() + c * bps : line_.data() + c * reading_.lineBytes;
        const size_t stride = reading_.pixelMode ? 3 * bps : bps;
        put(out, stride, base_[c].data(), noiseFloor_[c].data(), [&](size_t i) { return s[i]; });
    }
}

size_t ImageStream::Produce(uint8_t* dst, size_t n) {
    size_t done = 0;
    while (done < n) {
        if (linePos_ == line_.size()) {
            if (nextLine_ >= reading_.lines || line_.empty()) break;
            RenderLine(nextLine_++);
            linePos_ = 0;
        }
        const size_t take = std::min(n - done, line_.size() - linePos_);
        std::memcpy(dst + done, line_.data() + linePos_, take);
        linePos_ += take;
        done += take;
    }
    return done;
}

}  // namespace b58::sim

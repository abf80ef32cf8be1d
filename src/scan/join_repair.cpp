#include "scan/join_repair.h"
#include "contract/scanner_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace b58 {
namespace {

constexpr int kSegmentPixels = Model().sensor.segmentPixels;
constexpr int kSmoothNeighbourLimit = 15;  // outer neighbours closer than this make a smooth field
constexpr int kBrightJoin = 130;           // above it the join is only given noise

// 300 / dpi for the resolutions the sensor reads at, else 0.
int PitchFactor(int dpi) {
    switch (dpi) {
        case 300:
            return 1;
        case 150:
            return 2;
        case 100:
            return 3;
        case 50:
            return 6;
        default:
            return 0;
    }
}

class JoinPixelsView {
  public:
    JoinPixelsView(const JoinSamples& samples, int q) : samples_(samples), q_(q) {}
    bool Holds(int i) const { return q_ + i >= 0 && q_ + i < samples_.pixels; }
    int operator()(int i) const { return samples_.bytes[Index(i)]; }
    void Set(int i, int value) { samples_.bytes[Index(i)] = static_cast<uint8_t>(std::clamp(value, 0, 255)); }

  private:
    size_t Index(int i) const { return static_cast<size_t>(samples_.first + samples_.stride * (q_ + i)); }
    const JoinSamples& samples_;
    int q_;
};

int RoundHalfUp(double value) {
    return static_cast<int>(std::floor(value + 0.5));
}

void Smooth(JoinPixelsView& p, int steps) {
    for (int i = 0; i < steps; ++i) {
        if (!p.Holds(-2 - i) || !p.Holds(3 + i)) continue;
        p.Set(-1 - i, (p(-1 - i) + p(-2 - i)) / 2);
        p.Set(2 + i, (p(2 + i) + p(3 + i)) / 2);
    }
}

}  // namespace

int JoinNoise(double x, JoinRandom& random) {
    if (x <= 0) return 0;
    int addend = 0;
    auto pair = [&random](int mask) {
        const int r1 = random.Next();
        const int r2 = random.Next();
        return r1 & (r2 + 1) & mask;
    };
    if (x < 40) {
        addend = random.Next() & 1;
    } else if (x < 60) {
        addend = pair(1);
    } else if (x < 80) {
        addend = pair(3);
    } else if (x < 100) {
        addend = pair(2);
    } else if (x < 140) {
        addend = pair(1);
    } else if (x < 190) {
        addend = random.Next() & 1;
    } else {
        pair(0);
    }
    const double whole = std::trunc(x);
    return whole >= 255 ? 255 : std::min(255, static_cast<int>(whole) + addend);
}

int JoinTolerance(JoinColour colour, int p0) {
    switch (colour) {
        case JoinColour::Red:
            return p0 <= 90 ? 25 : p0 <= 120 ? 20 : 12;
        case JoinColour::Green:
            return p0 <= 90 ? 20 : p0 <= 120 ? 18 : 7;
        case JoinColour::Blue:
            return p0 <= 90 ? 30 : p0 <= 150 ? 25 : 10;
    }
    return 0;
}

void RepairSegmentJoin(const JoinSamples& samples, int dpi, int q, JoinColour colour, JoinLayout layout,
                       JoinRandom& random) {
    const int k = PitchFactor(dpi);
    if (k == 0) return;
    JoinPixelsView p(samples, q);
    // The widest neighbourhood read before any smoothing step (which checks its own pixels).
    const int left = dpi == 100 ? -1 : -2;
    const int right = dpi == 300 ? 3 : dpi == 50 ? 1 : 2;
    if (!p.Holds(left) || !p.Holds(right)) return;

    const int g = JoinTolerance(colour, p(0));
    const int a = dpi == 300 ? p(-2) : p(-1);
    const int b = dpi == 300 ? p(3) : dpi == 50 ? p(1) : p(2);
    if (dpi == 300 && !(std::abs(p(-1) - p(2)) < kSmoothNeighbourLimit && std::abs(p(-1) - p(0)) < g &&
                        std::abs(p(1) - p(2)) < g))
        return;

    if (dpi == 50) {
        if (!(std::abs(a - b) < kSmoothNeighbourLimit && std::abs(a - p(0)) < g && std::abs(p(0) - b) < g))
            return;
        p.Set(0, RoundHalfUp((a + b) / 2.0));
        if (layout != JoinLayout::Color24) p.Set(-1, RoundHalfUp((p(0) + p(-2)) / 2.0));
        return;
    }

    if (!(std::abs(a - b) < kSmoothNeighbourLimit && std::abs(a - p(0)) < g && std::abs(p(1) - b) < g))
        return;
    p.Set(0, JoinNoise(a + (b - a) / 3.0 + 0.5, random));
    p.Set(1, JoinNoise(a + 2.0 * (b - a) / 3.0 + 0.5, random));
    if (dpi == 100) {
        if (p(1) <= kBrightJoin) Smooth(p, 3);
        return;
    }
    if (p(1) > kBrightJoin) {
        p.Set(-1, JoinNoise(p(-1), random));
        p.Set(2, JoinNoise(p(2), random));
        return;
    }
    p.Set(-1, RoundHalfUp((p(0) + p(-2) + p(-1)) / 3.0) + random.Next() % 4);
    p.Set(2, RoundHalfUp((p(3) + p(1) + p(2)) / 3.0) + random.Next() % 4);
    Smooth(p, 10 / k);
}

int FirstJoinOffset(uint16_t windowStartX) {
    const int s = windowStartX;
    return ((s - 1) / kSegmentPixels + 1) * kSegmentPixels + 1 - s;
}

std::vector<int> JoinPixels(const JoinGeometry& geometry, JoinLayout layout) {
    std::vector<int> pixels;
    const int k = PitchFactor(geometry.dpi);
    if (k == 0) return pixels;
    const int n = geometry.pixels;
    const int x0 = FirstJoinOffset(geometry.windowStartX);
    const int joins = n / (kSegmentPixels / k) + 1;
    for (int j = 0; j < joins; ++j) {
        const int x = x0 + kSegmentPixels * j;
        int q = 0;
        if (layout == JoinLayout::Color24) {
            q = x / k;
        } else if (k == 1) {
            q = x;
        } else if (k == 6) {
            q = x / 6 + 1;
        } else {
            q = 2 * ((x / k + 1) / 2);
        }
        bool inside = false;
        switch (layout) {
            case JoinLayout::Gray:
                inside = q >= 2 && q + 3 <= n;
                break;
            case JoinLayout::Color24:
                inside =
                    3 * q + geometry.redOffset >= 6 && 3 * q + geometry.blueOffset + 9 <= geometry.lineBytes;
                break;
            case JoinLayout::Color48:
                inside = 6 * q + geometry.redOffset >= 12 &&
                         6 * q + geometry.blueOffset + 18 <= geometry.lineBytes;
                break;
        }
        if (k <= 2) inside = inside && q + 4 <= n;
        if (inside) pixels.push_back(q);
    }
    return pixels;
}

void RepairLineJoins(uint8_t* line, const JoinGeometry& geometry, JoinLayout layout, JoinRandom& random) {
    const std::vector<int> joins = JoinPixels(geometry, layout);
    if (layout == JoinLayout::Gray) {
        const JoinColour row = geometry.redOffset == 0 ? JoinColour::Red : JoinColour::Blue;
        const JoinSamples grey{line, 0, 1, geometry.pixels};
        for (int q : joins) RepairSegmentJoin(grey, geometry.dpi, q, row, layout, random);
        return;
    }
    const int stride = layout == JoinLayout::Color24 ? 3 : 6;
    // In 48-bit colour a colour's high byte lies one past its low byte.
    auto first = [&](int offset) { return layout == JoinLayout::Color24 ? offset : 2 * offset + 1; };
    const JoinSamples red{line, first(geometry.redOffset), stride, geometry.pixels};
    const JoinSamples green{line, first(geometry.greenOffset), stride, geometry.pixels};
    const JoinSamples blue{line, first(geometry.blueOffset), stride, geometry.pixels};
    for (int q : joins) {
        RepairSegmentJoin(red, geometry.dpi, q, JoinColour::Red, layout, random);
        RepairSegmentJoin(green, geometry.dpi, q, JoinColour::Green, layout, random);
        RepairSegmentJoin(blue, geometry.dpi, q, JoinColour::Blue, layout, random);
    }
}

}  // namespace b58

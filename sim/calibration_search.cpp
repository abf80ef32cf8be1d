// An oracle: an independent copy of the driver's AFE searches (the flatbed's three-phase
// search and the adapter's halving search, with their strip measurements and gain mapping),
// kept on purpose to check the driver against. It shares no code with src/; do not replace
// it with calls into the driver. tests/api/sim_oracles_test.cpp holds it against the AFE
// values the driver settles on before a scan, in every mode and source.
#include "sim/calibration_search.h"

#include <algorithm>
#include <cstdlib>

#include "sim/driver_plan.h"

namespace b58::sim {

namespace {

constexpr int kMinDark = 40;
constexpr int kMaxDark = 50;
constexpr int kRangeMin = 225;  // L1_W_MIN
constexpr int kRangeMax = 235;  // L1_W_MAX
constexpr int kWhiteMax = 235;  // L2_W_MAX
constexpr int kWhiteMin = 225;  // L2_W_MIN
constexpr int kGainInit = 2;
constexpr int kWhiteCeiling = 245;
constexpr int kHeadroomPasses = 30;
constexpr int kStripLines = 2;
constexpr int kStripWidth = 3700;

int TaTypeCode(int taType) {
    return taType == 1 ? 1 : taType == 2 ? 2 : taType == 4 ? 3 : 0;
}

class Searcher {
  public:
    Searcher(const std::shared_ptr<const ScannerModel>& model, int startLine, int dpi, bool pixelMode,
             int pixelFormat, bool ta, int taType)
        : model_(model),
          startLine_(startLine),
          dpi_(dpi),
          pixelMode_(pixelMode),
          pixelFormat_(pixelFormat),
          ta_(ta),
          taType_(taType) {}

    std::array<StripLevels, 3> Measure(const std::array<int, 3>& offset, const std::array<int, 3>& gain) {
        AfeSettings afe;
        for (size_t c = 0; c < 3; ++c) {
            afe.offset[c] = static_cast<uint8_t>(offset[c]);
            afe.gain[c] = WireGain(gain[c]);
        }
        const ScanWindow window =
            CalibrationStripWindow(startLine_, kStripLines, 0, kStripWidth, dpi_, pixelMode_, pixelFormat_,
                                   ta_, TaTypeCode(taType_), 8);
        const Strip strip = ScanStrip(model_, window, afe, ta_ ? kLampTa : kLampFlatbed);
        std::array<StripLevels, 3> levels;
        for (size_t c = 0; c < 3; ++c) {
            // A one-plane strip fills the green plane only; the others keep what they held.
            if (strip.planes[c].empty()) {
                levels[c] = {0, 0, 0};
                continue;
            }
            levels[c] = MeasureStripLevels(strip.planes[c].data(), strip.width, strip.lines, dpi_, ta_);
        }
        return levels;
    }

  private:
    std::shared_ptr<const ScannerModel> model_;
    int startLine_;
    int dpi_;
    bool pixelMode_;
    int pixelFormat_;
    bool ta_;
    int taType_;
};

bool InRange(const std::array<int, 3>& v) {
    return std::all_of(v.begin(), v.end(), [](int x) { return x >= 0 && x <= 63; });
}

void Finish(AfeSearchResult& r) {
    for (size_t c = 0; c < 3; ++c) {
        r.offset[c] = std::clamp(r.offset[c], 0, 63);
        r.gain[c] = std::clamp(r.gain[c], 0, 63);
        r.wire.offset[c] = static_cast<uint8_t>(r.offset[c]);
        r.wire.gain[c] = WireGain(r.gain[c]);
    }
}

}  // namespace

uint8_t WireGain(int searchGain) {
    const int g = searchGain & 0xFF;
    if (g > 51) return 63;
    if (g > 31) return static_cast<uint8_t>(g + 12);
    return static_cast<uint8_t>(g);
}

StripLevels MeasureStripLevels(const uint8_t* plane, int stripWidth, int stripLines, int dpi, bool ta) {
    StripLevels out;
    const int w = stripWidth / 10 * 10;
    int maxWhite = 0;
    for (int b = 0; b < w / 10; ++b) {
        uint32_t sum = 0;
        for (int r = 0; r < stripLines; ++r) {
            for (int x = b * 10; x < b * 10 + 10; ++x) sum += plane[static_cast<size_t>(r) * stripWidth + x];
        }
        maxWhite = std::max(maxWhite, static_cast<int>(sum / static_cast<uint32_t>(stripLines * 10)));
    }
    int start = 0;
    int end = 0;
    int size = 0;
    if (!ta) {
        start = dpi * 12 / 300;
        end = dpi * 120 / 300;
        size = dpi >= 300 ? 4 : dpi >= 100 ? 3 : 2;
    } else {
        start = 0;
        end = dpi * 400 / 300;
        size = dpi >= 75 ? 10 : 5;
    }
    int minBlack = 255;
    // A bin the window starts inside is averaged over the samples of the window it holds.
    for (int b = start / size; b < end / size; ++b) {
        const int first = std::max(b * size, start);
        uint32_t sum = 0;
        for (int r = 0; r < stripLines; ++r) {
            for (int x = first; x < b * size + size; ++x)
                sum += plane[static_cast<size_t>(r) * stripWidth + x];
        }
        const int samples = b * size + size - first;
        minBlack = std::min(minBlack, static_cast<int>(sum / static_cast<uint32_t>(samples * stripLines)));
    }
    out.minBlack = minBlack;
    out.maxWhite = maxWhite;
    out.midLevel = (minBlack + maxWhite) / 2;
    return out;
}

Strip ScanStrip(const std::shared_ptr<const ScannerModel>& model, const ScanWindow& window,
                const AfeSettings& afe, uint8_t lamps) {
    Strip strip;
    const bool colour = window.Colour();
    strip.width = window.lineBytes;
    strip.lines = window.linesToDeliver;
    std::unique_ptr<StreamSource> stream = MakeImageStream(model, window, afe, lamps);
    std::vector<uint8_t> bytes(stream->TotalBytes());
    bytes.resize(stream->Produce(bytes.data(), bytes.size()));
    const size_t w = static_cast<size_t>(strip.width);
    for (size_t c = 0; c < 3; ++c) {
        if (colour || c == 1) strip.planes[c].resize(w * strip.lines);
    }
    for (size_t r = 0; r < static_cast<size_t>(strip.lines); ++r) {
        if (!colour) {
            std::copy_n(bytes.data() + r * w, w, strip.planes[1].data() + r * w);
        } else if (window.PixelMode()) {
            for (size_t x = 0; x < w; ++x) {
                for (size_t c = 0; c < 3; ++c) strip.planes[c][r * w + x] = bytes[(r * w + x) * 3 + c];
            }
        } else {
            for (size_t c = 0; c < 3; ++c)
                std::copy_n(bytes.data() + (3 * r + c) * w, w, strip.planes[c].data() + r * w);
        }
    }
    return strip;
}

AfeSearchResult RunFlatbedAfeSearch(const std::shared_ptr<const ScannerModel>& model, int dpi, bool pixelMode,
                                    int pixelFormat) {
    Searcher s(model, DriverSettings{}.kStartY, dpi, pixelMode, pixelFormat, false, 0);
    AfeSearchResult r;
    r.offset = {32, 32, 32};
    r.gain = {kGainInit, kGainInit, kGainInit};
    std::array<StripLevels, 3> m{};

    std::array<bool, 3> settled{};
    for (int pass = 0; pass < 15; ++pass) {
        m = s.Measure(r.offset, r.gain);
        ++r.phasePasses[0];
        for (size_t c = 0; c < 3; ++c) {
            if (m[c].midLevel < 100) {
                r.offset[c] += 2;
            } else if (m[c].midLevel < 110) {
                settled[c] = true;
            } else {
                r.offset[c] -= 2;
            }
        }
        if (settled[0] && settled[1] && settled[2]) break;
    }
    r.phaseSettled[0] = settled[0] && settled[1] && settled[2];
    r.offsetPhaseEnd = m;

    r.gain = {12, 12, 12};
    settled = {};
    for (int counter = 0;;) {
        if (settled[0] && settled[1] && settled[2]) break;
        if (++counter >= 50) break;
        m = s.Measure(r.offset, r.gain);
        ++r.phasePasses[1];
        for (size_t c = 0; c < 3; ++c) {
            const int range = m[c].maxWhite - m[c].minBlack;
            if (range < kRangeMin) {
                if (m[c].maxWhite > kWhiteMax) {
                    if (r.offset[c] >= 1) --r.offset[c];
                } else if (r.gain[c] <= 62) {
                    ++r.gain[c];
                }
            } else if (range < kRangeMax) {
                settled[c] = true;
            } else if (r.gain[c] >= 1) {
                --r.gain[c];
            }
        }
    }
    r.phaseSettled[1] = settled[0] && settled[1] && settled[2];
    r.gainPhaseEnd = m;

    settled = {};
    for (int pass = 0; pass < 60; ++pass) {
        m = s.Measure(r.offset, r.gain);
        ++r.phasePasses[2];
        for (size_t c = 0; c < 3; ++c) {
            if (m[c].minBlack < kMinDark) {
                if (r.offset[c] >= 63) {
                    settled[c] = true;
                } else {
                    ++r.offset[c];
                }
            } else if (m[c].minBlack < kMaxDark) {
                settled[c] = true;
            } else if (r.offset[c] <= 0) {
                settled[c] = true;
            } else {
                --r.offset[c];
            }
        }
        if (settled[0] && settled[1] && settled[2]) break;
    }
    r.phaseSettled[2] = settled[0] && settled[1] && settled[2];

    // White headroom: the gain comes down while the brightest bin reaches the ceiling, the
    // offset holding the black in its band. A one-plane strip fills green only.
    for (int pass = 0; pass < kHeadroomPasses; ++pass) {
        m = s.Measure(r.offset, r.gain);
        ++r.headroomPasses;
        bool all = true;
        for (size_t c = 0; c < 3; ++c) {
            if (pixelFormat != 4 && c != 1) continue;
            const bool whiteDone = m[c].maxWhite < kWhiteCeiling || r.gain[c] <= 0;
            if (!whiteDone) --r.gain[c];
            bool blackDone = true;
            if (m[c].minBlack < kMinDark && r.offset[c] < 63) {
                ++r.offset[c];
                blackDone = false;
            } else if (m[c].minBlack >= kMaxDark && r.offset[c] > 0) {
                --r.offset[c];
                blackDone = false;
            }
            all = all && whiteDone && blackDone;
        }
        if (all) break;
    }
    r.last = m;
    Finish(r);
    return r;
}

AfeSearchResult RunTaAfeSearch(const std::shared_ptr<const ScannerModel>& model, int dpi, bool pixelMode,
                               int pixelFormat, int taType) {
    Searcher s(model, DriverSettings{}.taKStartY, dpi, pixelMode, pixelFormat, true, taType);
    AfeSearchResult r;
    r.offset = {32, 32, 32};
    r.gain = {kGainInit, kGainInit, kGainInit};
    std::array<StripLevels, 3> m{};

    int step = 32;
    for (int pass = 0; pass < 6; ++pass) {
        step /= 2;
        m = s.Measure(r.offset, r.gain);
        ++r.phasePasses[0];
        for (size_t c = 0; c < 3; ++c) {
            if (m[c].midLevel < 124) {
                r.offset[c] += step;
            } else if (m[c].midLevel >= 132) {
                r.offset[c] -= step;
            }
        }
        r.outOfRange |= !InRange(r.offset);
    }
    r.offsetPhaseEnd = m;

    r.gain = {24, 24, 24};
    step = 24;
    for (int pass = 0; pass < 7; ++pass) {
        step = std::max(1, (step + 1) / 2);
        m = s.Measure(r.offset, r.gain);
        ++r.phasePasses[1];
        if (pass == 6) break;
        for (size_t c = 0; c < 3; ++c) {
            const int range = m[c].maxWhite - m[c].minBlack;
            if (range < kRangeMin) {
                if (m[c].maxWhite <= 245) {
                    r.gain[c] += step;
                } else {
                    --r.offset[c];
                }
            } else if (range >= kRangeMax) {
                r.gain[c] -= step;
            } else if (m[c].minBlack > 20) {
                --r.offset[c];
            }
        }
        r.outOfRange |= !InRange(r.offset) || !InRange(r.gain);
    }
    r.gainPhaseEnd = m;

    for (size_t c = 0; c < 3; ++c) {
        if (std::abs(m[c].midLevel - 128) > 2) r.offset[c] += m[c].midLevel > 128 ? -1 : 1;
    }
    for (int pass = 0; pass < 6; ++pass) {
        m = s.Measure(r.offset, r.gain);
        ++r.phasePasses[2];
        for (size_t c = 0; c < 3; ++c) {
            if (m[c].maxWhite < kWhiteMin) {
                ++r.gain[c];
            } else if (m[c].maxWhite >= kWhiteMax) {
                --r.gain[c];
            }
        }
        r.outOfRange |= !InRange(r.offset) || !InRange(r.gain);
    }
    r.last = m;
    Finish(r);
    return r;
}

}  // namespace b58::sim

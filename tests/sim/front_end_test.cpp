#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "image_test_support.h"
#include "sim/afe_model.h"
#include "sim/bed_layout.h"
#include "sim/calibration_search.h"
#include "sim/driver_plan.h"
#include "sim/sensor_model.h"

namespace b58::sim {
namespace {

TEST(AfeModel, TransferRisesWithSignalOffsetAndMappedGainAndClips) {
    double previous = -1e9;
    for (int search = 0; search <= 63; ++search) {
        const double g = afe::Gain(WireGain(search));
        if (search <= 51) {
            EXPECT_GT(g, previous) << "search gain " << search;
        } else {
            EXPECT_EQ(g, previous) << "search gains above 51 all send 63";
        }
        previous = g;
    }
    EXPECT_DOUBLE_EQ(afe::Gain(0), 1.0);
    EXPECT_DOUBLE_EQ(afe::Gain(63), 1.0 + 0.04 * 51);
    EXPECT_EQ(afe::GainIndex(32), afe::GainIndex(20)) << "codes 32..43 repeat 20..31";
    for (int o = 1; o < 64; ++o) {
        EXPECT_GT(afe::Transfer(100.0, static_cast<uint8_t>(o), 10),
                  afe::Transfer(100.0, static_cast<uint8_t>(o - 1), 10));
    }
    EXPECT_EQ(afe::OffsetOutput(64 + 5), afe::OffsetOutput(5)) << "six-bit registers";
    EXPECT_GT(afe::Transfer(101.0, 32, 10), afe::Transfer(100.0, 32, 10));

    EXPECT_EQ(afe::Quantise8(-3.0), 0);
    EXPECT_EQ(afe::Quantise8(254.99), 254);
    EXPECT_EQ(afe::Quantise8(300.0), 255);
    EXPECT_EQ(afe::Quantise16(-0.1), 0);
    EXPECT_EQ(afe::Quantise16(300.0), 65535);
    for (double y : {0.0, 17.3, 128.5, 254.2}) EXPECT_EQ(afe::Quantise16(y) >> 8, afe::Quantise8(y)) << y;
}

TEST(AfeSearch, FlatbedPhasesSettleWellBeforeTheirLimits) {
    auto model = ScannerModel::WithTestCharts(1);
    struct Case {
        int dpi;
        bool pixelMode;
    };
    for (const Case k :
         {Case{300, true}, Case{150, true}, Case{100, true}, Case{50, true}, Case{300, false}}) {
        SCOPED_TRACE(::testing::Message() << k.dpi << (k.pixelMode ? " pixel" : " line") << " mode");
        const AfeSearchResult r = RunFlatbedAfeSearch(model, k.dpi, k.pixelMode, 4);
        EXPECT_TRUE(r.phaseSettled[0] && r.phaseSettled[1] && r.phaseSettled[2]);
        EXPECT_LE(r.phasePasses[0], 9) << "of 15";
        EXPECT_LE(r.phasePasses[1], 10) << "of 49";
        EXPECT_LE(r.phasePasses[2], 15) << "of 60";
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_GE(r.last[c].minBlack, 40);
            EXPECT_LT(r.last[c].minBlack, 50);
            EXPECT_GT(r.gain[c], 2);
            EXPECT_LT(r.gain[c], 31) << "far from the top of the range";
        }
    }
}

TEST(AfeSearch, GreyScansSettleTheGreenChannel) {
    // One-plane strips fill only green; the driver leaves red and blue to whatever its planes
    // hold, so only green is judged here.
    const AfeSearchResult r = RunFlatbedAfeSearch(ScannerModel::WithTestCharts(1), 300, false, 2);
    EXPECT_GE(r.offsetPhaseEnd[1].midLevel, 100);
    EXPECT_LT(r.offsetPhaseEnd[1].midLevel, 110);
    const int range = r.gainPhaseEnd[1].maxWhite - r.gainPhaseEnd[1].minBlack;
    EXPECT_GE(range, 225);
    EXPECT_LT(range, 235);
    EXPECT_GE(r.last[1].minBlack, 40);
    EXPECT_LT(r.last[1].minBlack, 50);
}

TEST(AfeSearch, AdapterHalvingSearchEndsInItsBands) {
    auto model = ScannerModel::WithTestCharts(1);
    for (int taType : {1, 2, 4}) {
        for (int dpi : {300, 150, 50}) {
            SCOPED_TRACE(::testing::Message() << "kind " << taType << " dpi " << dpi);
            const AfeSearchResult r = RunTaAfeSearch(model, dpi, true, 4, taType);
            EXPECT_FALSE(r.outOfRange);
            for (size_t c = 0; c < 3; ++c) {
                EXPECT_GE(r.offsetPhaseEnd[c].midLevel, 124);
                EXPECT_LT(r.offsetPhaseEnd[c].midLevel, 132);
                const int range = r.gainPhaseEnd[c].maxWhite - r.gainPhaseEnd[c].minBlack;
                EXPECT_GE(range, 225);
                EXPECT_LT(range, 235);
            }
            // The values the search leaves put the white in its band.
            const Strip strip = ScanStrip(
                model, CalibrationStripWindow(450, 2, 0, 3700, dpi, true, 4, true, 1, 8), r.wire, kLampTa);
            for (size_t c = 0; c < 3; ++c) {
                const StripLevels l =
                    MeasureStripLevels(strip.planes[c].data(), strip.width, strip.lines, dpi, true);
                EXPECT_GE(l.maxWhite, 224);
                EXPECT_LT(l.maxWhite, 236);
            }
        }
    }
}

// At every resolution: below 300 dpi the search's 10-pixel bins average away the bright end
// of the lamp, and without the headroom phase the glass's white clipped almost everywhere.
TEST(AfeSearch, CalibratedWhiteIsHighWithoutClipping) {
    auto model = ScannerModel::WithTestCharts(1);
    const int shadingLine = DeviceBoundaryValues(false).topLine - 73;
    for (int dpi : {50, 100, 150, 300}) {
        const AfeSearchResult r = RunFlatbedAfeSearch(model, dpi, true, 4);
        const Strip strip = ScanStrip(model,
                                      CalibrationStripWindow(shadingLine, 40, bed::kGlassLeft,
                                                             bed::kGlassWidth, dpi, true, 4, false, 0, 8),
                                      r.wire, kLampFlatbed);
        for (size_t c = 0; c < 3; ++c) {
            std::vector<uint8_t> v = strip.planes[c];
            std::sort(v.begin(), v.end());
            const uint8_t median = v[v.size() / 2];
            const auto clipped = std::count(v.begin(), v.end(), 255);
            EXPECT_GE(median, 195) << dpi << " dpi, colour " << c;
            EXPECT_LE(median, 245) << dpi << " dpi, colour " << c;
            EXPECT_LT(static_cast<double>(clipped) / v.size(), 0.01) << dpi << " dpi, colour " << c;
        }
    }
}

TEST(SensorModel, DefectsAreFixedPerSeedAndAFewPercent) {
    const SensorModel a(11);
    const SensorModel b(11);
    const SensorModel c(12);
    int differ = 0;
    double sum = 0.0;
    double sumSq = 0.0;
    int n = 0;
    for (int64_t p = 0; p < 2600; ++p) {
        EXPECT_EQ(a.FlatbedResponse(0, p), b.FlatbedResponse(0, p));
        EXPECT_EQ(a.Dark(2, p), b.Dark(2, p));
        if (a.FlatbedResponse(0, p) != c.FlatbedResponse(0, p)) ++differ;
        if (sensor::IsJoinPixel(p)) continue;
        const double rel =
            a.FlatbedResponse(1, p) / (sensor::kWhiteResponse[1] * sensor::FlatbedIllumination(1, p));
        sum += rel;
        sumSq += rel * rel;
        ++n;
    }
    EXPECT_GT(differ, 2500);
    const double mean = sum / n;
    const double spread = std::sqrt(sumSq / n - mean * mean);
    EXPECT_NEAR(mean, 1.0, 0.02);
    EXPECT_GT(spread, 0.01);
    EXPECT_LT(spread, 0.04);
    EXPECT_EQ(a.FlatbedResponse(0, sensor::kLastPixel + 1), 0.0) << "no pixel beyond the sensor";
}

}  // namespace
}  // namespace b58::sim

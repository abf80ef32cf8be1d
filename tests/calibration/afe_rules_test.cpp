// The AFE searches' per-pass rules at their band edges, the strip measurement and the
// calibration strip's window fields.
#include <gtest/gtest.h>

#include <vector>

#include "calibration/afe_calibration.h"
#include "calibration/afe_search_rules.h"
#include "calibration/strip_window.h"

namespace b58 {
namespace {

StripLevels Levels(int minBlack, int maxWhite, int mid = -1) {
    StripLevels l;
    l.MinBlack = static_cast<uint16_t>(minBlack);
    l.MaxWhite = static_cast<uint16_t>(maxWhite);
    l.MidLevel = static_cast<uint16_t>(mid >= 0 ? mid : (minBlack + maxWhite) / 2);
    return l;
}
StripLevels Mid(int mid) {
    return Levels(0, 0, mid);
}

ChannelSearch Channel(int offset, int gain, bool settled = false) {
    ChannelSearch c;
    c.offset = offset;
    c.gain = gain;
    c.settled = settled;
    return c;
}

TEST(FlatbedRules, CoarseOffsetBandIs100To109InStepsOfTwo) {
    struct Case {
        int mid;
        int offset;
        bool settled;
    };
    for (const Case& k :
         {Case{99, 34, false}, Case{100, 32, true}, Case{109, 32, true}, Case{110, 30, false}}) {
        ChannelSearch c = Channel(32, 2);
        CoarseOffsetRule(Mid(k.mid), c);
        EXPECT_EQ(c.offset, k.offset) << k.mid;
        EXPECT_EQ(c.settled, k.settled) << k.mid;
        EXPECT_EQ(c.gain, 2);
    }
    // A colour that settled and then drifts out of the band stays settled but still moves.
    ChannelSearch drifted = Channel(40, 2, true);
    CoarseOffsetRule(Mid(130), drifted);
    EXPECT_EQ(drifted.offset, 38);
    EXPECT_TRUE(drifted.settled);
}

TEST(FlatbedRules, GainBandIsTheL1RangeAndValuesStayWithin0To63) {
    auto apply = [](StripLevels l, ChannelSearch c) {
        GainRule(l, 225, 235, 235, c);
        return c;
    };
    ChannelSearch c = apply(Levels(10, 235), Channel(40, 12));  // range 225: settled
    EXPECT_TRUE(c.settled);
    EXPECT_EQ(c.gain, 12);
    c = apply(Levels(10, 234), Channel(40, 12));  // range 224, white not above L2: gain up
    EXPECT_EQ(c.gain, 13);
    EXPECT_EQ(c.offset, 40);
    EXPECT_FALSE(c.settled);
    EXPECT_EQ(apply(Levels(10, 234), Channel(40, 63)).gain, 63);
    EXPECT_EQ(apply(Levels(10, 234), Channel(40, 62)).gain, 63);
    c = apply(Levels(5, 240), Channel(40, 12));  // range 235: gain down
    EXPECT_EQ(c.gain, 11);
    EXPECT_FALSE(c.settled);
    EXPECT_EQ(apply(Levels(5, 240), Channel(40, 0)).gain, 0);
    // Short range with the white above L2: the offset comes down, not the gain up.
    c = apply(Levels(30, 236), Channel(40, 12));
    EXPECT_EQ(c.offset, 39);
    EXPECT_EQ(c.gain, 12);
    EXPECT_EQ(apply(Levels(30, 236), Channel(0, 12)).offset, 0);
    // A white below the black is a short range.
    EXPECT_EQ(apply(Levels(255, 0), Channel(40, 12)).gain, 13);
}

TEST(FlatbedRules, FineOffsetBandIsMinDarkToMaxDarkAndSettlesAtTheEnds) {
    auto apply = [](int black, int offset) {
        ChannelSearch c = Channel(offset, 12);
        FineOffsetRule(Levels(black, 230), 40, 50, c);
        return c;
    };
    EXPECT_EQ(apply(39, 50).offset, 51);
    EXPECT_TRUE(apply(40, 50).settled);
    EXPECT_EQ(apply(40, 50).offset, 50);
    EXPECT_TRUE(apply(49, 50).settled);
    EXPECT_EQ(apply(50, 50).offset, 49);
    EXPECT_FALSE(apply(50, 50).settled);
    EXPECT_TRUE(apply(50, 0).settled);
    EXPECT_EQ(apply(50, 0).offset, 0);
    EXPECT_TRUE(apply(39, 63).settled);
    EXPECT_EQ(apply(39, 63).offset, 63);
}

TEST(AdapterRules, OffsetHalvingBandIs124To131) {
    auto apply = [](int mid, int step) {
        ChannelSearch c = Channel(32, 2);
        TaOffsetRule(Mid(mid), step, c);
        return c.offset;
    };
    EXPECT_EQ(apply(123, 16), 48);
    EXPECT_EQ(apply(124, 16), 32);
    EXPECT_EQ(apply(131, 16), 32);
    EXPECT_EQ(apply(132, 16), 16);
    EXPECT_EQ(apply(10, 0), 32);  // the last pass's step
}

TEST(AdapterRules, GainHalvingMovesGainOrOffset) {
    auto apply = [](StripLevels l, int step) {
        ChannelSearch c = Channel(40, 24);
        TaGainRule(l, step, 225, 235, c);
        return c;
    };
    EXPECT_EQ(apply(Levels(10, 234), 12).gain, 36);  // short, white within 245
    EXPECT_EQ(apply(Levels(30, 245), 12).gain, 36);
    ChannelSearch c = apply(Levels(30, 246), 12);  // short, white clipping: offset down
    EXPECT_EQ(c.gain, 24);
    EXPECT_EQ(c.offset, 39);
    EXPECT_EQ(apply(Levels(10, 245), 6).gain, 18);  // range 235: gain down
    c = apply(Levels(21, 250), 6);                  // in band, black above 20: offset down
    EXPECT_EQ(c.offset, 39);
    EXPECT_EQ(c.gain, 24);
    c = apply(Levels(20, 249), 6);
    EXPECT_EQ(c.offset, 40);
    EXPECT_EQ(c.gain, 24);
    EXPECT_EQ(apply(Levels(10, 234), 12).offset, 40);
}

TEST(AdapterRules, FinePassNudgesTheOffsetOnceAndMovesGainsByTheWhite) {
    auto nudge = [](int mid) {
        ChannelSearch c = Channel(40, 20);
        TaMidLevelRule(Mid(mid), c);
        return c.offset;
    };
    EXPECT_EQ(nudge(125), 41);
    EXPECT_EQ(nudge(126), 40);
    EXPECT_EQ(nudge(128), 40);
    EXPECT_EQ(nudge(130), 40);
    EXPECT_EQ(nudge(131), 39);

    auto fine = [](int white) {
        ChannelSearch c = Channel(40, 20);
        TaFineGainRule(Levels(10, white), 225, 235, c);
        return c.gain;
    };
    EXPECT_EQ(fine(224), 21);
    EXPECT_EQ(fine(225), 20);
    EXPECT_EQ(fine(234), 20);
    EXPECT_EQ(fine(235), 19);
}

TEST(AdapterRules, ValuesOutside0To63AreKeptAs0Or63) {
    EXPECT_EQ(ClampAfeValue(-5), 0);
    EXPECT_EQ(ClampAfeValue(0), 0);
    EXPECT_EQ(ClampAfeValue(63), 63);
    EXPECT_EQ(ClampAfeValue(70), 63);
}

// A plane of `lines` rows of `width` bytes, all `level`.
std::vector<uint8_t> Plane(int width, int lines, uint8_t level) {
    return std::vector<uint8_t>(static_cast<size_t>(width) * lines, level);
}
void Paint(std::vector<uint8_t>& plane, int width, int lines, int from, int to, uint8_t level) {
    for (int r = 0; r < lines; ++r)
        for (int x = from; x < to; ++x) plane[static_cast<size_t>(r) * width + x] = level;
}

TEST(StripMeasurement, WhiteIsTheBrightestWholeTenPixelBinAveragedOverRows) {
    std::vector<uint8_t> plane = Plane(3700, 2, 100);
    for (int x = 3000; x < 3010; ++x) {
        plane[x] = 240;
        plane[3700 + x] = 221;
    }
    StripLevels l = MeasureStripLevels(plane.data(), 3700, 2, 300, 0);
    EXPECT_EQ(l.MaxWhite, 230);  // (2400 + 2210) / 20
    EXPECT_EQ(l.MinBlack, 100);
    EXPECT_EQ(l.MidLevel, 165);

    // The partial bin past the last multiple of ten is left out.
    std::vector<uint8_t> narrow = Plane(25, 1, 50);
    Paint(narrow, 25, 1, 20, 25, 250);
    EXPECT_EQ(MeasureStripLevels(narrow.data(), 25, 1, 300, 0).MaxWhite, 50);
}

TEST(StripMeasurement, NoWhiteBinsGiveZeroAndAnEmptyBlackWindowGives255) {
    std::vector<uint8_t> plane = Plane(9, 1, 200);
    StripLevels l = MeasureStripLevels(plane.data(), 9, 1, 300, 0);
    EXPECT_EQ(l.MaxWhite, 0);
    EXPECT_EQ(l.MinBlack, 255);  // the window starts at pixel 12, past the strip
    EXPECT_EQ(l.MidLevel, 127);

    std::vector<uint8_t> wide = Plane(600, 1, 200);
    l = MeasureStripLevels(wide.data(), 600, 1, 2, 0);  // 2 dpi: window 0..0
    EXPECT_EQ(l.MinBlack, 255);
    EXPECT_EQ(l.MaxWhite, 200);

    EXPECT_EQ(MeasureStripLevels(wide.data(), 600, 0, 300, 0).MinBlack, 255);  // no rows
}

TEST(StripMeasurement, BlackWindowFollowsTheResolutionAndTheAdapterFlag) {
    struct Case {
        uint16_t dpi;
        int ta;
        int darkFrom, darkTo;  // a dark patch
        bool seen;             // whether it lands in a whole bin of the window
    };
    const Case cases[] = {
        {300, 0, 8, 12, false}, {300, 0, 12, 16, true},  {300, 0, 116, 120, true}, {300, 0, 120, 124, false},
        {150, 0, 57, 60, true}, {150, 0, 60, 63, false}, {100, 0, 36, 39, true},   {50, 0, 18, 20, true},
        {50, 0, 20, 22, false}, {300, 1, 0, 10, true},   {300, 1, 390, 400, true}, {300, 1, 400, 410, false},
        {50, 1, 60, 65, true},  {50, 1, 65, 70, false},  {74, 1, 90, 95, true},    {75, 1, 90, 100, true},
    };
    for (const Case& k : cases) {
        const int width = 3700 * k.dpi / 300 / 2 * 2;
        std::vector<uint8_t> plane = Plane(width, 2, 200);
        Paint(plane, width, 2, k.darkFrom, k.darkTo, 10);
        const StripLevels l = MeasureStripLevels(plane.data(), static_cast<uint16_t>(width), 2, k.dpi, k.ta);
        EXPECT_EQ(l.MinBlack, k.seen ? 10 : 200) << k.dpi << " dpi, ta " << k.ta << ", dark " << k.darkFrom;
    }
}

// A uniform black field reads its own level at every resolution, also where the window starts
// inside a bin (75, 100 and 200 dpi), whose first bin holds fewer samples than the bin size.
TEST(StripMeasurement, UniformBlackReadsItsLevelWhereverTheWindowStarts) {
    for (uint16_t dpi : {50, 75, 100, 150, 200, 300}) {
        const int width = 3700 * dpi / 300 / 2 * 2;
        const int lines = dpi == 300 ? 2 : 1;
        std::vector<uint8_t> plane = Plane(width, lines, 230);
        Paint(plane, width, lines, 0, dpi * 120 / 300, 42);
        EXPECT_EQ(MeasureStripLevels(plane.data(), static_cast<uint16_t>(width), static_cast<uint16_t>(lines),
                                     dpi, 0)
                      .MinBlack,
                  42)
            << dpi << " dpi";
    }
}

TEST(StripWindow, ModeFieldAndAdapterBitByLampsAndSource) {
    EXPECT_EQ(StripModeField(false, false, 1), 2);
    EXPECT_EQ(StripModeField(true, false, 4), 3);
    EXPECT_EQ(StripModeField(false, true, 1), 6);
    EXPECT_EQ(StripModeField(false, true, 2), 10);
    EXPECT_EQ(StripModeField(false, true, 4), 14);
    EXPECT_EQ(StripModeField(true, true, 1), 7);
    EXPECT_EQ(StripModeField(true, true, 2), 11);
    EXPECT_EQ(StripModeField(true, true, 4), 15);

    EXPECT_FALSE(StripTaModeBit(false, false, false));
    EXPECT_TRUE(StripTaModeBit(true, false, false));
    EXPECT_TRUE(StripTaModeBit(false, true, false));
    EXPECT_TRUE(StripTaModeBit(false, false, true));

    EXPECT_EQ(StripLampMask(true, true), 0);
    EXPECT_EQ(StripLampMask(false, false), 1);
    EXPECT_EQ(StripLampMask(false, true), 2);
    EXPECT_EQ(StripClosingLampMask(false), 1);
    EXPECT_EQ(StripClosingLampMask(true), 2);

    StripWindowShape shape;
    shape.leftEdge = 7;
    shape.startLine = 450;
    shape.HWWidth = 3700;
    shape.HWHeight = 2;
    shape.SWWidth = 3700;
    shape.SWHeight = 2;
    shape.xDpi = shape.yDpi = 300;
    shape.pixelFormatCode = 4;
    shape.options20[0] = 1;
    shape.options20[2] = 1;
    shape.taModeBit = true;
    shape.modeField = 7;
    const ScanWindowParameters w = BuildStripWindow(shape, 4);
    EXPECT_EQ(w.myStartx, 7);
    EXPECT_EQ(w.myStarty, 450);
    EXPECT_EQ(w.DataWidth, 8);
    EXPECT_EQ(w.InterfaceType, 4);
    EXPECT_EQ(w.Option20_0, 1);
    EXPECT_EQ(w.Option20_1, 0);
    EXPECT_EQ(w.Option20_2, 1);
    EXPECT_EQ(w.Option20_3, 0);
    EXPECT_EQ(w.TaMode, 1);
    EXPECT_EQ(w.ModeField, 7);
    EXPECT_EQ(w.TrailingWord, 0);
    EXPECT_EQ(w.Wide16, 1);
    EXPECT_EQ(w.YMAXDPI, 300);
    EXPECT_EQ(w.LAMPSTEP, 0);
}

}  // namespace
}  // namespace b58

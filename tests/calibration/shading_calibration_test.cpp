// Shading calibration's choice of strips and builders, over a recording stand-in for the
// strip scans that fills its planes with fixed levels.
#include "calibration/shading_calibration.h"

#include <gtest/gtest.h>

#include <vector>

#include "calibration/shading_maps.h"
#include "calibration/strip_scan.h"
#include "device/device_discovery.h"
#include "device/scanner_link.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "support/scripted_controller.h"

namespace b58 {
namespace {

struct StripCall {
    uint16_t startLine;
    uint8_t darkFlag;
    uint8_t options[3];
    uint8_t taSelector;
    bool wide;
};

// What the stand-in strip scans deliver: a strip of kWidth x kLines at these levels.
constexpr uint16_t kWidth = 6;
constexpr uint16_t kLines = 40;
struct StripScript {
    std::vector<StripCall> calls;
    uint8_t white = 200, dark = 30;
    uint16_t white16 = 50000, dark16 = 4000;
    int failCall = -1;        // this call (0-based) comes back short
    uint16_t lines = kLines;  // rows of each strip
    int levelStep = 0;        // added to a strip's level for each call before it
} g_script;

template <typename Sample>
void FillStrip(Sample* plane, int stride, Sample level) {
    level = static_cast<Sample>(level + g_script.levelStep * static_cast<int>(g_script.calls.size() - 1));
    for (int r = 0; r < g_script.lines; ++r)
        for (int p = 0; p < kWidth; ++p) plane[r * stride + p] = level;
}

StripSize Record(StripRun& run, const StripRequest& r, bool wide) {
    const bool fail = static_cast<int>(g_script.calls.size()) == g_script.failCall;
    g_script.calls.push_back({r.startLine,
                              static_cast<uint8_t>(r.dark ? 1 : 0),
                              {r.options20[0], r.options20[1], r.options20[2]},
                              static_cast<uint8_t>(r.taSelector ? 1 : 0),
                              wide});
    run.StripScanOk = fail ? 0 : 1;
    return {kWidth, g_script.lines};
}

}  // namespace

StripSize ScanCalibrationStrip(StripRun& run, const StripRequest& request,
                               const StripPlanes<uint8_t>& planes) {
    const StripSize size = Record(run, request, false);
    const uint8_t level = request.dark ? g_script.dark : g_script.white;
    FillStrip<uint8_t>(planes.g, kWidth, level);
    if (request.pixelFormatCode == 2) return size;  // one plane: green only
    FillStrip<uint8_t>(planes.r, kWidth, level);
    FillStrip<uint8_t>(planes.b, kWidth, level);
    return size;
}

StripSize ScanCalibrationStrip16(StripRun& run, const StripRequest& request,
                                 const StripPlanes<uint16_t>& planes) {
    const StripSize size = Record(run, request, true);
    const uint16_t level = request.dark ? g_script.dark16 : g_script.white16;
    for (uint16_t* plane : {planes.r, planes.g, planes.b}) FillStrip<uint16_t>(plane, 2 * kWidth, level);
    return size;
}

namespace {

constexpr uint8_t kUntouched = 7;

class ShadingCalibrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetTimeScale(0.001);
        g_script = StripScript();
        for (auto* maps : {&r_, &g_, &b_})
            maps->assign(static_cast<size_t>(kWidth + 1) * kMapEntries, kUntouched);
        // A controller that takes every command: the lamps go off before a dark strip.
        usbscan::WithdrawAll();
        usbscan::Publish({0, "\\\\?\\usb#vid_1a2b&pid_3c4d#7&21&0&3#{6bdd1fc6-810f-11d0-bec7-08002be2092f}",
                          std::make_shared<testing::ScriptedController>()});
        device_ = OpenScannerByName();
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        CloseScanner(device_);
        usbscan::WithdrawAll();
        platform::SetTimeScale(1.0);
    }

    int Run(uint16_t startLine, uint16_t pixelFormat, uint8_t taMode, uint16_t dataWidth = 8) {
        const ShadingRequest request{.startLine = startLine,
                                     .lineCount = 40,
                                     .afe = {1, 2, 3, 4, 5, 6},
                                     .xDpi = 300,
                                     .yDpi = 300,
                                     .leftEdge = 72,
                                     .widthUnits = kWidth,
                                     .pixelFormatCode = pixelFormat,
                                     .taMode = taMode,
                                     .dataWidth = dataWidth,
                                     .black = black_,
                                     .BLACKSHADING = blackShading_,
                                     .RAWDATA = rawData_,
                                     .FACTOR = factor_};
        return CalibrateShading(Link(), request, {r_.data(), g_.data(), b_.data()}, references_);
    }
    uint8_t Entry(const std::vector<uint8_t>& maps, int pixel, int v) const {
        return maps[static_cast<size_t>(pixel) * kMapEntries + v];
    }
    static void ExpectCall(const StripCall& call, uint16_t startLine, uint8_t dark, uint8_t o0, uint8_t o1,
                           uint8_t o2, uint8_t ta, bool wide) {
        EXPECT_EQ(call.startLine, startLine);
        EXPECT_EQ(call.darkFlag, dark);
        EXPECT_EQ(call.options[0], o0);
        EXPECT_EQ(call.options[1], o1);
        EXPECT_EQ(call.options[2], o2);
        EXPECT_EQ(call.taSelector, ta);
        EXPECT_EQ(call.wide, wide);
    }

    ScannerLink Link() { return {device_, 4, channel_, reader_}; }

    std::vector<uint8_t> r_, g_, b_;
    const BlackLevels black_{20, 20, 20};
    uint16_t blackShading_ = 0;
    uint16_t rawData_ = 0;
    uint16_t factor_ = 100;
    ShadingReferences references_;  // none unless a test hands them in
    HANDLE device_ = INVALID_HANDLE_VALUE;
    CommandChannel channel_;
    ImageDataReader reader_;
};

TEST_F(ShadingCalibrationTest, FlatbedWithoutDarkStripScalesFromTheBlackLevels) {
    factor_ = 110;
    ASSERT_EQ(Run(13, 4, 0), 1);
    ASSERT_EQ(g_script.calls.size(), 1u);
    ExpectCall(g_script.calls[0], 13, 0, 1, 0, 0, 0, false);
    for (auto* maps : {&r_, &g_, &b_}) {
        EXPECT_EQ(Entry(*maps, 0, 200), 231);
        EXPECT_EQ(Entry(*maps, 5, 20), 0);
        EXPECT_EQ(Entry(*maps, kWidth, 200), kUntouched);  // beyond the strip
    }
}

TEST_F(ShadingCalibrationTest, FlatbedDarkStripFollowsTheWhiteOneAndIsRounded) {
    blackShading_ = 1;
    ASSERT_EQ(Run(13, 4, 0), 1);
    ASSERT_EQ(g_script.calls.size(), 2u);
    ExpectCall(g_script.calls[0], 13, 0, 1, 0, 0, 0, false);
    ExpectCall(g_script.calls[1], 13, 1, 0, 1, 1, 0, false);
    EXPECT_EQ(Entry(r_, 0, 30), 0);
    EXPECT_EQ(Entry(g_, 1, 115), 128);  // 85 x 255 / 170 + 0.5
    EXPECT_EQ(Entry(b_, 2, 200), 255);
}

TEST_F(ShadingCalibrationTest, AdapterTakesNoDarkStripAndItsStripStartsAtLineZero) {
    blackShading_ = 1;
    ASSERT_EQ(Run(450, 4, 1), 1);
    ASSERT_EQ(g_script.calls.size(), 1u);
    ExpectCall(g_script.calls[0], 0, 0, 1, 1, 0, 1, false);
    EXPECT_EQ(Entry(g_, 0, 110), 128);  // black level 20, rounded: 127.5 + 0.5
}

TEST_F(ShadingCalibrationTest, RawDataTakesTheStripsAndBuildsNothing) {
    blackShading_ = 1;
    rawData_ = 1;
    ASSERT_EQ(Run(13, 4, 0), 1);
    EXPECT_EQ(g_script.calls.size(), 2u);
    EXPECT_EQ(Entry(g_, 0, 200), kUntouched);
}

TEST_F(ShadingCalibrationTest, AShortStripEndsTheCalibrationWithTheMapsAsTheyWere) {
    blackShading_ = 1;
    g_script.failCall = 0;
    EXPECT_EQ(Run(13, 4, 0), 0);
    EXPECT_EQ(g_script.calls.size(), 1u);  // no dark strip after a failed white one
    EXPECT_EQ(Entry(g_, 0, 200), kUntouched);

    g_script = StripScript();
    g_script.failCall = 1;
    EXPECT_EQ(Run(13, 4, 0), 0);
    EXPECT_EQ(Entry(r_, 0, 200), kUntouched);
}

TEST_F(ShadingCalibrationTest, OnePlaneStripsBuildOnlyTheGreenMaps) {
    ASSERT_EQ(Run(13, 2, 0), 1);
    EXPECT_EQ(Entry(g_, 0, 200), 255);
    EXPECT_EQ(Entry(r_, 0, 200), kUntouched);
    EXPECT_EQ(Entry(b_, 0, 200), kUntouched);
}

// A 50-dpi strip has 7 rows: the strip is taken again one line further down until about 40
// rows are in, and the references come from all of them.
TEST_F(ShadingCalibrationTest, FewRowStripsAreTakenAgainLowerDownAndPooled) {
    g_script.lines = 7;
    g_script.levelStep = 1;  // the passes read 200, 201, ... 205
    ASSERT_EQ(Run(13, 4, 0), 1);
    ASSERT_EQ(g_script.calls.size(), 6u);
    for (uint16_t i = 0; i < 6; ++i) ExpectCall(g_script.calls[i], 13 + i, 0, 1, 0, 0, 0, false);
    // Rows 14..27 of the 42 sorted: 202 and 203, a white of 202.5 over the black level 20.
    EXPECT_EQ(Entry(g_, 0, 202), 254);
    EXPECT_EQ(Entry(g_, 0, 203), 255);

    // A dark strip is pooled the same way; 16-bit strips too; at most 50 rows in all.
    g_script = StripScript();
    g_script.lines = 7;
    blackShading_ = 1;
    ASSERT_EQ(Run(13, 4, 0), 1);
    ASSERT_EQ(g_script.calls.size(), 12u);
    ExpectCall(g_script.calls[6], 13, 1, 0, 1, 1, 0, false);
    ExpectCall(g_script.calls[11], 18, 1, 0, 1, 1, 0, false);

    g_script = StripScript();
    g_script.lines = 20;
    std::vector<uint16_t> refs(6 * (kWidth + 1), 9);
    uint16_t* r = refs.data();
    const int n = kWidth + 1;
    const ShadingRequest request16{.startLine = 11,
                                   .lineCount = 40,
                                   .afe = {1, 2, 3, 4, 5, 6},
                                   .xDpi = 150,
                                   .yDpi = 150,
                                   .leftEdge = 72,
                                   .widthUnits = kWidth,
                                   .pixelFormatCode = 4,
                                   .dataWidth = 16,
                                   .black = black_,
                                   .BLACKSHADING = blackShading_};
    ASSERT_EQ(CalibrateShading16(Link(), request16, {r, r + n, r + 2 * n, r + 3 * n, r + 4 * n, r + 5 * n}),
              1);
    ASSERT_EQ(g_script.calls.size(), 4u);
    EXPECT_EQ(g_script.calls[1].startLine, 12);
    EXPECT_EQ(g_script.calls[3].startLine, 12);
    EXPECT_EQ(r[0], 50000);

    g_script = StripScript();
    g_script.lines = 30;
    ASSERT_EQ(Run(13, 4, 0), 1);
    EXPECT_EQ(g_script.calls.size(), 2u);  // one white, one dark: a second of each would not fit
}

class References16Test : public ShadingCalibrationTest {
  protected:
    void SetUp() override {
        ShadingCalibrationTest::SetUp();
        for (auto* refs : {&wr_, &dr_, &wg_, &dg_, &wb_, &db_}) refs->assign(kWidth + 1, 9);
    }
    int Run16() {
        const ShadingRequest request{.startLine = 11,
                                     .lineCount = 40,
                                     .afe = {1, 2, 3, 4, 5, 6},
                                     .xDpi = 300,
                                     .yDpi = 300,
                                     .leftEdge = 72,
                                     .widthUnits = kWidth,
                                     .pixelFormatCode = 4,
                                     .dataWidth = 16,
                                     .black = black_,
                                     .BLACKSHADING = blackShading_,
                                     .RAWDATA = rawData_};
        return CalibrateShading16(Link(), request,
                                  {wr_.data(), dr_.data(), wg_.data(), dg_.data(), wb_.data(), db_.data()});
    }
    std::vector<uint16_t> wr_, dr_, wg_, dg_, wb_, db_;
};

TEST_F(References16Test, WithADarkStripBothReferencesComeFromTheStrips) {
    blackShading_ = 1;
    ASSERT_EQ(Run16(), 1);
    ASSERT_EQ(g_script.calls.size(), 2u);
    ExpectCall(g_script.calls[0], 11, 0, 1, 0, 0, 0, true);
    ExpectCall(g_script.calls[1], 11, 1, 1, 1, 1, 0, true);
    EXPECT_EQ(wg_[0], 50000);
    EXPECT_EQ(dg_[kWidth - 1], 4000);
    EXPECT_EQ(db_[kWidth], 9);  // beyond the strip
}

TEST_F(References16Test, WithoutADarkStripTheBlackLevelsAreTheDarkReferences) {
    ASSERT_EQ(Run16(), 1);
    ASSERT_EQ(g_script.calls.size(), 1u);
    EXPECT_EQ(wr_[0], 50000);
    EXPECT_EQ(dr_[0], 20 * 257);
    EXPECT_EQ(dr_[kWidth], 9);

    // Raw data leaves them as they were.
    rawData_ = 1;
    wr_.assign(kWidth + 1, 9);
    ASSERT_EQ(Run16(), 1);
    EXPECT_EQ(wr_[0], 9);
}

// The adapter's 16-bit white strip comes from its clear area (line 0), not from the start line
// handed in, which lies over the film holder.
TEST_F(References16Test, A48BitAdapterScanGetsReferencesFromItsClearWhiteStrip) {
    references_ = {wr_.data(), dr_.data(), wg_.data(), dg_.data(), wb_.data(), db_.data()};
    blackShading_ = 1;
    ASSERT_EQ(Run(450, 4, 1, 16), 1);
    ASSERT_EQ(g_script.calls.size(), 1u);
    ExpectCall(g_script.calls[0], 0, 0, 1, 1, 0, 1, true);
    EXPECT_EQ(wb_[3], 50000);
    EXPECT_EQ(db_[3], 20 * 257);
    EXPECT_EQ(Entry(g_, 0, 200), kUntouched);
}

}  // namespace
}  // namespace b58

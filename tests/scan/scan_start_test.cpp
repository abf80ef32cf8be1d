#include "scan/scan_start.h"

#include <gtest/gtest.h>

namespace b58 {
namespace {

HorizontalStartInput Flatbed(uint16_t windowLeft, bool pixelMode) {
    HorizontalStartInput in;
    in.windowLeft = windowLeft;
    in.pixelMode = pixelMode;
    in.rxdpi = 300;
    in.pixelFormatCode = 4;
    return in;
}

TEST(HorizontalStartTest, AlignsToTheSixPixelGrid) {
    HorizontalStart pixel = ComputeHorizontalStart(Flatbed(100, true));
    EXPECT_EQ(pixel.myStartx, 102);
    EXPECT_EQ(pixel.windowStartX, 102);
    HorizontalStart line = ComputeHorizontalStart(Flatbed(100, false));
    EXPECT_EQ(line.myStartx, 101);
    EXPECT_EQ(line.windowStartX, 96);
    EXPECT_EQ(ComputeHorizontalStart(Flatbed(96, true)).myStartx, 96);
    // A start at the very left in line mode goes one pixel before it.
    EXPECT_EQ(ComputeHorizontalStart(Flatbed(0, false)).myStartx, -1);
}

TEST(HorizontalStartTest, LeftAddCountsOnTheFlatbedAndOnTheAdapterOnlyFromTheOrigin) {
    HorizontalStartInput in = Flatbed(100, true);
    in.leftbound = 12;
    in.leftAdd = 6;
    EXPECT_EQ(ComputeHorizontalStart(in).myStartx, 120);
    in.taMode = true;
    in.taType = 2;
    EXPECT_EQ(ComputeHorizontalStart(in).myStartx, 114);
    in.scanFromOrigin = true;
    EXPECT_EQ(ComputeHorizontalStart(in).myStartx, 120);
}

TEST(HorizontalStartTest, AdapterKindsShiftTheStartButNotTheAlignedWindow) {
    HorizontalStartInput in = Flatbed(100, true);
    in.taMode = true;
    in.taType = 1;
    HorizontalStart colour = ComputeHorizontalStart(in);
    EXPECT_EQ(colour.myStartx, 99);
    EXPECT_EQ(colour.windowStartX, 102);
    in.pixelFormatCode = 2;
    EXPECT_EQ(ComputeHorizontalStart(in).myStartx, 105);
    in.rxdpi = 50;
    EXPECT_EQ(ComputeHorizontalStart(in).myStartx, 102);
    in.rxdpi = 300;
    in.taType = 4;
    EXPECT_EQ(ComputeHorizontalStart(in).myStartx, 108);
    in.rxdpi = 50;
    EXPECT_EQ(ComputeHorizontalStart(in).myStartx, 102);
}

TEST(HorizontalStartTest, WrapsInSixteenBitsAndTruncatesTowardZero) {
    HorizontalStartInput in = Flatbed(32760, true);
    in.leftbound = 10;  // 32775 wraps to -32761
    EXPECT_EQ(ComputeHorizontalStart(in).myStartx, -32760);
}

TEST(ShadingStartLineTest, SeventyThreeLinesAboveTheTopAndNeverNegative) {
    EXPECT_EQ(ComputeShadingStartLine(100), 27);
    EXPECT_EQ(ComputeShadingStartLine(73), 0);
    EXPECT_EQ(ComputeShadingStartLine(50), 0);
}

VerticalStartInput FlatbedDown(uint16_t rxdpi, uint16_t rydpi, int32_t topLine) {
    VerticalStartInput in;
    in.windowTop = 90;
    in.topAdd = 7;
    in.lampStep = 12;
    in.rxdpi = rxdpi;
    in.rydpi = rydpi;
    in.topLine = topLine;
    in.shadingStartLine = ComputeShadingStartLine(topLine);
    return in;
}

TEST(VerticalStartTest, FlatbedByResolution) {
    // TopLine 100: shading from 27, D = 33. TopLine 50: shading from 0, D = 10.
    EXPECT_EQ(ComputeVerticalStart(FlatbedDown(300, 300, 100)), 90 + 7 + 33 - 12);
    EXPECT_EQ(ComputeVerticalStart(FlatbedDown(150, 150, 50)), 90 + 7 + 10 - 12);
    EXPECT_EQ(ComputeVerticalStart(FlatbedDown(300, 600, 100)), 45 + 7 + 33 - 6);
    EXPECT_EQ(ComputeVerticalStart(FlatbedDown(600, 600, 100)), 90 + 7 + 33 - 12);
    EXPECT_EQ(ComputeVerticalStart(FlatbedDown(50, 50, 100)), 90 + 7 + 8 - 12);
}

TEST(VerticalStartTest, CalibrationAreaAndOriginOverrideTheTable) {
    VerticalStartInput in = FlatbedDown(300, 300, 100);
    in.kStartY = 44;
    in.scanFromOrigin = true;
    EXPECT_EQ(ComputeVerticalStart(in), 0);
    in.scanCalibrationArea = true;
    EXPECT_EQ(ComputeVerticalStart(in), 44);
}

TEST(VerticalStartTest, AdapterTableByKindAndResolution) {
    struct Row {
        uint16_t taType;
        int at600, at300, other;
    };
    for (Row row : {Row{1, 22, 19, 25}, Row{2, 31, 28, 24}, Row{4, 19, 16, 12}}) {
        VerticalStartInput in;
        in.windowTop = 91;
        in.taTopAdd = 30;
        in.lampStep = 9;
        in.taType = row.taType;
        in.rxdpi = in.rydpi = 600;
        EXPECT_EQ(ComputeVerticalStart(in), 45 + 30 - 4 + row.at600) << row.taType;
        in.rxdpi = in.rydpi = 300;
        EXPECT_EQ(ComputeVerticalStart(in), 91 + 30 - 9 + row.at300) << row.taType;
        in.rxdpi = in.rydpi = 150;
        EXPECT_EQ(ComputeVerticalStart(in), 91 + 30 - 9 + row.other) << row.taType;
        in.rxdpi = in.rydpi = 50;
        EXPECT_EQ(ComputeVerticalStart(in), 91 + 30 - 9) << row.taType;
    }
}

TEST(ScanModeFieldTest, PixelModeBitAndAdapterCode) {
    EXPECT_EQ(ComputeScanModeField(false, false, 0), 0);
    EXPECT_EQ(ComputeScanModeField(true, false, 1), 1);  // the adapter kind counts only in adapter mode
    EXPECT_EQ(ComputeScanModeField(false, true, 1), 4);
    EXPECT_EQ(ComputeScanModeField(false, true, 2), 8);
    EXPECT_EQ(ComputeScanModeField(false, true, 4), 12);
    EXPECT_EQ(ComputeScanModeField(true, true, 4), 13);
}

TEST(PrerollTest, StartsFiveLinesEarlierAndNeverAboveTheFirstLine) {
    WindowRun run{40, 100, 112};
    ASSERT_TRUE(ApplyPreroll(run));
    EXPECT_EQ(run.myStarty, 35);
    EXPECT_EQ(run.swHeight, 105);
    EXPECT_EQ(run.hwHeight, 117);
    WindowRun top{3, 100, 112};
    ASSERT_TRUE(ApplyPreroll(top));
    EXPECT_EQ(top.myStarty, 0);
}

TEST(PrerollTest, RefusesHeightsThatWouldNotFitSixteenBits) {
    WindowRun run{40, 65531, 100};
    EXPECT_FALSE(ApplyPreroll(run));
    EXPECT_EQ(run.swHeight, 65531);
    EXPECT_EQ(run.myStarty, 40);
    WindowRun hw{40, 100, 65531};
    EXPECT_FALSE(ApplyPreroll(hw));
    WindowRun fits{40, 65530, 65530};
    EXPECT_TRUE(ApplyPreroll(fits));
    EXPECT_EQ(fits.swHeight, 65535);
}

}  // namespace
}  // namespace b58

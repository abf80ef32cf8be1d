#include "scan/scan_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace b58 {
namespace {

ScanParameters Request(uint16_t resolution, uint16_t mode, uint16_t width = 300, uint16_t height = 300) {
    ScanParameters r{};
    r.Left = 100;
    r.Top = 200;
    r.Right = static_cast<uint16_t>(100 + width);
    r.Bottom = static_cast<uint16_t>(200 + height);
    r.Resolution = resolution;
    r.ScanMode = mode;
    r.Threshold = 128;
    r.WindowByte = 0x81;
    return r;
}

ScanConfig Accepted(const ScanParameters& request, uint8_t validBefore = 0) {
    ScanRequestResult result = DeriveScanConfig(request, validBefore);
    EXPECT_EQ(result.fault, ScanRequestFault::None);
    return result.config;
}

TEST(ScanRequest, HighResolutionColourScansLineModeAt300By600) {
    ScanConfig c = Accepted(Request(1200, ModeColor24, 300, 100));
    EXPECT_EQ(c.Resolution, 300);
    EXPECT_EQ(c.HighResMode, 1);
    EXPECT_EQ(c.ResolutionValid, 1);
    EXPECT_EQ(c.RXDPI, 300);
    EXPECT_EQ(c.RYDPI, 600);
    EXPECT_EQ(c.YMAXDPI, 600);
    EXPECT_EQ(c.LAMPSTEP, 2);
    EXPECT_EQ(c.ScanPixelModeFlag, 0);
    EXPECT_EQ(c.LineRoutine, LineRoutineKind::Color24LineMode);
    EXPECT_EQ(c.ReaderRoutine, ReaderRoutineKind::Plane);
    EXPECT_STREQ(c.ResolutionTrace, "Trel-LINEMODE");
    EXPECT_STREQ(c.ModeTrace, "Trel 24bit Color Mode");
    // Derived values: motor lines at 600 per inch, planes two motor lines apart.
    EXPECT_EQ(c.WindowLeft, 100);
    EXPECT_EQ(c.WindowTop, 400);
    EXPECT_EQ(c.LinePixels, 300);
    EXPECT_EQ(c.ImageLines, 200);
    EXPECT_EQ(c.MotorLines, 100 * 2 + 2 * 2 + 1);
    EXPECT_EQ(c.ColourLag, 2);
    EXPECT_EQ(c.SWWidth, 300);
    EXPECT_EQ(c.SWHeight, 200 + 4 + 1);
    EXPECT_EQ(c.PixelFormatCode, 4);
    EXPECT_EQ(c.DataWidth, 8);
    EXPECT_EQ(c.LineBytes, 900);
    EXPECT_EQ(c.Threshold, 128);
    EXPECT_EQ(c.WindowByte, 0x81);
}

TEST(ScanRequest, LowResolutionColourUsesPixelModeWithoutLag) {
    ScanConfig c = Accepted(Request(200, ModeColor24, 301, 30));
    EXPECT_EQ(c.Resolution, 150);
    EXPECT_EQ(c.RXDPI, 150);
    EXPECT_EQ(c.RYDPI, 150);
    EXPECT_EQ(c.YMAXDPI, 300);
    EXPECT_EQ(c.LAMPSTEP, 1);
    EXPECT_EQ(c.ScanPixelModeFlag, 1);
    EXPECT_EQ(c.ColourLag, 0);
    EXPECT_EQ(c.LinePixels, 150);  // 301 x 150 / 300, truncated
    EXPECT_EQ(c.SWWidth, 150);
    EXPECT_EQ(c.ImageLines, 15);
    EXPECT_EQ(c.SWHeight, 16);
    EXPECT_EQ(c.MotorLines, 30 + 2 + 1);
    EXPECT_EQ(c.LineRoutine, LineRoutineKind::Color24PixelMode);
    EXPECT_EQ(c.ReaderRoutine, ReaderRoutineKind::Pixel);
    EXPECT_STREQ(c.ResolutionTrace, "Trel-PIXELMODE");
}

TEST(ScanRequest, FullResolutionColourLagsOneLine) {
    ScanConfig c = Accepted(Request(300, ModeColor24, 301, 100));
    EXPECT_EQ(c.ColourLag, 1);
    EXPECT_EQ(c.ImageLines, 100);
    EXPECT_EQ(c.SWHeight, c.ImageLines + 3);
    EXPECT_EQ(c.LinePixels, 301);
    EXPECT_EQ(c.SWWidth, 302);  // rounded up to even
    EXPECT_EQ(c.LineBytes, 903);
    EXPECT_EQ(c.ScanPixelModeFlag, 1);
}

TEST(ScanRequest, LineArtPacksWholeBytes) {
    for (uint16_t width = 1; width <= 8; ++width) {
        ScanConfig c = Accepted(Request(300, ModeLineArt, width, 10));
        EXPECT_EQ(c.LineBytes, 1) << width;
        EXPECT_EQ(c.LinePixels, 8);
        EXPECT_EQ(c.SWWidth, 8);
        EXPECT_EQ(c.WidthUnits, 8);
        EXPECT_EQ(c.ScanPixelModeFlag, 0);
        EXPECT_EQ(c.PixelFormatCode, 2);
        EXPECT_EQ(c.LineRoutine, LineRoutineKind::LineArt);
        EXPECT_EQ(c.ReaderRoutine, ReaderRoutineKind::Pixel);
        EXPECT_EQ(c.ModeTrace, nullptr);
    }
    EXPECT_EQ(Accepted(Request(300, ModeLineArt, 9, 10)).LineBytes, 2);
    // Width and pixels are rounded separately: 20 units at 150 dpi are 10 pixels, made 16.
    ScanConfig half = Accepted(Request(150, ModeLineArt, 20, 10));
    EXPECT_EQ(half.WidthUnits, 24);
    EXPECT_EQ(half.LinePixels, 16);
    EXPECT_EQ(half.LineBytes, 2);
}

TEST(ScanRequest, GreyIsOneBytePerPixelInLineMode) {
    ScanConfig c = Accepted(Request(100, ModeGray, 301, 30));
    EXPECT_EQ(c.LinePixels, 100);
    EXPECT_EQ(c.LineBytes, 100);
    EXPECT_EQ(c.ScanPixelModeFlag, 0);
    EXPECT_STREQ(c.ResolutionTrace, "Trel-PIXELMODE");  // traced before the mode forces line mode
    EXPECT_EQ(c.LineRoutine, LineRoutineKind::Gray);
}

TEST(ScanRequest, Colour48NeverUsesPixelMode) {
    for (uint16_t dpi : {50, 100, 150, 300, 600, 1200}) {
        ScanConfig c = Accepted(Request(dpi, ModeColor48, 300, 30));
        EXPECT_EQ(c.ScanPixelModeFlag, 0) << dpi;
        EXPECT_EQ(c.DataWidth, 16);
        EXPECT_EQ(c.PixelFormatCode, 4);
        EXPECT_EQ(c.LineBytes, 6 * c.LinePixels);
        EXPECT_EQ(c.LineRoutine, LineRoutineKind::Color48LineMode);
        EXPECT_EQ(c.ReaderRoutine, ReaderRoutineKind::Plane);
        EXPECT_STREQ(c.ResolutionTrace, "Trel-LINEMODE");
        EXPECT_STREQ(c.ModeTrace, "Trel 48bit Color Mode");
    }
}

TEST(ScanRequest, ResolutionNormalisation) {
    const struct {
        uint16_t requested, normalised;
        uint8_t valid;
    } cases[] = {{65535, 300, 1}, {600, 300, 1}, {599, 300, 1}, {300, 300, 1}, {299, 150, 1}, {150, 150, 1},
                 {149, 100, 1},   {100, 100, 1}, {99, 50, 1},   {50, 50, 1},   {49, 50, 0},   {0, 50, 0}};
    for (const auto& k : cases) {
        ScanConfig c = Accepted(Request(k.requested, ModeGray, 300, 30));
        EXPECT_EQ(c.Resolution, k.normalised) << k.requested;
        EXPECT_EQ(c.ResolutionValid, k.valid) << k.requested;
    }
    // Below 50 dpi the previous value stays.
    EXPECT_EQ(Accepted(Request(10, ModeGray), 1).ResolutionValid, 1);
}

ScanRequestFault Fault(const ScanParameters& request) {
    return DeriveScanConfig(request, 0).fault;
}

TEST(ScanRequest, RejectsWindowsThatWrap) {
    ScanParameters r = Request(300, ModeGray);
    r.Right = r.Left;
    EXPECT_EQ(Fault(r), ScanRequestFault::EmptyWindow);
    r.Right = static_cast<uint16_t>(r.Left - 1);
    EXPECT_EQ(Fault(r), ScanRequestFault::EmptyWindow);
    r = Request(300, ModeGray);
    r.Bottom = r.Top;
    EXPECT_EQ(Fault(r), ScanRequestFault::EmptyWindow);
    r.Bottom = 0;
    EXPECT_EQ(Fault(r), ScanRequestFault::EmptyWindow);
}

TEST(ScanRequest, RejectsUnknownModes) {
    for (uint16_t mode : {3, 4, 9, 11, 0xFFFF})
        EXPECT_EQ(Fault(Request(300, mode)), ScanRequestFault::UnknownMode);
}

TEST(ScanRequest, RejectsLinesWiderThanASlot) {
    // Left is 100: the window may reach the sensor's last pixel, 3700, and no further.
    EXPECT_EQ(Fault(Request(300, ModeColor48, 3600, 10)), ScanRequestFault::None);
    EXPECT_EQ(Fault(Request(300, ModeColor48, 3601, 10)), ScanRequestFault::TooWide);
    EXPECT_EQ(Fault(Request(1200, ModeColor24, 3701, 10)), ScanRequestFault::TooWide);
    // Rounding to whole bytes must not push line art past the sensor.
    EXPECT_EQ(Fault(Request(300, ModeLineArt, 3593, 10)), ScanRequestFault::None);
    EXPECT_EQ(Fault(Request(300, ModeLineArt, 3601, 10)), ScanRequestFault::TooWide);
    // At 50 dpi few pixels come from many units, but the window still has to fit the sensor.
    EXPECT_EQ(Fault(Request(50, ModeGray, 3600, 10)), ScanRequestFault::None);
    EXPECT_EQ(Fault(Request(50, ModeGray, 3601, 10)), ScanRequestFault::TooWide);
    EXPECT_EQ(Fault(Request(50, ModeGray, 14401, 10)), ScanRequestFault::TooWide);
}

TEST(ScanRequest, RejectsHeightsTheScanWindowCannotHold) {
    // 300 dpi: the window covers the image, the lag lines and one more, at most 14400 lines out.
    EXPECT_EQ(Fault(Request(300, ModeGray, 100, 14396)), ScanRequestFault::None);
    EXPECT_EQ(Fault(Request(300, ModeGray, 100, 14397)), ScanRequestFault::TooTall);
    // 600 dpi down doubles the lines.
    EXPECT_EQ(Fault(Request(600, ModeColor24, 100, 7196)), ScanRequestFault::None);
    EXPECT_EQ(Fault(Request(600, ModeColor24, 100, 7197)), ScanRequestFault::TooTall);
    // 150 dpi: the motor line limit comes first.
    ScanParameters r = Request(150, ModeGray, 100, 28796);
    r.Top = 0;
    r.Bottom = 28796;
    EXPECT_EQ(Fault(r), ScanRequestFault::None);
    r.Bottom = 28797;
    EXPECT_EQ(Fault(r), ScanRequestFault::TooTall);
    r.Bottom = 65535;
    EXPECT_EQ(Fault(r), ScanRequestFault::TooTall);
}

TEST(ScanRequest, RejectsAFirstLineBeyondTheMotorRange) {
    ScanParameters r = Request(600, ModeGray, 100, 10);
    r.Top = 32767;
    r.Bottom = 32777;
    EXPECT_EQ(DeriveScanConfig(r, 0).config.WindowTop, 65534);
    r.Top = 32768;
    r.Bottom = 32778;
    EXPECT_EQ(Fault(r), ScanRequestFault::WindowOutOfRange);
    // At 300 dpi and below the first line is the request's.
    r.Resolution = 300;
    EXPECT_EQ(Fault(r), ScanRequestFault::None);
}

}  // namespace
}  // namespace b58

// Calibration strips against the virtual scanner: what lands in which plane in each mode,
// the commands around the data, and a stream that ends early.
#include <gtest/gtest.h>

#include <vector>

#include "calibration/strip_scan.h"
#include "calibration_fixture.h"

namespace b58 {
namespace {

using testing::VirtualScannerTest;

constexpr uint8_t kUnwritten = 0xEE;

// The virtual scanner's position pattern: sample of colour plane c (red, green, blue) of
// scan line r at pixel x.
uint8_t Pattern(int x, int r, int c) {
    return static_cast<uint8_t>((x + 7 * r + 85 * c) % 256);
}

struct Strip8 {
    std::vector<uint8_t> planes[3];
    uint16_t width = 0;
    uint16_t lines = 0;
};

class StripScanTest : public VirtualScannerTest {
  protected:
    // A strip of 4 requested lines; at 150 dpi 600 units give 300 pixels and 2 rows.
    Strip8 Scan(uint16_t dpi, uint16_t widthUnits, int32_t pixelMode, uint16_t format, uint8_t dark = 0,
                uint8_t ta = 0) {
        Strip8 s;
        for (auto& plane : s.planes) plane.assign(4 * 3700, kUnwritten);
        const StripRequest request{.startLine = 0,
                                   .lineCount = 4,
                                   .widthUnits = widthUnits,
                                   .xDpi = dpi,
                                   .yDpi = dpi,
                                   .afe = {30, 2, 31, 3, 32, 4},
                                   .dark = dark != 0,
                                   .pixelMode = pixelMode != 0,
                                   .pixelFormatCode = format,
                                   .options20 = {1, 0, 0},
                                   .taSelector = ta != 0,
                                   .taMode = taMode_,
                                   .taType = taType_};
        StripRun run{Link()};
        const StripSize size =
            ScanCalibrationStrip(run, request, {s.planes[0].data(), s.planes[1].data(), s.planes[2].data()});
        stripScanOk_ = run.StripScanOk;
        s.width = size.width;
        s.lines = size.lines;
        return s;
    }
    int32_t stripScanOk_ = -1;
    uint8_t taMode_ = 0;
    uint16_t taType_ = 0;
    std::vector<uint8_t> LampMasks() const {
        std::vector<uint8_t> masks;
        for (const auto& packet : scanner_->Sent(0x25)) masks.push_back(packet[2]);
        return masks;
    }
    std::vector<uint8_t> Window() const {
        const auto windows = scanner_->Sent(0x20);
        EXPECT_EQ(windows.size(), 1u);
        return windows.empty() ? std::vector<uint8_t>(64) : windows.back();
    }
};

// How many samples of plane c differ from the pattern over rows [0, rows) of width w.
int Mismatches(const Strip8& s, int c, int rows) {
    int bad = 0;
    for (int r = 0; r < rows; ++r)
        for (int x = 0; x < s.width; ++x)
            bad += s.planes[c][static_cast<size_t>(r) * s.width + x] != Pattern(x, r, c);
    return bad;
}

TEST_F(StripScanTest, PixelModeSplitsEachTripleIntoRedGreenBlue) {
    Plug("stream=placeholder");
    const Strip8 s = Scan(300, 3700, 1, 4);
    EXPECT_EQ(stripScanOk_, 1);
    ASSERT_EQ(s.width, 3700);
    ASSERT_EQ(s.lines, 4);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Mismatches(s, c, 4), 0) << "plane " << c;

    const std::vector<uint8_t> w = Window();
    EXPECT_EQ(w[20], 0x01);              // options 20.0..20.2 as given: 1, 0, 0
    EXPECT_EQ(w[21], 0x04 | 0x08);       // pixel mode, no lamp step, flatbed
    EXPECT_EQ(w[10], 0x84);              // colour, 8 bits
    EXPECT_EQ(w[24] | (w[25] << 8), 0);  // trailing word
    // Lamp, window, AFE, start, then stop and the lamp again.
    EXPECT_EQ(scanner_->Sequence(), (std::vector<uint8_t>{0x25, 0x20, 0x22, 0x43, 0x41, 0x25}));
    EXPECT_EQ(LampMasks(), (std::vector<uint8_t>{1, 1}));
    const auto afe = scanner_->Sent(0x22);
    ASSERT_EQ(afe.size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(afe[0].begin() + 2, afe[0].begin() + 8),
              (std::vector<uint8_t>{30, 2, 31, 3, 32, 4}));
}

TEST_F(StripScanTest, ColourLineModePlacesEachLineByItsTableColourAndRow) {
    Plug("stream=placeholder");
    const Strip8 s = Scan(150, 600, 0, 4);
    EXPECT_EQ(stripScanOk_, 1);
    ASSERT_EQ(s.width, 300);
    ASSERT_EQ(s.lines, 2);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(Mismatches(s, c, 2), 0) << "plane " << c;
        EXPECT_EQ(s.planes[c][600], kUnwritten);  // nothing past the strip's rows
    }
    EXPECT_EQ(Window()[21], 0x08);
}

TEST_F(StripScanTest, OnePlaneStripFillsOnlyTheGreenPlane) {
    Plug("stream=placeholder");
    const Strip8 s = Scan(150, 600, 0, 2);
    EXPECT_EQ(stripScanOk_, 1);
    ASSERT_EQ(s.width, 300);
    int bad = 0;
    for (int r = 0; r < 2; ++r)
        for (int x = 0; x < 300; ++x) bad += s.planes[1][r * 300 + x] != Pattern(x, r, 0);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(s.planes[0], std::vector<uint8_t>(4 * 3700, kUnwritten));
    EXPECT_EQ(s.planes[2], std::vector<uint8_t>(4 * 3700, kUnwritten));
    EXPECT_EQ(Window()[10], 0x82);
}

TEST_F(StripScanTest, AdapterSourceCarriesItsTypeCodeAndLightsTheAdapterLamp) {
    Plug("stream=placeholder");
    taMode_ = 1;
    taType_ = 4;
    Scan(150, 600, 1, 4, 0, 1);
    EXPECT_EQ(stripScanOk_, 1);
    EXPECT_EQ(Window()[21], 0x01 | 0x04 | 0x08 | 0x30);
    EXPECT_EQ(LampMasks(), (std::vector<uint8_t>{2, 2}));
}

TEST_F(StripScanTest, DarkStripScansUnlitAndRelightsTheSelectedLampAfterTheStop) {
    for (uint8_t ta : {0, 1}) {
        Plug("stream=placeholder");
        Scan(150, 600, 0, 4, 1, ta);
        EXPECT_EQ(stripScanOk_, 1);
        EXPECT_EQ(LampMasks(), (std::vector<uint8_t>{0, static_cast<uint8_t>(ta ? 2 : 1)}));
        EXPECT_EQ(Window()[21] & 0x01, 1);  // the adapter bit goes with a dark strip
        EXPECT_EQ(scanner_->Sequence(), (std::vector<uint8_t>{0x25, 0x20, 0x22, 0x43, 0x41, 0x25}));
        EXPECT_EQ(scanner_->Inner().State().lamps, ta ? 2 : 1);
    }
}

TEST_F(StripScanTest, StreamEndingEarlyFailsTheStripKeepsTheRowsReadAndSendsNoStop) {
    // 3700 x 4 rows of triples in 15360-byte blocks: row 0 lies in block 0, row 1 needs the
    // next block, which comes short.
    Plug("stream=placeholder,stream_end=20000");
    const Strip8 s = Scan(300, 3700, 1, 4);
    EXPECT_EQ(stripScanOk_, 0);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(Mismatches(s, c, 1), 0);
        EXPECT_EQ(s.planes[c][3700], kUnwritten);
    }
    EXPECT_TRUE(scanner_->Sent(0x41).empty());
    EXPECT_EQ(LampMasks(), (std::vector<uint8_t>{1}));

    // The next strip starts afresh.
    scanner_->Inner().ChangeFaults([](sim::FaultConfig& f) { f.streamEndAfter.reset(); });
    Scan(300, 3700, 1, 4);
    EXPECT_EQ(stripScanOk_, 1);
}

TEST_F(StripScanTest, RefusedHandshakeFailsTheStripWithoutReading) {
    Plug("stream=placeholder,fail_cmd=0x35");
    platform::SetTimeScale(0.001);  // the handshake is retried until its pauses add up
    const Strip8 s = Scan(150, 600, 0, 4);
    EXPECT_EQ(stripScanOk_, 0);
    EXPECT_EQ(s.planes[0], std::vector<uint8_t>(4 * 3700, kUnwritten));
    EXPECT_TRUE(scanner_->Sent(0x41).empty());
}

TEST_F(StripScanTest, SixteenBitStripFillsTheFirstHalfOfEachRowSlot) {
    Plug("stream=placeholder");
    constexpr uint16_t kUnwritten16 = 0xBEEF;
    std::vector<uint16_t> planes[3];
    for (auto& plane : planes) plane.assign(4 * 3700, kUnwritten16);
    // Pixel mode and a one-plane format are asked for; the 16-bit strip is colour line mode.
    const StripRequest request{.lineCount = 4,
                               .widthUnits = 600,
                               .xDpi = 150,
                               .yDpi = 150,
                               .afe = {30, 2, 31, 3, 32, 4},
                               .pixelMode = true,
                               .pixelFormatCode = 2,
                               .options20 = {1, 1, 1}};
    StripRun run{Link()};
    const auto [width, lines] =
        ScanCalibrationStrip16(run, request, {planes[0].data(), planes[1].data(), planes[2].data()});
    EXPECT_EQ(run.StripScanOk, 1);
    ASSERT_EQ(width, 300);
    ASSERT_EQ(lines, 2);
    for (int c = 0; c < 3; ++c) {
        int bad = 0, touched = 0;
        for (int r = 0; r < 2; ++r) {
            for (int x = 0; x < 300; ++x) {
                const uint8_t b = Pattern(x, r, c);
                bad += planes[c][2 * r * 300 + x] != (b | (b << 8));
                touched += planes[c][2 * r * 300 + 300 + x] != kUnwritten16;
            }
        }
        EXPECT_EQ(bad, 0) << "plane " << c;
        EXPECT_EQ(touched, 0) << "plane " << c;
    }
    const std::vector<uint8_t> w = Window();
    EXPECT_EQ(w[21], 0x08);
    EXPECT_EQ(w[22] | (w[23] << 8), 16);
    EXPECT_EQ(w[20], 0x07);
    EXPECT_EQ(LampMasks(), (std::vector<uint8_t>{1, 1}));
}

TEST_F(StripScanTest, StripWiderThanAPlaneSlotIsRefused) {
    Plug("stream=placeholder");
    const Strip8 s = Scan(300, 3800, 1, 4);
    EXPECT_EQ(stripScanOk_, 0);
    EXPECT_TRUE(scanner_->Sent(0x20).empty());
    EXPECT_EQ(s.planes[0], std::vector<uint8_t>(4 * 3700, kUnwritten));
}

}  // namespace
}  // namespace b58

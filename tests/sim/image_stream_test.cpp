#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "image_test_support.h"
#include "sim/driver_plan.h"
#include "sim/image_stream.h"
#include "sim/window_reading.h"

namespace b58::sim {
namespace {

using testing::CalibratedAfe;
using testing::ModelWithDocument;
using testing::ReadAll;
using testing::SolidDocument;

HostRequest Request(int mode, int dpi, int left = 0, int top = 0, int width = 300, int height = 200) {
    HostRequest r;
    r.mode = mode;
    r.resolution = dpi;
    r.left = left;
    r.top = top;
    r.right = left + width;
    r.bottom = top + height;
    return r;
}

TEST(ImageStream, DeliversTheProgrammedLinesInEveryModeAndResolution) {
    auto model = ScannerModel::WithTestCharts(1);
    for (int mode : {0, 1, 2, 10}) {
        for (int dpi : {600, 300, 150, 100, 50}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << " dpi " << dpi);
            const DriverScan scan = PlanDriverScan(Request(mode, dpi, 0, 0, 301, 97));
            const ScanWindow& w = scan.window;
            auto stream = MakeImageStream(model, w, CalibratedAfe(), kLampFlatbed);
            const uint64_t perLine = uint64_t{w.lineBytes} * (scan.pixelFormat == 4 ? 3 : 1);
            EXPECT_EQ(stream->TotalBytes(), perLine * w.linesToDeliver);
            // Lines are as wide as the driver's even pixel count, in bytes per sample.
            EXPECT_EQ(w.lineBytes, scan.swWidth * (scan.dataWidth / 8));
            EXPECT_EQ(ReadAll(*stream).size(), stream->TotalBytes());
            uint8_t extra = 0;
            EXPECT_EQ(stream->Produce(&extra, 1), 0u) << "nothing past the end";
        }
    }
}

TEST(ImageStream, ChunkedReadsGiveTheSameBytesAsOneRead) {
    auto model = ScannerModel::WithTestCharts(1);
    const ScanWindow w = PlanDriverScan(Request(2, 600, 10, 20, 100, 30)).window;
    auto whole = MakeImageStream(model, w, CalibratedAfe(), kLampFlatbed);
    const std::vector<uint8_t> expected = ReadAll(*whole);
    auto chunked = MakeImageStream(model, w, CalibratedAfe(), kLampFlatbed);
    std::vector<uint8_t> got(expected.size());
    size_t at = 0;
    const size_t sizes[] = {1, 7, 599, 4096, 3, 30720};
    for (size_t k = 0; at < got.size(); ++k) {
        at += chunked->Produce(got.data() + at, std::min(sizes[k % 6], got.size() - at));
    }
    EXPECT_EQ(got, expected);
}

// Mean of colour c over delivered lines [from, to) in the stream of window w.
struct Layout {
    std::vector<uint8_t> bytes;
    WindowReading reading;

    double Sample(uint32_t line, uint32_t pixel, int c) const {
        const size_t bps = static_cast<size_t>(reading.bytesPerSample);
        size_t at = static_cast<size_t>(line) * reading.bytesPerScanLine;
        if (!reading.colour) {
            at += pixel * bps;
        } else if (reading.pixelMode) {
            at += (3 * pixel + static_cast<size_t>(c)) * bps;
        } else {
            at += static_cast<size_t>(c) * reading.lineBytes + pixel * bps;
        }
        return bps == 2 ? (bytes[at] | (bytes[at + 1] << 8)) / 256.0 : bytes[at];
    }
    double Mean(uint32_t from, uint32_t to, int c) const {
        double sum = 0.0;
        for (uint32_t y = from; y < to; ++y) {
            for (uint32_t x = 0; x < reading.samples; ++x) sum += Sample(y, x, c);
        }
        return sum / ((to - from) * reading.samples);
    }
};

Layout Scan(const std::shared_ptr<const ScannerModel>& model, const ScanWindow& w,
            uint8_t lamps = kLampFlatbed) {
    auto stream = MakeImageStream(model, w, CalibratedAfe(), lamps);
    return {ReadAll(*stream), ReadWindow(w)};
}

TEST(ImageStream, ColourSamplesLieWhereEachModeSendsThem) {
    // Red paper with a little blue: red reads high, green low, blue in between, whether the
    // colours come interleaved, as three lines, or as 16-bit samples least significant byte
    // first.
    auto model = ModelWithDocument(SolidDocument(600, 600, {0.9, 0.1, 0.5}));
    for (int mode : {2, 10}) {
        for (int dpi : {600, 300, 100}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << " dpi " << dpi);
            const Layout s = Scan(model, PlanDriverScan(Request(mode, dpi, 20, 20, 200, 100)).window);
            const double red = s.Mean(10, 20, 0);
            const double green = s.Mean(10, 20, 1);
            const double blue = s.Mean(10, 20, 2);
            EXPECT_GT(red, 200.0);
            EXPECT_LT(green, 80.0);
            EXPECT_GT(blue, green + 50.0);
            EXPECT_LT(blue, red - 50.0);
        }
    }
    // One plane: the mean of the three colours.
    const Layout grey = Scan(model, PlanDriverScan(Request(1, 300, 20, 20, 200, 100)).window);
    EXPECT_NEAR(grey.Mean(10, 20, 0), 42.0 + 0.5 * 200.0, 25.0);
}

TEST(ImageStream, SixteenBitSamplesCarryTheEightBitValueInTheirHighByte) {
    auto model = ModelWithDocument(SolidDocument(600, 600, {0.6, 0.6, 0.6}));
    ScanWindow w16 = PlanDriverScan(Request(10, 300, 20, 20, 200, 100)).window;
    ScanWindow w8 = w16;
    w8.dataWidth = 8;
    w8.formatByte = 0x84;
    w8.lineBytes = static_cast<uint16_t>(w16.lineBytes / 2);
    const Layout s16 = Scan(model, w16);
    const Layout s8 = Scan(model, w8);
    // floor(256 y) / 256 keeps the fraction floor(y) drops: half a level on average.
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(s16.Mean(10, 30, c) - 0.5, s8.Mean(10, 30, c), 0.25);
    // The low bytes carry the fraction: they spread over the whole byte range.
    uint32_t lowSum = 0;
    size_t count = 0;
    for (size_t i = 10 * s16.reading.bytesPerScanLine; i < 30 * s16.reading.bytesPerScanLine;
         i += 2, ++count) {
        lowSum += s16.bytes[i];
    }
    EXPECT_NEAR(static_cast<double>(lowSum) / count, 127.5, 10.0);
}

// Delivered line (first of a run) at which colour c sees a dark line across the document.
uint32_t DarkLineAt(const Layout& s, int c) {
    for (uint32_t y = 0; y < s.reading.lines; ++y) {
        if (s.Mean(y, y + 1, c) < 120.0) return y;
    }
    return UINT32_MAX;
}

TEST(ImageStream, ColoursLagAsTheDriversAlignmentExpects) {
    // A black band six 300-dpi lines high across white paper.
    auto model = ModelWithDocument(testing::PaperWithMarks(600, 600, {{0, 60, 600, 6}}));
    struct Case {
        int mode;
        int dpi;
        int lagRed, lagGreen, lagBlue;  // delivered lines after the first colour to see the line
    };
    // Pixel mode: green of n, blue of n + L, red of n + 2L. 24-bit line mode: blue of n,
    // green of n + L, red of n + 2L. 48-bit: green of n, blue of n + L, red of n + 2L.
    const Case cases[] = {{2, 300, 2, 0, 1},  {2, 600, 4, 2, 0}, {10, 300, 2, 0, 1},
                          {10, 600, 4, 0, 2}, {2, 150, 0, 0, 0}, {10, 100, 0, 0, 0}};
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << k.mode << " dpi " << k.dpi);
        const Layout s = Scan(model, PlanDriverScan(Request(k.mode, k.dpi, 20, 20, 100, 100)).window);
        const uint32_t red = DarkLineAt(s, 0);
        const uint32_t green = DarkLineAt(s, 1);
        const uint32_t blue = DarkLineAt(s, 2);
        const uint32_t first = std::min({red, green, blue});
        ASSERT_LT(first, s.reading.lines);
        EXPECT_EQ(red - first, static_cast<uint32_t>(k.lagRed));
        EXPECT_EQ(green - first, static_cast<uint32_t>(k.lagGreen));
        EXPECT_EQ(blue - first, static_cast<uint32_t>(k.lagBlue));
    }
}

TEST(ImageStream, SameSeedSameBytesOtherSeedOtherBytes) {
    const ScanWindow w = PlanDriverScan(Request(2, 300, 0, 0, 200, 40)).window;
    auto a = ReadAll(*MakeImageStream(ScannerModel::WithTestCharts(5), w, CalibratedAfe(), kLampFlatbed));
    auto b = ReadAll(*MakeImageStream(ScannerModel::WithTestCharts(5), w, CalibratedAfe(), kLampFlatbed));
    auto c = ReadAll(*MakeImageStream(ScannerModel::WithTestCharts(6), w, CalibratedAfe(), kLampFlatbed));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(ImageStream, LampsOffGiveTheDarkSignalEverywhere) {
    // With the lamps off the white strip, the dark block and the chart all read the front
    // end's black level, which with calibrated values lies in the driver's black band.
    auto model = ScannerModel::WithTestCharts(1);
    for (int startLine : {0, 11, 200}) {
        const ScanWindow w = CalibrationStripWindow(startLine, 40, 0, 1200, 300, true, 4, true, 0, 8);
        const Layout dark = Scan(model, w, 0);
        for (int c = 0; c < 3; ++c) {
            double lo = 255.0;
            double hi = 0.0;
            for (uint32_t y = 0; y < dark.reading.lines; ++y) {
                const double m = dark.Mean(y, y + 1, c);
                lo = std::min(lo, m);
                hi = std::max(hi, m);
            }
            EXPECT_GE(lo, 38.0);
            EXPECT_LE(hi, 52.0);
            EXPECT_LT(hi - lo, 1.5) << "no structure of the bed shows";
        }
    }
}

}  // namespace
}  // namespace b58::sim

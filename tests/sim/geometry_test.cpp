#include <gtest/gtest.h>

#include <cstdlib>

#include "image_test_support.h"
#include "sim/bed_layout.h"
#include "sim/driver_plan.h"
#include "sim/even_spread.h"
#include "sim/ground_truth.h"
#include "sim/sensor_model.h"
#include "sim/test_chart.h"
#include "sim/window_reading.h"

namespace b58::sim {
namespace {

using testing::CalibratedAfe;
using testing::ReadAll;

// The positions the driver's accumulator counts among `count` base positions.
std::vector<int> AccumulatorPositions(int base, int target, int count) {
    std::vector<int> kept;
    int acc = base - target;
    for (int i = 0; i < count; ++i) {
        acc += target;
        if (acc >= base) {
            kept.push_back(i);
            acc -= base;
        }
    }
    return kept;
}

TEST(EvenSpread, DeviceKeepsThePositionsTheDriversAccumulatorCounts) {
    for (int base : {300, 600}) {
        for (int target = 1; target <= base; ++target) {
            for (int count : {1, 10, 97, 511, 1000, 3700}) {
                const std::vector<int> kept = AccumulatorPositions(base, target, count);
                for (size_t k = 0; k < kept.size(); ++k) {
                    ASSERT_EQ(EvenSpreadPosition(static_cast<int64_t>(k), base, target), kept[k])
                        << "base " << base << " target " << target << " count " << count << " k " << k;
                }
                // The next position the device would take lies past the counted range.
                ASSERT_GE(EvenSpreadPosition(static_cast<int64_t>(kept.size()), base, target), count);
            }
        }
    }
}

HostRequest Request(int source, int mode, int dpi, int left = 0, int top = 0) {
    HostRequest r;
    r.source = source;
    r.mode = mode;
    r.resolution = dpi;
    r.left = left;
    r.top = top;
    r.right = left + (source == 0 ? 2550 : 450);
    r.bottom = top + (source == 0 ? 3300 : 1200);
    return r;
}

TEST(WindowReading, DeviceReadsWhatTheDriverMeantFromThePacketAlone) {
    for (int source : {0, 1, 2, 4}) {
        for (int mode : {0, 1, 2, 10}) {
            for (int dpi : {1200, 600, 300, 200, 150, 100, 75, 50, 20}) {
                SCOPED_TRACE(::testing::Message()
                             << "source " << source << " mode " << mode << " dpi " << dpi);
                const DriverScan scan = PlanDriverScan(Request(source, mode, dpi, 13, 7));
                const WindowReading r = ReadWindow(scan.window);
                EXPECT_EQ(r.colour, scan.pixelFormat == 4);
                EXPECT_EQ(r.pixelMode, scan.pixelMode);
                EXPECT_EQ(r.samples, static_cast<uint32_t>(scan.swWidth));
                // The lines rule adds the 2 x lag lines the colours need beyond the raw lines.
                EXPECT_EQ(r.lines, static_cast<uint32_t>(scan.swHeight + 2 * scan.colourLag));
                EXPECT_EQ(r.xDpi, scan.rxDpi);
                EXPECT_EQ(r.yTarget, scan.ryDpi);
                EXPECT_EQ(r.yBase, scan.yMaxDpi);
                if (scan.pixelFormat == 4) {
                    EXPECT_EQ(r.colourLag, scan.colourLag);
                }
                if (source == 0) {
                    // The driver's join arithmetic and the device agree on the first pixel.
                    EXPECT_EQ(r.firstPixel, scan.windowStartX);
                }
            }
        }
    }
}

TEST(WindowReading, CalibrationStripsHaveNoLagAndKeepTheirResolution) {
    for (int dpi : {300, 150, 100, 50}) {
        for (bool pixelMode : {true, false}) {
            const WindowReading r =
                ReadWindow(CalibrationStripWindow(0, 40, 72, 2550, dpi, pixelMode, 4, false, 0, 8));
            EXPECT_EQ(r.colourLag, 0);
            EXPECT_EQ(r.yTarget, dpi);
            EXPECT_EQ(r.lines,
                      static_cast<uint32_t>(DriverSpreadSizes(300, 300, dpi, dpi, 2550, 40).swHeight));
            EXPECT_EQ(r.firstPixel, pixelMode ? 72 : 72 - kLineModeLeadPixels);
        }
    }
}

// The driver's flatbed edge search on a 512 x 200 strip; {x, y}.
std::pair<int, int> FlatbedEdges(const std::vector<uint8_t>& d, int w, int h) {
    auto at = [&](int row, int col) { return static_cast<int>(d[static_cast<size_t>(row) * w + col]); };
    int x = w - 1;
    for (; x >= 3; --x) {
        const int a = (at(6, x) + at(8, x) + at(10, x) + at(12, x) + at(14, x)) / 5;
        const int b = (at(6, x - 2) + at(8, x - 2) + at(10, x - 2) + at(12, x - 2) + at(14, x - 2)) / 5;
        if (std::abs(b - a) > 40) break;
    }
    if (x < 3) x = 2;
    int y = 10;
    for (; y <= h - 3; ++y) {
        int a = 0;
        int b = 0;
        for (int k = 3; k <= 7; ++k) {
            a += at(y, x - k);
            b += at(y + 2, x - k);
        }
        if (std::abs(a / 5 - b / 5) > 40) break;
    }
    return {x, y};
}

// The driver's adapter edge search on a 700 x 200 strip.
std::pair<int, int> TaEdges(const std::vector<uint8_t>& d, int w, int h) {
    auto at = [&](int row, int col) { return static_cast<int>(d[static_cast<size_t>(row) * w + col]); };
    int j = w - 60;
    for (; j >= 15; --j) {
        int a = 0;
        int b = 0;
        for (int r = 0; r < 5; ++r) {
            a += at(r, j);
            b += at(r, j - 14);
        }
        if (a / 5 - b / 5 > 50) break;
    }
    const int left = j >= 15 ? j : 368;
    int k = 0;
    for (; k <= h - 8; ++k) {
        int a = 0;
        int b = 0;
        for (int c = left + 40; c < left + 60; ++c) {
            a += at(k, c);
            b += at(k + 7, c);
        }
        if (std::abs(a / 20 - b / 20) > 50) break;
    }
    return {left, k <= h - 8 ? k : 58};
}

TEST(BedLayout, BoundaryStripsShowTheirEdgesAtTypicalValues) {
    auto model = ScannerModel::WithTestCharts(1);
    const ScanWindow flat = BoundaryStripWindow(false, 300, 0);
    const auto flatBytes = ReadAll(*MakeImageStream(model, flat, CalibratedAfe(), kLampFlatbed));
    const auto [x, y] = FlatbedEdges(flatBytes, flat.lineBytes, 200);
    const BoundaryValues expectedFlat = DeviceBoundaryValues(false);
    EXPECT_EQ(x, expectedFlat.leftbound);
    EXPECT_EQ(y, expectedFlat.topLine);
    EXPECT_TRUE(x > 10 && x < 150 && x != 72);
    EXPECT_TRUE(y > 10 && y < 160 && y != 86);

    AfeSettings taAfe;
    for (size_t c = 0; c < 3; ++c) {
        taAfe.offset[c] = 48;
        taAfe.gain[c] = 18;
    }
    for (auto [yMax, lampStep] : {std::pair{300, 1}, std::pair{600, 2}}) {
        const ScanWindow ta = BoundaryStripWindow(true, yMax, lampStep);
        const auto taBytes = ReadAll(*MakeImageStream(model, ta, taAfe, kLampTa));
        const auto [left, top] = TaEdges(taBytes, ta.lineBytes, 200);
        const BoundaryValues expectedTa = DeviceBoundaryValues(true);
        EXPECT_EQ(left, expectedTa.leftbound);
        EXPECT_EQ(top, expectedTa.topLine);
        EXPECT_NE(left, 368);
        EXPECT_NE(top, 58);
    }
}

TEST(BedLayout, CalibrationStripsLieOnWhatTheDriverMeasures) {
    auto model = ScannerModel::WithTestCharts(1);
    // The shading strip at TopLine - 73 lies on the white strip across the whole glass width,
    // in pixel and line mode.
    const int shadingLine = DeviceBoundaryValues(false).topLine - 73;
    for (bool pixelMode : {true, false}) {
        const int start = pixelMode ? bed::kGlassLeft : bed::kGlassLeft - 1;
        const SampleImage white = ScannedTruth(
            *model,
            CalibrationStripWindow(shadingLine, 40, start, bed::kGlassWidth, 300, pixelMode, 4, false, 0, 8),
            kLampFlatbed);
        EXPECT_TRUE(
            std::all_of(white.samples.begin(), white.samples.end(), [](uint16_t v) { return v == 255; }));
    }
    // The AFE strip at its start line: black over its black window, white beside it.
    const SampleImage afe =
        ScannedTruth(*model, CalibrationStripWindow(0, 2, 0, 3700, 300, true, 4, false, 0, 8), kLampFlatbed);
    for (int x = 12; x < bed::kDarkBlockRight; ++x) EXPECT_EQ(afe.At(x, 1, 1), 0);
    for (int x = bed::kDarkBlockRight; x < 3700; ++x) ASSERT_EQ(afe.At(x, 1, 1), 255) << x;
    // The adapter's AFE strip at TAKSTARTY: dark over its black window, clear film slot.
    const SampleImage ta =
        ScannedTruth(*model, CalibrationStripWindow(450, 2, 0, 3700, 300, true, 4, true, 1, 8), kLampTa);
    for (int x = 0; x < bed::kTaWindowLeft; ++x) ASSERT_EQ(ta.At(x, 0, 1), 0);
    EXPECT_EQ(ta.At(bed::kTaSlotLeft + 10, 0, 1), 255);
    // The adapter's 8-bit shading strip (line 0 of its frame) is clear over the film's width.
    const SampleImage taShade = ScannedTruth(
        *model, CalibrationStripWindow(0, 40, bed::kFilmLeft, bed::kFilmWidth, 300, true, 4, true, 1, 8),
        kLampTa);
    EXPECT_TRUE(
        std::all_of(taShade.samples.begin(), taShade.samples.end(), [](uint16_t v) { return v == 255; }));
}

TEST(Geometry, ReferenceScanStartsOnTheGlassCorner) {
    // A black square at the document's (the glass's) corner; the pre-roll lines see the
    // bezel above the glass.
    auto model = testing::ModelWithDocument(testing::PaperWithMarks(400, 400, {{0, 0, 4, 4}}));
    const HostRequest request = Request(0, 2, 300);
    const DriverScan scan = PlanDriverScan(request);
    const ScanOffsets offsets = OffsetsOf(request, scan);
    EXPECT_EQ(offsets.pixels, 0.0);
    EXPECT_EQ(offsets.lines, 0.0);
    const WindowReading r = ReadWindow(scan.window);
    EXPECT_EQ(r.firstPixel, bed::kGlassLeft);

    ScanWindow w = scan.window;
    w.linesToDeliver = 20;
    const auto bytes = ReadAll(*MakeImageStream(model, w, CalibratedAfe(), kLampFlatbed));
    auto green = [&](int line, int pixel) {
        return bytes[static_cast<size_t>(line) * w.lineBytes * 3 + 3 * pixel + 1];
    };
    for (int line = 5; line < 9; ++line) {
        for (int pixel = 0; pixel < 4; ++pixel) EXPECT_LT(green(line, pixel), 55) << line << "," << pixel;
        EXPECT_GT(green(line, 4), 200);
    }
    EXPECT_GT(green(9, 0), 200);
    EXPECT_NEAR(green(4, 0), 42 + 0.3 * 200, 20) << "the line before the first is bezel";
}

TEST(Geometry, LineModeStartsFivePixelsBeforeTheWindowAndJoinsFallWhereTheDriverPutsThem) {
    auto model = testing::ModelWithDocument(testing::PaperWithMarks(400, 400, {{0, 0, 1, 400}}));
    const DriverScan grey = PlanDriverScan(Request(0, 1, 300));
    EXPECT_EQ(static_cast<int16_t>(grey.window.startPixel), 71);
    const WindowReading r = ReadWindow(grey.window);
    EXPECT_EQ(r.firstPixel, 66);
    ScanWindow w = grey.window;
    w.linesToDeliver = 20;
    const auto bytes = ReadAll(*MakeImageStream(model, w, CalibratedAfe(), kLampFlatbed));
    const uint8_t* line10 = bytes.data() + 10 * w.lineBytes;
    EXPECT_LT(line10[bed::kGlassLeft - 66], 60) << "the glass's left edge line";
    EXPECT_GT(line10[bed::kGlassLeft - 66 + 1], 180);

    // Joins: the driver puts them at x0 = ((S - 1) / 96 + 1) * 96 + 1 - S and every 96
    // pixels after, S being its WindowStartX; raw, both join pixels read low in white.
    for (bool pixelMode : {true, false}) {
        const DriverScan scan = PlanDriverScan(Request(0, pixelMode ? 2 : 1, 300, 37));
        const int s = scan.windowStartX;
        const ScanWindow strip = CalibrationStripWindow(11, 40, static_cast<int16_t>(scan.window.startPixel),
                                                        2000, 300, pixelMode, scan.pixelFormat, false, 0, 8);
        const auto white = ReadAll(*MakeImageStream(model, strip, CalibratedAfe(), kLampFlatbed));
        const WindowReading sr = ReadWindow(strip);
        std::vector<double> mean(sr.samples, 0.0);
        for (uint32_t y = 0; y < sr.lines; ++y) {
            for (uint32_t x = 0; x < sr.samples; ++x) {
                mean[x] += (pixelMode ? white[y * sr.bytesPerScanLine + 3 * x + 1]
                                      : white[y * sr.bytesPerScanLine + x]);
            }
        }
        // Each pixel against the pixels three to either side; at the driver's join pixels q
        // and q + 1 the response drops, beside them (q - 1, q + 2) it does not.
        auto ratio = [&](int x) {
            return mean[static_cast<size_t>(x)] / ((mean[x - 3] + mean[x + 3]) / 2.0);
        };
        const int x0 = ((s - 1) / 96 + 1) * 96 + 1 - s;
        double atJoins = 0.0;
        double beside = 0.0;
        int joins = 0;
        for (int q = x0; q + 5 < static_cast<int>(sr.samples); q += 96) {
            atJoins += ratio(q) + ratio(q + 1);
            beside += ratio(q - 1) + ratio(q + 2);
            ++joins;
        }
        EXPECT_GT(joins, 15);
        EXPECT_LT(atJoins / (2 * joins), 0.95) << (pixelMode ? "pixel" : "line") << " mode";
        EXPECT_GT(beside / (2 * joins), 0.98) << (pixelMode ? "pixel" : "line") << " mode";
    }
}

// Top-left corner of the first black (darker than the bezel) blob of 2 x 2 samples in the green (or grey)
// plane of output lines (delivered line 5 on).
std::pair<int, int> FindMark(const std::vector<uint8_t>& bytes, const WindowReading& r) {
    auto value = [&](uint32_t line, uint32_t x) -> int {
        const size_t bps = static_cast<size_t>(r.bytesPerSample);
        size_t at = static_cast<size_t>(line) * r.bytesPerScanLine;
        if (!r.colour) {
            at += x * bps;
        } else if (r.pixelMode) {
            at += (3 * x + 1) * bps;
        } else {
            // The green line of the line the others align to: look where green sees the bed
            // line of delivered line `line`.
            at = static_cast<size_t>(line + static_cast<uint32_t>(r.lag[1])) * r.bytesPerScanLine +
                 r.lineBytes + x * bps;
        }
        return bps == 2 ? bytes[at + 1] : bytes[at];
    };
    // Offsets are a few pixels at most: what lies beside the area (bezel, film holder) is
    // kept out of the search.
    for (uint32_t line = 5 + 8; line + 4 + 4 < r.lines; ++line) {
        for (uint32_t x = 8; x + 4 < r.samples; ++x) {
            bool dark = true;
            for (uint32_t dy = 0; dy < 2 && dark; ++dy) {
                for (uint32_t dx = 0; dx < 2 && dark; ++dx) dark = value(line + dy, x + dx) < 70;
            }
            if (dark) return {static_cast<int>(x), static_cast<int>(line - 5)};
        }
    }
    return {-1, -1};
}

TEST(Geometry, DocumentMarkLandsWhereTheOffsetsTableSays) {
    // A mark 90 pixels right of and 120 lines below the glass (film) corner; each case scans
    // from the corner and finds the mark at its requested position less the case's offset.
    constexpr int kMarkX = 90;
    constexpr int kMarkY = 120;
    BedContents contents;
    contents.document.document = testing::PaperWithMarks(300, 400, {{kMarkX, kMarkY, 12, 12}});
    contents.film.document = testing::PaperWithMarks(300, 400, {{kMarkX, kMarkY, 12, 12}});
    auto model = std::make_shared<const ScannerModel>(3, contents);
    struct Case {
        int source, mode, dpi;
    };
    const Case cases[] = {{0, 2, 300}, {0, 2, 150}, {0, 2, 100}, {0, 2, 50},  {0, 1, 300}, {0, 10, 300},
                          {0, 2, 600}, {0, 1, 150}, {1, 2, 300}, {1, 1, 300}, {2, 2, 150}, {4, 10, 300}};
    AfeSettings taAfe;
    for (size_t c = 0; c < 3; ++c) {
        taAfe.offset[c] = 48;
        taAfe.gain[c] = 18;
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << "source " << k.source << " mode " << k.mode << " dpi " << k.dpi);
        HostRequest request = Request(k.source, k.mode, k.dpi);
        request.right = 200;
        request.bottom = 300;
        const DriverScan scan = PlanDriverScan(request);
        const ScanOffsets o = OffsetsOf(request, scan);
        const auto bytes =
            ReadAll(*MakeImageStream(model, scan.window, k.source == 0 ? CalibratedAfe() : taAfe,
                                     k.source == 0 ? kLampFlatbed : kLampTa));
        const auto [x, y] = FindMark(bytes, ReadWindow(scan.window));
        const double expectedX = kMarkX * scan.rxDpi / 300.0 - o.pixels;
        const double expectedY = kMarkY * scan.ryDpi / 300.0 - o.lines;
        EXPECT_NEAR(x, expectedX, 1.0);
        EXPECT_NEAR(y, expectedY, 1.0);
    }
}

}  // namespace
}  // namespace b58::sim

// The host library against a stand-in driver whose every pixel tells where on the bed it
// was seen, so that the exact-area rule, square pixels and cancelling can be checked pixel
// by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "line_shaper.h"
#include "scan_runner.h"
#include "tone_curve.h"

namespace b58::host {
namespace {

// Ground truth of the stand-in: the grey value of bed position (x, y), both in delivered
// pixels and lines from the bed's corner.
uint8_t Truth(int64_t x, int64_t y) {
    return static_cast<uint8_t>((x * 7 + y * 13) % 251);
}

struct FakeScanner {
    ScanParameters request = {};
    CornerOffset trueOffset;  // where the driver really starts against the corner asked
    uint32_t delivered = 0, rx = 0, ry = 0, lines = 0, lineBytes = 0;
    uint32_t cancelAt = 0;
    ScanCancel* cancel = nullptr;
    ProgressRoutine progress = nullptr;
    int stops = 0;
} fake;

int32_t B58_CALL FakeSet(ScanParameters* p) {
    fake.request = *p;
    fake.rx = p->Resolution >= 600 ? 300 : p->Resolution;
    fake.ry = p->Resolution >= 600 ? 600 : p->Resolution;
    fake.lineBytes = (p->Right - p->Left) * fake.rx / 300;
    if (p->ScanMode == ModeLineArt) fake.lineBytes = (fake.lineBytes + 7) / 8;
    fake.lines = (p->Bottom - p->Top) * fake.ry / 300;
    return 1;
}
int32_t B58_CALL FakeGet(ScanParametersInfo* info) {
    *info = {0, static_cast<uint16_t>(fake.rx), static_cast<uint16_t>(fake.ry), fake.lineBytes, fake.lines};
    return 1;
}
int32_t B58_CALL FakeStart(ScanStartRecord* r) {
    fake.progress = r->ProgressCallback;
    fake.delivered = 0;
    return 1;
}
int32_t B58_CALL FakeRead(ReadRequest* r) {
    r->LinesDone = 0;
    for (; r->LinesDone < r->LinesWanted && fake.delivered < fake.lines; ++r->LinesDone) {
        const int64_t y =
            int64_t{fake.request.Top} * fake.ry / 300 + fake.delivered++ + std::lround(fake.trueOffset.lines);
        for (uint32_t c = 0; c < fake.lineBytes; ++c) {
            const int64_t x =
                int64_t{fake.request.Left} * fake.rx / 300 + c + std::lround(fake.trueOffset.pixels);
            r->Buffer[size_t{r->LinesDone} * fake.lineBytes + c] = Truth(x, y);
        }
        if (fake.cancel != nullptr && fake.delivered == fake.cancelAt) fake.cancel->Request();
        if (r->LinesDone == 0 && fake.progress(r->LinesDone + 1) == 0) {
            r->Status = kStatusStoppedByHost;
            ++r->LinesDone;
            return 1;
        }
    }
    r->Status = fake.delivered >= fake.lines ? kStatusNoFurtherLine : kStatusOk;
    return 1;
}
int32_t B58_CALL FakeStop(StopRecord*) {
    ++fake.stops;
    return 1;
}

DriverEntryPoints FakeDriver() {
    DriverEntryPoints d;
    d.setParameters = FakeSet;
    d.getParameters = FakeGet;
    d.startScan = FakeStart;
    d.readScannedData = FakeRead;
    d.stopScan = FakeStop;
    return d;
}

struct Collected : LineSink {
    ImageFormat format;
    std::vector<std::vector<uint8_t>> rows;
    uint32_t ended = ~0u;
    bool Begin(const ImageFormat& f, std::string&) override {
        format = f;
        return true;
    }
    bool WriteLine(const uint8_t* row, std::string&) override {
        rows.emplace_back(row, row + RowBytes(format));
        return true;
    }
    bool End(uint32_t lines, std::string&) override {
        ended = lines;
        return true;
    }
};

ScanDescription GreyArea(unsigned dpi, double leftMm, double topMm, double widthMm, double heightMm) {
    ScanDescription d;
    d.mode = ColorMode::Gray;
    d.resolution = dpi;
    d.area = {leftMm, topMm, widthMm, heightMm};
    return d;
}

TEST(HostScan, DeliversExactlyTheAreaWhateverTheDriversCornerOffset) {
    struct Case {
        unsigned dpi;
        CornerOffset offset;
    } cases[] = {{300, {0, 0}}, {300, {-6, 0}}, {150, {-3, 2.5}}, {100, {4, -3}}, {300, {9, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.dpi << " dpi, offset " << c.offset.pixels << "," << c.offset.lines);
        fake = FakeScanner{};
        fake.trueOffset = c.offset;
        ScanHooks hooks;
        hooks.offsets = [&](const ScanParameters&) { return c.offset; };
        Collected sink;
        ScanCancel cancel;
        const ScanDescription d = GreyArea(c.dpi, 20.32, 10.16, 25.4, 12.7);  // 240,120 + 300 x 150 units
        const ScanOutcome outcome = RunScan(FakeDriver(), d, sink, cancel, hooks);
        ASSERT_EQ(outcome.end, ScanEnd::Complete) << outcome.message;
        ASSERT_EQ(sink.format.width, c.dpi);
        ASSERT_EQ(sink.rows.size(), c.dpi / 2);
        const int64_t x0 = 240 * int64_t{c.dpi} / 300, y0 = 120 * int64_t{c.dpi} / 300;
        for (uint32_t y = 0; y < sink.rows.size(); ++y) {
            for (uint32_t x = 0; x < sink.format.width; ++x) {
                ASSERT_EQ(sink.rows[y][x], Truth(x0 + x, y0 + y)) << "at " << x << "," << y;
            }
        }
        EXPECT_EQ(fake.stops, 1);
    }
}

TEST(HostScan, SixHundredDpiIsSquareAndCancelEndsWithinARead) {
    fake = FakeScanner{};
    Collected sink;
    ScanCancel cancel;
    fake.cancel = &cancel;
    fake.cancelAt = 50;
    const ScanOutcome outcome = RunScan(FakeDriver(), GreyArea(1200, 0, 0, 25.4, 25.4), sink, cancel);
    EXPECT_EQ(outcome.end, ScanEnd::Cancelled);
    EXPECT_EQ(outcome.driverXDpi, 300u);
    EXPECT_EQ(sink.format.xDpi, 600u);
    EXPECT_EQ(sink.format.yDpi, 600u);
    EXPECT_EQ(sink.format.width, 600u);
    EXPECT_EQ(sink.format.height, 600u);
    EXPECT_GE(sink.rows.size(), 50u);
    EXPECT_LE(sink.rows.size(), 58u);
    EXPECT_EQ(sink.ended, sink.rows.size());
    EXPECT_EQ(fake.stops, 1);
}

TEST(LineShaper, CropsPadsStretchesAndInverts) {
    struct Case {
        PixelKind kind;
        std::vector<uint8_t> in;
        int32_t first;
        uint32_t scale, width;
        bool invert;
        std::vector<uint8_t> out;
    } cases[] = {
        {PixelKind::Gray8, {10, 20, 30, 40}, 1, 1, 2, false, {20, 30}},
        {PixelKind::Gray8, {10, 20, 30}, -1, 1, 5, false, {10, 10, 20, 30, 30}},  // edges repeat
        {PixelKind::Gray8, {0, 100, 200}, 0, 2, 6, false, {0, 25, 75, 125, 175, 200}},
        {PixelKind::Rgb24, {0, 0, 0, 100, 200, 40}, 0, 2, 2, false, {0, 0, 0, 25, 50, 10}},
        {PixelKind::Bilevel, {0b10110000}, 1, 1, 3, false, {0b01100000}},
        {PixelKind::Bilevel, {0b10100000}, 0, 2, 6, true, {0b00110000}},
    };
    for (const Case& c : cases) {
        LineShape shape;
        shape.kind = c.kind;
        shape.deliveredPixels = c.kind == PixelKind::Bilevel ? 4
                                                             : static_cast<uint32_t>(c.in.size()) /
                                                                   (c.kind == PixelKind::Rgb24 ? 3 : 1);
        shape.firstColumn = c.first;
        shape.scale = c.scale;
        shape.width = c.width;
        shape.invertBilevel = c.invert;
        LineShaper shaper(shape);
        std::vector<uint8_t> out(shaper.OutputBytes());
        shaper.Shape(c.in.data(), out.data());
        EXPECT_EQ(out, c.out) << "case " << (&c - cases);
    }
}

TEST(ScanPlan, ModesResolutionsAndLimits) {
    struct Case {
        ColorMode mode;
        int depth;
        unsigned dpi;
        AreaMm area;
        bool ok;
        unsigned resolution;
        uint16_t driverMode;
    } cases[] = {
        {ColorMode::Color, 8, 200, {0, 0, 215.9, 279.4}, true, 150, ModeColor24},
        {ColorMode::Color, 16, 1200, {0, 0, 10, 10}, true, 600, ModeColor48},
        {ColorMode::Lineart, 1, 75, {0, 0, 10, 10}, true, 50, ModeLineArt},
        {ColorMode::Gray, 8, 30, {0, 0, 10, 10}, true, 50, ModeGray},
        {ColorMode::Gray, 16, 300, {0, 0, 10, 10}, false, 0, 0},
        {ColorMode::Lineart, 8, 300, {0, 0, 10, 10}, false, 0, 0},
        {ColorMode::Color, 8, 300, {0, 0, 215.9, 355.6}, false, 0, 0},  // legal: beyond the glass
        {ColorMode::Color, 8, 300, {0, 290, 10, 7}, true, 300, ModeColor24},
        {ColorMode::Color, 8, 300, {0, 0, 0, 10}, false, 0, 0},
    };
    for (const Case& c : cases) {
        ScanDescription d;
        d.mode = c.mode;
        d.depth = c.depth;
        d.resolution = c.dpi;
        d.area = c.area;
        PlannedScan plan;
        std::string error;
        ASSERT_EQ(PlanScan(d, plan, error), c.ok) << "case " << (&c - cases) << ": " << error;
        if (!c.ok) continue;
        EXPECT_EQ(plan.resolution, c.resolution);
        EXPECT_EQ(plan.request.ScanMode, c.driverMode);
    }
    PlannedScan plan;
    std::string error;
    ScanDescription adapter;
    adapter.source = ScanSource::Adapter1;
    adapter.area = {0, 0, 38.1, 127};
    EXPECT_TRUE(PlanScan(adapter, plan, error)) << error;
    adapter.area.height = 130;
    EXPECT_FALSE(PlanScan(adapter, plan, error));
}

TEST(ToneCurve, IdentityByDefaultAndMonotonicCurves) {
    EXPECT_TRUE(BuildGammaTables({}, ModeColor24).empty());
    const std::vector<uint16_t> brighter = BuildGammaTables({2.2, 10, 20}, ModeColor48);
    ASSERT_EQ(brighter.size(), 3u * 65536);
    EXPECT_TRUE(std::is_sorted(brighter.begin(), brighter.begin() + 65536));
    EXPECT_GT(brighter[32768], 32768);
    EXPECT_EQ(brighter[65535], 65535);
    EXPECT_EQ(brighter[65536 + 1000], brighter[1000]);
    const std::vector<uint16_t> darker = BuildGammaTables({1, -20, 0}, ModeGray);
    ASSERT_EQ(darker.size(), 3u * 256);
    EXPECT_EQ(darker[0], 0);
    EXPECT_EQ(darker[255], 204);
}

}  // namespace
}  // namespace b58::host

#include "device/scan_geometry.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace b58 {
namespace {

struct Sizes {
    uint16_t hwWidth = 0, hwHeight = 0, swWidth = 0, swHeight = 0;
};

struct Entry {
    uint16_t line;
    uint8_t colour;
    bool operator==(const Entry&) const = default;
};

// Runs the geometry with base 300 x 300 unless told otherwise and decodes the line table.
struct GeometryRun {
    uint8_t result = 0;
    bool sized = false;
    Sizes sizes;
    std::vector<Entry> table;
};

GeometryRun Compute(uint8_t order, uint8_t g, uint16_t format, uint16_t tx, uint16_t ty, uint16_t xCount,
                    uint16_t yCount, uint16_t bx = 300, uint16_t by = 300) {
    GeometryRun run;
    std::vector<uint16_t> raw(3 * 14401 + 3, 0xAAAA);
    Sizes& s = run.sizes;
    const ScanGeometry geometry =
        ComputeScanGeometry({order, g, format, bx, by, tx, ty, xCount, yCount}, raw.data());
    run.result = geometry.status;
    run.sized = geometry.sized;
    s = {geometry.HWWidth, geometry.HWHeight, geometry.SWWidth, geometry.SWHeight};
    if (run.result == 1 && (order & kGeometrySizesOnly) == 0) {
        const size_t entries = (format == kColourPixelFormat ? 3u : 1u) * s.swHeight;
        for (size_t i = 0; i < entries; ++i) {
            Entry e{};
            EXPECT_EQ(GetLineTableEntry(static_cast<uint32_t>(i), raw.data(), &e.line, &e.colour), 1);
            run.table.push_back(e);
        }
    }
    return run;
}

TEST(ScanGeometry, WidthIsAnEvenSpreadRoundedUpToEven) {
    GeometryRun same = Compute(0x80, 0, 2, 300, 300, 511, 1);
    EXPECT_EQ(same.result, 1);
    EXPECT_EQ(same.sizes.swWidth, 512);  // 511 pixels, odd count rounded up
    EXPECT_EQ(same.sizes.hwWidth, 512);

    GeometryRun half = Compute(0x80, 0, 2, 150, 300, 1000, 1);
    EXPECT_EQ(half.sizes.swWidth, 500);
    EXPECT_EQ(half.sizes.hwWidth, 1000);

    GeometryRun third = Compute(0x80, 0, 2, 100, 300, 10, 1);  // pixels 0, 3, 6, 9
    EXPECT_EQ(third.sizes.swWidth, 4);
    EXPECT_EQ(third.sizes.hwWidth, 12);

    GeometryRun none = Compute(0x80, 0, 2, 300, 300, 0, 0);
    EXPECT_EQ(none.result, 1);
    EXPECT_EQ(none.sizes.swWidth, 0);
    EXPECT_EQ(none.sizes.swHeight, 0);
}

TEST(ScanGeometry, HeightKeepsEvenlySpreadLinesStartingWithTheFirst) {
    // One plane, pixel format 1: colour code 1; raw lines 0, 2, 4, 6, 8 become lines 0..4.
    GeometryRun run = Compute(0, 1, 1, 300, 150, 2, 10);
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.sizes.hwHeight, 10);
    EXPECT_EQ(run.sizes.swHeight, 5);
    std::vector<Entry> expected;
    for (uint16_t k = 0; k < 5; ++k) expected.push_back({k, 1});
    EXPECT_EQ(run.table, expected);

    // Any other one-plane format uses colour code 2, whatever the order code says.
    GeometryRun grey = Compute(0, 1, 2, 300, 150, 2, 10);
    for (const Entry& e : grey.table) EXPECT_EQ(e.colour, 2);
}

TEST(ScanGeometry, ColourTableFollowsTheInterleavedMarks) {
    // Raw lines 0 and 1 kept, planes 2 lines apart: marks at 0, 3, 7, 10, 14, 17.
    GeometryRun run = Compute(0, 2, kColourPixelFormat, 300, 300, 2, 2);
    ASSERT_EQ(run.result, 1);
    const std::vector<Entry> expected = {{0, 3}, {1, 3}, {0, 2}, {1, 2}, {0, 1}, {1, 1}};
    EXPECT_EQ(run.table, expected);
}

TEST(ScanGeometry, ColourOrderCodesNamePlaneColours) {
    const std::vector<std::pair<uint8_t, std::vector<uint8_t>>> orders = {
        {0, {3, 2, 1}}, {1, {3, 1, 2}}, {2, {2, 3, 1}},   {3, {2, 1, 3}},
        {4, {1, 3, 2}}, {5, {1, 2, 3}}, {0x7F, {1, 2, 3}}};
    for (const auto& [order, colours] : orders) {
        GeometryRun run = Compute(order, 0, kColourPixelFormat, 300, 300, 2, 1);
        ASSERT_EQ(run.table.size(), 3u) << int(order);
        for (size_t c = 0; c < 3; ++c) EXPECT_EQ(run.table[c], (Entry{0, colours[c]})) << int(order);
    }
}

TEST(ScanGeometry, EveryOutputLineGetsEachColourOnceInArrivalOrder) {
    for (uint16_t ty : {50, 100, 150, 200, 300, 600}) {
        for (uint8_t g : {0, 1, 2}) {
            GeometryRun run = Compute(0, g, kColourPixelFormat, 300, ty, 8, 123, 300, 600);
            ASSERT_EQ(run.result, 1);
            ASSERT_EQ(run.table.size(), 3u * run.sizes.swHeight);
            std::set<std::pair<uint16_t, uint8_t>> seen;
            for (const Entry& e : run.table) {
                EXPECT_LT(e.line, run.sizes.swHeight);
                EXPECT_TRUE(seen.insert({e.line, e.colour}).second)
                    << "twice: " << e.line << "/" << int(e.colour);
            }
            // Within one colour the lines arrive in order.
            for (uint8_t colour = 1; colour <= 3; ++colour) {
                int last = -1;
                for (const Entry& e : run.table) {
                    if (e.colour != colour) continue;
                    EXPECT_EQ(e.line, last + 1);
                    last = e.line;
                }
            }
        }
    }
}

TEST(ScanGeometry, OutOfRangeInputsWriteNothing) {
    const struct {
        uint16_t tx, ty, xCount, yCount;
    } bad[] = {{0, 300, 10, 10},   {301, 300, 10, 10},    {300, 0, 10, 10},
               {300, 301, 10, 10}, {300, 300, 14401, 10}, {300, 300, 10, 28801}};
    for (const auto& b : bad) {
        GeometryRun run = Compute(0, 1, kColourPixelFormat, b.tx, b.ty, b.xCount, b.yCount);
        EXPECT_EQ(run.result, 0);
        EXPECT_FALSE(run.sized);
    }
    // The limits themselves are accepted.
    EXPECT_EQ(Compute(0x80, 0, 2, 300, 150, 14400, 28800).result, 1);
}

TEST(ScanGeometry, TooManyOutputLinesStoresSizesButFails) {
    GeometryRun run = Compute(0, 0, 2, 300, 300, 4, 14401);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.sized);
    EXPECT_EQ(run.sizes.swHeight, 14401);
    EXPECT_EQ(run.sizes.hwHeight, 14401);
    EXPECT_EQ(Compute(0, 0, 2, 300, 300, 4, 14400).result, 1);
}

TEST(ScanGeometry, SizesOnlyNeedsNoTable) {
    const ScanGeometry sizes = ComputeScanGeometry({0x80, 2, 4, 300, 600, 300, 600, 100, 100}, nullptr);
    EXPECT_EQ(sizes.status, 1);
    EXPECT_EQ(sizes.SWHeight, 100);
    // Without the bit a table is required.
    const ScanGeometry refused = ComputeScanGeometry({0, 2, 4, 300, 600, 300, 600, 100, 100}, nullptr);
    EXPECT_EQ(refused.status, 0);
    EXPECT_FALSE(refused.sized);
}

TEST(LineTableEntry, SplitsLineAndColour) {
    const uint16_t table[] = {0x8005, 0xFFFF, 0x4000};
    uint16_t line = 0;
    uint8_t colour = 0;
    EXPECT_EQ(GetLineTableEntry(0, table, &line, &colour), 1);
    EXPECT_EQ(line, 5);
    EXPECT_EQ(colour, 2);
    GetLineTableEntry(1, table, &line, &colour);
    EXPECT_EQ(line, 0x3FFF);
    EXPECT_EQ(colour, 3);
    GetLineTableEntry(2, table, &line, &colour);
    EXPECT_EQ(line, 0);
    EXPECT_EQ(colour, 1);
}

}  // namespace
}  // namespace b58

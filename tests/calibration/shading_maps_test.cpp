// The shading builders on made-up strips.
#include "calibration/shading_maps.h"

#include <gtest/gtest.h>

#include <vector>

namespace b58 {
namespace {

constexpr uint16_t kLines = 40;

// An 8-bit plane of `width` pixels x kLines rows, every sample `level`.
std::vector<uint8_t> Plane8(int width, uint8_t level) {
    return std::vector<uint8_t>(static_cast<size_t>(width) * kLines, level);
}
// A 16-bit plane as the 16-bit strip leaves it: rows 2 x width samples apart, second halves
// holding something the builders must not read.
std::vector<uint16_t> Plane16(int width, uint16_t level) {
    std::vector<uint16_t> plane(static_cast<size_t>(2 * width) * kLines, 1);
    for (int r = 0; r < kLines; ++r)
        for (int p = 0; p < width; ++p) plane[static_cast<size_t>(r) * 2 * width + p] = level;
    return plane;
}
std::vector<uint8_t> Maps(int pixels, uint8_t fill) {
    return std::vector<uint8_t>(static_cast<size_t>(pixels) * kMapEntries, fill);
}
const uint8_t* Map(const std::vector<uint8_t>& maps, int pixel) {
    return maps.data() + static_cast<size_t>(pixel) * kMapEntries;
}
void ExpectIdentity(const uint8_t* map) {
    for (int v = 0; v < kMapEntries; ++v) ASSERT_EQ(map[v], v) << "entry " << v;
}

TEST(TrimmedMean, AveragesTheMiddleBandSoOneWildRowDoesNotCount) {
    std::vector<uint16_t> values = {9, 3, 7, 1, 8, 2, 6, 4, 5, 0};
    SortSamples(values.data(), static_cast<int>(values.size()));
    EXPECT_EQ(values, (std::vector<uint16_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

    // 40 rows: positions 14..26, 13 samples.
    std::vector<uint8_t> plane = Plane8(3, 0);
    for (int r = 0; r < kLines; ++r) plane[static_cast<size_t>(r) * 3 + 1] = static_cast<uint8_t>(100 + r);
    std::vector<uint16_t> scratch(kLines);
    TrimmedSum middle = TrimmedMean(plane.data(), 3, kLines, 1, {35, 65}, scratch.data());
    EXPECT_EQ(middle.count, 13u);
    EXPECT_EQ(middle.Integer(), 120u);  // 114..126
    plane[1] = 255;                     // one very bright row
    plane[3 * 39 + 1] = 0;              // and one very dark
    EXPECT_EQ(TrimmedMean(plane.data(), 3, kLines, 1, {35, 65}, scratch.data()).Integer(), 120u);

    // Exact division keeps the fraction: 20 rows of 10 and 20 of 11, band 14..26.
    for (int r = 0; r < kLines; ++r) plane[static_cast<size_t>(r) * 3] = r < 20 ? 10 : 11;
    const TrimmedSum split = TrimmedMean(plane.data(), 3, kLines, 0, {35, 65}, scratch.data());
    EXPECT_EQ(split.Integer(), 10u);
    EXPECT_FLOAT_EQ(split.Exact(), (6 * 10 + 7 * 11) / 13.0f);
}

TEST(BlackLevelMaps, WhiteMapsTo255ScaledByFactorAndTruncated) {
    const int width = 4;
    auto white = Plane8(width, 200);
    auto maps = Maps(width + 1, 7);
    BuildMapsFromBlackLevel(white.data(), width, kLines, 20, 100, maps.data());
    const uint8_t* map = Map(maps, 2);
    EXPECT_EQ(map[200], 255);
    EXPECT_EQ(map[230], 255);
    EXPECT_EQ(map[20], 0);
    EXPECT_EQ(map[5], 0);
    EXPECT_EQ(map[110], 127);  // 90 x 255 / 180 = 127.5, truncated
    // Maps beyond the strip's width keep what they held.
    for (int v = 0; v < kMapEntries; ++v) ASSERT_EQ(Map(maps, width)[v], 7);

    BuildMapsFromBlackLevel(white.data(), width, kLines, 20, 110, maps.data());
    EXPECT_EQ(Map(maps, 0)[200], 231);  // 255 / 1.1 = 231.8
}

TEST(BlackLevelMaps, RoundingBuildersRoundHalfUp) {
    const int width = 2;
    auto white = Plane8(width, 200);
    auto maps = Maps(width, 0);
    BuildTaMapsFromBlackLevel(white.data(), width, kLines, 20, maps.data());
    EXPECT_EQ(Map(maps, 0)[110], 128);  // 127.5 + 0.5
    EXPECT_EQ(Map(maps, 0)[200], 255);
    EXPECT_EQ(Map(maps, 1)[19], 0);

    auto dark = Plane8(width, 20);
    BuildMapsFromDarkStrip(white.data(), dark.data(), width, kLines, maps.data());
    EXPECT_EQ(Map(maps, 1)[110], 128);
    EXPECT_EQ(Map(maps, 1)[21], 1);  // 1.416 + 0.5

    // The white level keeps its fraction: 200.54 (six rows of 200, seven of 201 in the band),
    // so a raw 200 lies just below white in both black-level builders.
    for (int r = 20; r < kLines; ++r) white[static_cast<size_t>(r) * width] = 201;
    BuildTaMapsFromBlackLevel(white.data(), width, kLines, 20, maps.data());
    EXPECT_EQ(Map(maps, 0)[200], 254);  // 180 x 255 / 180.54 + 0.5
    BuildMapsFromBlackLevel(white.data(), width, kLines, 20, 100, maps.data());
    EXPECT_EQ(Map(maps, 0)[200], 254);
    EXPECT_EQ(Map(maps, 0)[201], 255);
}

TEST(DegeneratePixels, GetTheIdentityMap) {
    const int width = 3;
    auto white = Plane8(width, 200);
    for (int r = 0; r < kLines; ++r) {
        white[static_cast<size_t>(r) * width + 0] = 20;  // white at the black level
        white[static_cast<size_t>(r) * width + 1] = 15;  // white below it
    }
    auto maps = Maps(width, 0);
    BuildMapsFromBlackLevel(white.data(), width, kLines, 20, 100, maps.data());
    ExpectIdentity(Map(maps, 0));
    ExpectIdentity(Map(maps, 1));
    EXPECT_EQ(Map(maps, 2)[200], 255);

    maps = Maps(width, 0);
    BuildTaMapsFromBlackLevel(white.data(), width, kLines, 20, maps.data());
    ExpectIdentity(Map(maps, 0));
    ExpectIdentity(Map(maps, 1));

    auto dark = Plane8(width, 20);
    maps = Maps(width, 0);
    BuildMapsFromDarkStrip(white.data(), dark.data(), width, kLines, maps.data());
    ExpectIdentity(Map(maps, 0));
    ExpectIdentity(Map(maps, 1));
    EXPECT_EQ(Map(maps, 2)[200], 255);
}

TEST(References16, WhiteAndDarkFromTheirBandsWithinTheStripWidth) {
    const int width = 3;
    auto white = Plane16(width, 50000);
    auto dark = Plane16(width, 0);
    // Dark rows rising 1000 per row: band 25 %..50 % is positions 10..20, mean 15000.
    for (int r = 0; r < kLines; ++r)
        dark[static_cast<size_t>(r) * 2 * width + 1] = static_cast<uint16_t>(1000 * r);
    std::vector<uint16_t> whiteRef(width + 1, 9), darkRef(width + 1, 9);
    BuildReferences16(white.data(), dark.data(), width, kLines, whiteRef.data(), darkRef.data());
    EXPECT_EQ(whiteRef, (std::vector<uint16_t>{50000, 50000, 50000, 9}));
    EXPECT_EQ(darkRef, (std::vector<uint16_t>{0, 15000, 0, 9}));
}

TEST(References16, WithoutADarkStripTheBlackLevelIsTheDarkReference) {
    const int width = 3;
    auto white = Plane16(width, 40000);
    for (int r = 0; r < kLines; ++r) white[static_cast<size_t>(r) * 2 * width + 2] = 3000;  // a dead pixel
    std::vector<uint16_t> whiteRef(width + 1, 9), darkRef(width + 1, 9);
    BuildReferences16FromBlackLevel(white.data(), width, kLines, 20, whiteRef.data(), darkRef.data());
    EXPECT_EQ(whiteRef, (std::vector<uint16_t>{40000, 40000, 65535, 9}));
    EXPECT_EQ(darkRef, (std::vector<uint16_t>{5140, 5140, 0, 9}));
}

}  // namespace
}  // namespace b58

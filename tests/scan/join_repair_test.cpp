#include "scan/join_repair.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace b58 {
namespace {

std::vector<int> GreyJoins(uint16_t start, int dpi, int pixels) {
    return JoinPixels({start, dpi, pixels, pixels, 0, 1, 2}, JoinLayout::Gray);
}

std::vector<int> Colour24Joins(uint16_t start, int dpi, int pixels) {
    return JoinPixels({start, dpi, pixels, pixels * 3, 0, 1, 2}, JoinLayout::Color24);
}

TEST(JoinPositions, FirstJoinFollowsTheWindowStart) {
    EXPECT_EQ(FirstJoinOffset(0), 97);
    EXPECT_EQ(FirstJoinOffset(1), 96);
    EXPECT_EQ(FirstJoinOffset(96), 1);
    EXPECT_EQ(FirstJoinOffset(97), 96);
    EXPECT_EQ(FirstJoinOffset(100), 93);
}

TEST(JoinPositions, OutputPixelPerResolutionAndLayout) {
    EXPECT_EQ(GreyJoins(1, 300, 400), (std::vector<int>{96, 192, 288, 384}));
    EXPECT_EQ(GreyJoins(1, 150, 200), (std::vector<int>{48, 96, 144, 192}));  // even, at or below x/2 + 1
    EXPECT_EQ(GreyJoins(1, 100, 140), (std::vector<int>{32, 64, 96, 128}));
    EXPECT_EQ(GreyJoins(1, 50, 70), (std::vector<int>{17, 33, 49, 65}));
    EXPECT_EQ(Colour24Joins(1, 100, 100), (std::vector<int>{32, 64, 96}));
    EXPECT_EQ(Colour24Joins(1, 50, 70), (std::vector<int>{16, 32, 48, 64}));
    EXPECT_TRUE(GreyJoins(1, 600, 400).empty());  // no sensor pitch to repair at
}

TEST(JoinPositions, GreyBoundsAtTheLineEnds) {
    EXPECT_EQ(GreyJoins(96, 300, 200).front(), 97);  // pixel 1 is skipped
    EXPECT_EQ(GreyJoins(95, 300, 100).front(), 2);
    // The third-last pixel: repaired at 100 and 50 dpi only.
    EXPECT_EQ(GreyJoins(1, 300, 99), (std::vector<int>{}));
    EXPECT_EQ(GreyJoins(1, 300, 100), (std::vector<int>{96}));
    EXPECT_EQ(GreyJoins(1, 150, 51), (std::vector<int>{}));
    EXPECT_EQ(GreyJoins(1, 150, 52), (std::vector<int>{48}));
    EXPECT_EQ(GreyJoins(1, 100, 35), (std::vector<int>{32}));
    EXPECT_EQ(GreyJoins(1, 100, 34), (std::vector<int>{}));
    EXPECT_EQ(GreyJoins(1, 50, 20), (std::vector<int>{17}));
    EXPECT_EQ(GreyJoins(1, 50, 19), (std::vector<int>{}));
}

TEST(JoinPositions, ColourBoundsAtTheLineEnds) {
    EXPECT_EQ(Colour24Joins(96, 300, 200).front(), 97);  // pixel 1 is skipped
    EXPECT_EQ(Colour24Joins(95, 300, 200).front(), 2);
    EXPECT_EQ(Colour24Joins(1, 100, 35), (std::vector<int>{}));  // third-last
    EXPECT_EQ(Colour24Joins(1, 100, 36), (std::vector<int>{32}));
    const JoinGeometry bgr48{1, 300, 100, 600, 2, 1, 0};
    EXPECT_EQ(JoinPixels(bgr48, JoinLayout::Color48), (std::vector<int>{96}));
    const JoinGeometry rgb48{1, 300, 99, 594, 0, 1, 2};
    EXPECT_TRUE(JoinPixels(rgb48, JoinLayout::Color48).empty());
}

TEST(JoinNoise, StaysInItsBandAndDrawsInOrder) {
    JoinRandom random(7);
    JoinRandom untouched(7);
    EXPECT_EQ(JoinNoise(0, random), 0);
    EXPECT_EQ(JoinNoise(-3.5, random), 0);
    EXPECT_EQ(random.Next(), untouched.Next());  // nothing drawn for x <= 0

    for (double x : {1.5, 45.0, 70.2, 85.0, 120.9, 150.0}) {
        for (int i = 0; i < 50; ++i) {
            const int v = JoinNoise(x, random);
            ASSERT_GE(v, static_cast<int>(x));
            ASSERT_LE(v, static_cast<int>(x) + 3);
        }
    }
    JoinRandom bright(3), reference(3);
    EXPECT_EQ(JoinNoise(200.7, bright), 200);
    reference.Next();
    reference.Next();
    EXPECT_EQ(bright.Next(), reference.Next());  // two values drawn and discarded
    EXPECT_EQ(JoinNoise(254.9, bright), 254);
    EXPECT_EQ(JoinNoise(400, bright), 255);
}

// A line of `pixels` samples of `level`.
std::vector<uint8_t> FlatLine(int pixels, uint8_t level) {
    return std::vector<uint8_t>(static_cast<size_t>(pixels), level);
}

TEST(SegmentJoinRepair, FlatFieldJoinIsFilledFromItsNeighbours) {
    JoinRandom random;
    for (int trial = 0; trial < 20; ++trial) {
        auto line = FlatLine(200, 100);
        line[96] = 95;
        RepairSegmentJoin({line.data(), 0, 1, 200}, 300, 96, JoinColour::Red, JoinLayout::Color24, random);
        EXPECT_GE(line[96], 100);
        EXPECT_LE(line[96], 101);
        EXPECT_GE(line[97], 100);
        EXPECT_LE(line[97], 101);
    }
}

TEST(SegmentJoinRepair, UnevenNeighboursLeaveTheJoinAlone) {
    JoinRandom random;
    // Outer neighbours 15 apart: untouched; 14 apart: repaired.
    for (int spread : {15, 14}) {
        auto line = FlatLine(200, 100);
        for (int x = 96 + 3; x < 200; ++x) line[x] = static_cast<uint8_t>(100 + spread);
        line[95] = 105;
        line[96] = 105;
        line[97] = 108;
        line[98] = 110;
        const auto before = line;
        RepairSegmentJoin({line.data(), 0, 1, 200}, 300, 96, JoinColour::Red, JoinLayout::Gray, random);
        if (spread == 15)
            EXPECT_EQ(line, before);
        else
            EXPECT_NE(line, before);
    }
}

TEST(SegmentJoinRepair, FiftyDpiAveragesTheNeighbours) {
    JoinRandom random;
    auto line = FlatLine(40, 140);
    line[17] = 130;
    RepairSegmentJoin({line.data(), 0, 1, 40}, 50, 17, JoinColour::Red, JoinLayout::Gray, random);
    EXPECT_EQ(line, FlatLine(40, 140));
}

TEST(SegmentJoinRepair, GreyUsesTheToleranceOfTheColourAtOffsetZero) {
    // P(0) = 125 beside 140: within blue's tolerance (25), outside red's (12).
    JoinRandom random;
    auto rgb = FlatLine(70, 140);
    rgb[17] = 125;
    auto bgr = rgb;
    RepairLineJoins(rgb.data(), {1, 50, 70, 70, 0, 1, 2}, JoinLayout::Gray, random);
    RepairLineJoins(bgr.data(), {1, 50, 70, 70, 2, 1, 0}, JoinLayout::Gray, random);
    EXPECT_EQ(rgb[17], 125);
    EXPECT_EQ(bgr[17], 140);
}

TEST(SegmentJoinRepair, FortyEightBitRepairsHighBytesOnly) {
    // 70 pixels of 6 bytes: every high byte 140, every low byte 0x5A; joins at 17, 33, 49, 65.
    std::vector<uint8_t> line(70 * 6);
    for (size_t i = 0; i < line.size(); ++i) line[i] = i % 2 ? 140 : 0x5A;
    for (int c = 0; c < 3; ++c) line[17 * 6 + 2 * c + 1] = 135;
    JoinRandom random;
    RepairLineJoins(line.data(), {1, 50, 70, 420, 0, 1, 2}, JoinLayout::Color48, random);
    for (size_t i = 0; i < line.size(); ++i) ASSERT_EQ(line[i], i % 2 ? 140 : 0x5A) << i;
}

}  // namespace
}  // namespace b58

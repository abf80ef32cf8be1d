// The origin searches on made-up strips.
#include "calibration/edge_search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform_control.h"

namespace b58 {
namespace {

struct Strip {
    int width;
    int height;
    std::vector<uint8_t> samples;
    Strip(int w, int h, uint8_t level) : width(w), height(h), samples(static_cast<size_t>(w) * h, level) {}
    // Sets columns [c0, c1] of rows [r0, r1] to a level.
    void Fill(int c0, int c1, int r0, int r1, uint8_t level) {
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) samples[static_cast<size_t>(r) * width + c] = level;
    }
    const uint8_t* data() const { return samples.data(); }
};

class FlatbedOriginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetDebugSink([this](const char* text) { trace_ += text; });
    }
    void TearDown() override { platform::SetDebugSink({}); }

    void Origin(const Strip& strip) {
        FlatbedOriginFromStrip(strip.data(), strip.width, strip.height, &left_, &top_);
    }
    bool Traced(const char* text) const { return trace_.find(text) != std::string::npos; }

    static constexpr char kTopMessage[] = "the top boundary is over,so use default value";
    static constexpr char kLeftMessage[] = "the left boundary is over ,so use default value";
    std::string trace_;
    uint16_t left_ = 0;
    int32_t top_ = 0;
};

TEST_F(FlatbedOriginTest, AUniformStripGivesTheFixedOriginWithoutRangeMessages) {
    Strip strip(512, 200, 180);
    EXPECT_EQ(FindFlatbedLeftEdge(strip.data(), 512, 200), 2);
    Origin(strip);
    EXPECT_EQ(left_, 72);
    EXPECT_EQ(top_, 86);
    EXPECT_FALSE(Traced(kTopMessage));
    EXPECT_FALSE(Traced(kLeftMessage));
}

TEST_F(FlatbedOriginTest, TheDarkReferenceBlockCornerGivesItsEdges) {
    Strip strip(512, 200, 200);
    strip.Fill(0, 69, 0, 84, 10);
    EXPECT_EQ(FindFlatbedLeftEdge(strip.data(), 512, 200), 71);
    EXPECT_EQ(FindFlatbedTopEdge(strip.data(), 512, 200, 71), 83);
    Origin(strip);
    EXPECT_EQ(left_, 71);
    EXPECT_EQ(top_, 83);
    EXPECT_TRUE(trace_.empty()) << trace_;
}

TEST_F(FlatbedOriginTest, AnEdgeAtTheLimitOfTheSearchIsReplacedWithItsMessage) {
    // Left edge found at x = 10 (columns 0..8 dark): accepted by the search, out of range.
    Strip strip(512, 200, 200);
    strip.Fill(0, 8, 0, 50, 10);
    EXPECT_EQ(FindFlatbedLeftEdge(strip.data(), 512, 200), 10);
    Origin(strip);
    EXPECT_EQ(left_, 72);
    EXPECT_EQ(top_, 49);
    EXPECT_TRUE(Traced(kLeftMessage));
    EXPECT_FALSE(Traced(kTopMessage));
}

TEST_F(FlatbedOriginTest, ATopEdgeNotFoundEndsAtTheStripsFootAndIsReplaced) {
    Strip strip(512, 200, 200);
    strip.Fill(0, 69, 0, 199, 10);  // dark all the way down
    EXPECT_EQ(FindFlatbedTopEdge(strip.data(), 512, 200, 71), 198);
    Origin(strip);
    EXPECT_EQ(left_, 71);
    EXPECT_EQ(top_, 86);
    EXPECT_TRUE(Traced(kTopMessage));
    EXPECT_FALSE(Traced(kLeftMessage));
}

TEST_F(FlatbedOriginTest, ContrastMustExceedFortyAndTheLeftEdgeBelowTenIsNotSearchedDown) {
    Strip soft(512, 200, 100);
    soft.Fill(0, 69, 0, 84, 60);  // a step of exactly 40 is no edge
    EXPECT_EQ(FindFlatbedLeftEdge(soft.data(), 512, 200), 2);

    // An edge at x = 5 would make the top search read before the row: the fixed origin.
    Strip nearStart(512, 200, 200);
    nearStart.Fill(0, 3, 0, 199, 0);
    EXPECT_EQ(FindFlatbedLeftEdge(nearStart.data(), 512, 200), 5);
    Origin(nearStart);
    EXPECT_EQ(left_, 72);
    EXPECT_EQ(top_, 86);
    EXPECT_FALSE(Traced(kLeftMessage));
}

TEST_F(FlatbedOriginTest, AStripThatDidNotArriveGivesTheFixedOrigin) {
    FlatbedOriginFromStrip(nullptr, 512, 200, &left_, &top_);
    EXPECT_EQ(left_, 72);
    EXPECT_EQ(top_, 86);
    EXPECT_TRUE(trace_.empty());
}

TEST(TaOriginSearch, FindsTheFirstColumnBrighterThanTheOneFourteenToItsLeft) {
    Strip strip(700, 200, 10);
    strip.Fill(100, 699, 0, 199, 200);
    EXPECT_EQ(FindTaLeftEdge(strip.data(), 700, 200), 113);

    // Only a rise to the right counts: a bright left side gives the fixed column.
    Strip mirrored(700, 200, 200);
    mirrored.Fill(100, 699, 0, 199, 10);
    EXPECT_EQ(FindTaLeftEdge(mirrored.data(), 700, 200), 368);
}

TEST(TaOriginSearch, TopEdgeIsSevenRowsAboveTheChangeRightOfTheLeftEdge) {
    Strip strip(700, 200, 10);
    strip.Fill(100, 699, 0, 69, 220);  // clear area above the dark holder
    const int left = FindTaLeftEdge(strip.data(), 700, 200);
    ASSERT_EQ(left, 113);
    EXPECT_EQ(FindTaTopEdge(strip.data(), 700, 200, left), 63);

    Strip uniform(700, 200, 220);
    EXPECT_EQ(FindTaTopEdge(uniform.data(), 700, 200, 368), 58);
    // The twenty pixels must lie inside the row.
    EXPECT_EQ(FindTaTopEdge(strip.data(), 700, 200, 641), 58);
}

}  // namespace
}  // namespace b58

// The line routines' frame over a ring filled by hand: which raw lines feed an output line,
// which slots are freed, and what a stop or a failed reader does to a waiting call.
#include "scan/line_routines.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/platform_control.h"
#include "scan/join_repair.h"
#include "scan/scan_run.h"
#include "scan/scan_session.h"

namespace b58 {
namespace {

class LineRoutines : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetTimeScale(0.001); }
    void TearDown() override {
        run_->FreeMemory();
        platform::SetTimeScale(1.0);
    }

    // A run and a session as they are before any request.
    void Fresh() {
        run_ = std::make_unique<ScanRun>();
        session_ = ScanSession();
    }
    LineContext Lines() { return {*run_, session_, noise_}; }

    // `pixels` pixels per line, no join repair (RXDPI outside the sensor's pitches).
    void Configure(uint16_t formatCode, uint16_t dataWidth, uint16_t pixels, uint16_t lineBytes) {
        ASSERT_TRUE(run_->AllocateMemory(dataWidth, nullptr));
        session_.PixelFormatCode = formatCode;
        session_.DataWidth = dataWidth;
        session_.SWWidth = pixels;
        session_.LinePixels = pixels;
        session_.LineBytes = lineBytes;
        session_.RXDPI = 0;
    }

    // Interleaved raw line k: byte 3p + c is 10k + c.
    void FileInterleaved(uint32_t k) {
        uint8_t* line = run_->LineRing() + (k % kRingSlots) * session_.SWWidth * 3u;
        for (int p = 0; p < session_.SWWidth; ++p)
            for (int c = 0; c < 3; ++c) line[3 * p + c] = static_cast<uint8_t>(10 * k + c);
        run_->FileLine(0, k % kRingSlots);
    }
    // Plane line k of `plane`: every sample 10k + plane (as the high byte for 16-bit samples).
    void FilePlane(int plane, uint32_t k) {
        uint8_t* line = run_->PlaneLines(plane, k % kRingSlots);
        for (int p = 0; p < session_.SWWidth; ++p) {
            if (session_.DataWidth == 16) {
                line[2 * p] = 0;
                line[2 * p + 1] = static_cast<uint8_t>(10 * k + plane);
            } else {
                line[p] = static_cast<uint8_t>(10 * k + plane);
            }
        }
        run_->FileLine(plane, k % kRingSlots);
    }
    bool Free(int plane, uint32_t k) { return run_->SlotFree(plane, k % kRingSlots); }

    std::unique_ptr<ScanRun> run_ = std::make_unique<ScanRun>();
    ScanSession session_;
    JoinRandom noise_;
};

TEST_F(LineRoutines, PixelModeTakesRedTwoLagsAheadAndBlueOneLagAhead) {
    Configure(4, 8, 2, 6);
    session_.ColourLag = 1;
    for (uint32_t k = 0; k < 3; ++k) FileInterleaved(k);
    std::vector<uint8_t> out(6);
    ASSERT_EQ(Color24PixelModeLines(Lines(), out.data()), 1);
    EXPECT_EQ(out, (std::vector<uint8_t>{20, 1, 12, 20, 1, 12}));
    EXPECT_TRUE(Free(0, 0));
    EXPECT_FALSE(Free(0, 1));
    EXPECT_FALSE(Free(0, 2));
    EXPECT_EQ(run_->NextLineIndex, 1);

    // Without a lag every colour comes from the same raw line; BGR order swaps red and blue.
    session_.ColourLag = 0;
    run_->RedOffset = 2;
    run_->BlueOffset = 0;
    ASSERT_EQ(Color24PixelModeLines(Lines(), out.data()), 1);
    EXPECT_EQ(out, (std::vector<uint8_t>{12, 11, 10, 12, 11, 10}));
}

TEST_F(LineRoutines, LineModeSourcesAndFreesAllThreePlanes) {
    Configure(4, 8, 2, 6);
    session_.ColourLag = 2;
    for (uint32_t k = 0; k < 5; ++k)
        for (int plane = 0; plane < 3; ++plane) FilePlane(plane, k);
    std::vector<uint8_t> out(6);
    ASSERT_EQ(Color24LineModeLines(Lines(), out.data()), 1);
    // red: plane 0 of line 4; green: plane 1 of line 2; blue: plane 2 of line 0.
    EXPECT_EQ(out, (std::vector<uint8_t>{40, 21, 2, 40, 21, 2}));
    for (int plane = 0; plane < 3; ++plane) EXPECT_TRUE(Free(plane, 0));
    EXPECT_FALSE(Free(0, 1));
    EXPECT_EQ(run_->NextLineIndex, 1);
}

TEST_F(LineRoutines, FortyEightBitTakesGreenFromTheLineItselfAndBlueOneLagAhead) {
    Configure(4, 16, 2, 12);
    session_.ColourLag = 1;
    for (uint32_t k = 0; k < 3; ++k)
        for (int plane = 0; plane < 3; ++plane) FilePlane(plane, k);
    std::vector<uint8_t> out(12);
    ASSERT_EQ(Color48LineModeLines(Lines(), out.data()), 1);
    // High bytes: red from line 2 (20), green from line 0 (1), blue from line 1 (12). The
    // single-precision shading may land one step below the raw value in the low byte.
    EXPECT_EQ(out[1] + (out[0] == 0xFF ? 1 : 0), 20);
    EXPECT_EQ(out[3] + (out[2] == 0xFF ? 1 : 0), 1);
    EXPECT_EQ(out[5] + (out[4] == 0xFF ? 1 : 0), 12);
    for (int plane = 0; plane < 3; ++plane) EXPECT_TRUE(Free(plane, 0));
}

TEST_F(LineRoutines, AFailedReaderEndsTheCallWithNothingDone) {
    Configure(2, 8, 4, 4);
    FileInterleaved(0);  // a filed line the failure makes unreachable
    run_->MarkReaderFailed();
    std::vector<uint8_t> out(4, 0xEE);
    EXPECT_EQ(GrayLines(Lines(), out.data()), 0);
    EXPECT_EQ(out, std::vector<uint8_t>(4, 0xEE));
    EXPECT_FALSE(Free(0, 0));
    EXPECT_EQ(run_->NextLineIndex, 0);
}

TEST_F(LineRoutines, AReaderFailingWhileTheHostWaitsFailsTheCall) {
    Configure(4, 8, 4, 12);
    std::thread reader([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        run_->MarkReaderFailed();
    });
    std::vector<uint8_t> out(12);
    EXPECT_EQ(Color24PixelModeLines(Lines(), out.data()), 0);
    reader.join();
    EXPECT_EQ(run_->NextLineIndex, 0);
}

// A stop ends a waiting call in every mode without writing the line or freeing a slot, also
// when some of the slots it waits for were filed: a half-filed line is no line.
TEST_F(LineRoutines, AStopEndsAWaitingCallWithoutALineInEveryMode) {
    struct Case {
        const char* name;
        LineRoutineFn routine;
        uint16_t formatCode, dataWidth, lineBytes;
        int filedPlane;  // a plane filed for line 0 before the stop, or -1
    };
    const Case cases[] = {
        {"line art", LineArtLines, 2, 8, 1, -1},
        {"grey", GrayLines, 2, 8, 8, -1},
        {"colour, pixel mode", Color24PixelModeLines, 4, 8, 24, -1},
        {"colour, line mode", Color24LineModeLines, 4, 8, 24, 0},
        {"48-bit colour", Color48LineModeLines, 4, 16, 48, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        Configure(c.formatCode, c.dataWidth, 8, c.lineBytes);
        session_.ColourLag = 0;
        if (c.filedPlane >= 0) FilePlane(c.filedPlane, 0);
        run_->RequestStop();
        std::vector<uint8_t> out(c.lineBytes, 0xEE);
        EXPECT_EQ(c.routine(Lines(), out.data()), kLineStopped);
        EXPECT_EQ(out, std::vector<uint8_t>(c.lineBytes, 0xEE));
        EXPECT_EQ(run_->NextLineIndex, 0);
        if (c.filedPlane >= 0) {
            EXPECT_FALSE(Free(c.filedPlane, 0));
        }
        run_->FreeMemory();
    }
}

TEST_F(LineRoutines, ARawLineNarrowerThanTheOutputIsNotReadPastItsEnd) {
    Configure(2, 8, 5, 5);
    session_.SWWidth = 3;
    uint8_t* ring = run_->LineRing();
    ring[0] = 7, ring[1] = 8, ring[2] = 9;  // line 0
    ring[3] = 99, ring[4] = 99;             // line 1 follows at once
    run_->FileLine(0, 0);
    std::vector<uint8_t> out(5);
    ASSERT_EQ(GrayLines(Lines(), out.data()), 1);
    EXPECT_EQ(out, (std::vector<uint8_t>{7, 8, 9, 9, 9}));
}

}  // namespace
}  // namespace b58

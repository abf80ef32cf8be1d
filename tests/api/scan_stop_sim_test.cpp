// StopScan from a second thread at any moment of a scan against the virtual scanner, and a
// stop while the reader is held up by the scanner: the read in progress ends, counts only
// the lines it wrote, the memory goes only after it, and the next scan is whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/firmware_image.h"
#include "sim/virtual_scanner.h"
#include "virtual_scanner_fixture.h"

// Fields of the packed host records go to the checks by value (unary +).

namespace b58 {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

constexpr uint8_t kUnwritten = 0xA5;

struct Mode {
    const char* name;
    uint16_t scanMode;
    uint16_t dpi;
};

// What one scan did: lines delivered, whether each delivered line was written and each line
// past them left alone, and the timings of a stop.
struct ScanOutcome {
    uint32_t imageLines = 0;
    uint32_t delivered = 0;
    uint16_t lastStatus = 0;
    bool countsMatchWrites = true;
    int32_t stopResult = -1;
    double readEndAfterStopMs = 0;  // from the StopScan call to the return of the read it met
    double stopMs = 0;              // how long StopScan took
    double readMs = 0;              // from the start to the end of the last read
};

class ScanStopTest : public testing::VirtualScannerTest {
  protected:
    void SetUp() override { VirtualScannerTest::SetUp(); }
    void TearDown() override {
        StopRecord stop{};
        if (TheDriver().Run.ReaderThread() != nullptr) StopScan(&stop);
        _Close();
        ControllerTest::TearDown();
    }

    void PublishScanner(const std::string& options) {
        ASSERT_NE(PublishVirtualScanner(options), nullptr);
        ASSERT_EQ(_Open(), 1) << trace_;
    }

    // SetParameters and StartScan, by default for one inch by half an inch; the bytes per line.
    uint32_t Start(const Mode& mode, uint32_t* imageLines, uint16_t right = 600, uint16_t bottom = 450) {
        ScanParameters p{};
        p.Left = 300;
        p.Top = 300;
        p.Right = right;
        p.Bottom = bottom;
        p.Resolution = mode.dpi;
        p.ScanMode = mode.scanMode;
        p.Threshold = 128;
        if (SetParameters(&p) != 1) return 0;
        // Scanning the calibration area skips the shading calibration, which would otherwise
        // take most of a sanitizer build's time; the stops do not depend on it.
        uint16_t calibrationArea = 1;
        TestEntry(30, &calibrationArea);
        ScanParametersInfo info{};
        GetParameters(&info);
        *imageLines = info.ImageLines;
        ScanStartRecord start{};
        return StartScan(&start) != 0 ? info.LineBytes : 0;
    }

    // A scan whose reads of 200 lines run until status 29; with a stop delay, a second thread
    // calls StopScan that long after the start, else the host does once all is read.
    ScanOutcome Scan(const Mode& mode, std::chrono::microseconds stopDelay, bool stopFromThread) {
        ScanOutcome out;
        const uint32_t lineBytes = Start(mode, &out.imageLines);
        EXPECT_NE(lineBytes, 0u);
        if (lineBytes == 0) return out;
        std::vector<uint8_t> pixels(size_t{lineBytes} * (out.imageLines + 200), kUnwritten);

        const Clock::time_point started = Clock::now();
        std::atomic<int64_t> stopAt{0};
        std::thread stopper;
        if (stopFromThread) {
            stopper = std::thread([&] {
                std::this_thread::sleep_for(stopDelay);
                stopAt.store(Clock::now().time_since_epoch().count());
                const Clock::time_point begin = Clock::now();
                StopRecord stop{};
                out.stopResult = StopScan(&stop);
                out.stopMs = MsSince(begin);
            });
        }
        for (;;) {
            ReadRequest read{};
            read.LinesWanted = 200;
            read.Buffer = pixels.data() + size_t{out.delivered} * lineBytes;
            const int32_t result = ReadScannedData(&read);
            const Clock::time_point returned = Clock::now();
            for (uint32_t line = 0; line < 200; ++line) {
                const uint8_t* first = read.Buffer + size_t{line} * lineBytes;
                const bool untouched =
                    std::all_of(first, first + lineBytes, [](uint8_t b) { return b == kUnwritten; });
                if (untouched != (line >= read.LinesDone)) out.countsMatchWrites = false;
            }
            out.delivered += read.LinesDone;
            out.lastStatus = read.Status;
            const int64_t stopped = stopAt.load();
            if (stopped != 0 && read.Status != kStatusOk) {
                const Clock::time_point stopCall{Clock::duration(stopped)};
                out.readEndAfterStopMs =
                    std::chrono::duration<double, std::milli>(returned - stopCall).count();
            }
            if (result == 0 || read.Status != kStatusOk) break;
        }
        out.readMs = MsSince(started);
        // The host stops the scan as well, as hosts do after status 29: with a stop from
        // another thread still running, the two may overlap.
        StopRecord stop{};
        const int32_t hostStop = StopScan(&stop);
        EXPECT_NE(hostStop, 0);
        if (stopper.joinable()) {
            stopper.join();
        } else {
            out.stopResult = hostStop;
        }
        return out;
    }
};

// 200 stops in all, at random moments from the start to past the end of the scan, in each
// pixel format and both colour transfer modes; then a whole scan in the same process.
TEST_F(ScanStopTest, AStopFromAnotherThreadEndsTheReadWithTheLinesItWrote) {
    const Mode modes[] = {
        {"line art", ModeLineArt, 300},           {"grey", ModeGray, 300},
        {"colour, pixel mode", ModeColor24, 300}, {"colour, line mode", ModeColor24, 600},
        {"48-bit colour", ModeColor48, 300},
    };
    constexpr int kStopsPerMode = 40;
    // A quick carriage: the stops are what is tested, not the travel.
    PublishScanner("seed=1,step_us=50,start_ms=5");
    std::mt19937 random(20261208);
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        const ScanOutcome whole = Scan(mode, {}, false);
        ASSERT_GT(whole.imageLines, 0u);
        ASSERT_EQ(whole.delivered, whole.imageLines);

        double slowestRead = 0, slowestStop = 0;
        int stoppedEarly = 0;
        std::uniform_int_distribution<int64_t> delay(0, static_cast<int64_t>(whole.readMs * 1200));
        for (int i = 0; i < kStopsPerMode; ++i) {
            SCOPED_TRACE(i);
            const ScanOutcome stopped = Scan(mode, std::chrono::microseconds(delay(random)), true);
            EXPECT_NE(stopped.stopResult, 0)
                << trace_.substr(trace_.size() > 3000 ? trace_.size() - 3000 : 0);
            EXPECT_EQ(stopped.lastStatus, kStatusNoFurtherLine);
            EXPECT_TRUE(stopped.countsMatchWrites);
            EXPECT_LE(stopped.delivered, stopped.imageLines);
            EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
            EXPECT_EQ(TheDriver().Run.ReaderThread(), nullptr);
            if (stopped.delivered < stopped.imageLines) ++stoppedEarly;
            slowestRead = std::max(slowestRead, stopped.readEndAfterStopMs);
            slowestStop = std::max(slowestStop, stopped.stopMs);
        }
        const ScanOutcome after = Scan(mode, {}, false);
        EXPECT_EQ(after.delivered, after.imageLines);
        EXPECT_EQ(after.lastStatus, kStatusNoFurtherLine);
        std::printf(
            "%s: %d of %d stops mid-image; slowest read end after a stop %.1f ms, slowest StopScan "
            "%.1f ms (reading a whole scan %.1f ms)\n",
            mode.name, stoppedEarly, kStopsPerMode, slowestRead, slowestStop, whole.readMs);
    }
}

// A scanner that sends no data for a block read of the scan: StopScan ends the reader at its
// next poll, cancelling its reads, instead of waiting out the block time limit.
TEST_F(ScanStopTest, AStopEndsAReaderBlockedInADeviceRead) {
    // Past the calibration strips' reads: a block of the scan itself (8 by 3 inches).
    PublishScanner("seed=1,stall_read=40:200000");
    uint32_t imageLines = 0;
    ASSERT_NE(Start(Mode{"grey", ModeGray, 300}, &imageLines, 2700, 1200), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Clock::time_point begin = Clock::now();
    StopRecord stop{};
    EXPECT_NE(StopScan(&stop), 0);
    std::printf("stalled read: StopScan took %.1f ms at time scale %.3f\n", MsSince(begin),
                platform::TimeScale());
    EXPECT_EQ(TheDriver().Run.ReaderThread(), nullptr);
    EXPECT_EQ(TheDriver().Run.WorkingMemoryAllocated(), 0);
    // Ended by the stop, not by the block time-out or after the first wait.
    EXPECT_EQ(trace_.find("!WAIT_OBJECT_0"), std::string::npos);
    EXPECT_EQ(trace_.find("still running"), std::string::npos);
}

}  // namespace
}  // namespace b58

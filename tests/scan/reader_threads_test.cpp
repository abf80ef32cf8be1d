// The reader threads against a scanner published through the stand-in class
// driver, with the host side played by the line routines.
#include "scan/reader_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "contract/scanner_model.h"
#include "device/command_channel.h"
#include "device/device_discovery.h"
#include "device/image_reader.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "scan/join_repair.h"
#include "scan/line_routines.h"
#include "scan/scan_run.h"
#include "scan/scan_session.h"
#include "support/stream_scanner.h"

namespace b58 {
namespace {

constexpr char kInterfacePath[] =
    "\\\\?\\usb#vid_1a2b&pid_3c4d#5&2f0e&0&1#{"
    "6bdd1fc6-810f-11d0-bec7-08002be2092f}";

using testing::StreamByte;
using testing::StreamScanner;

class ReaderThreads : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetTimeScale(0.01);
        usbscan::WithdrawAll();
        usbscan::Publish({0, kInterfacePath, scanner_});
        device_ = OpenScannerByName();
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (thread_ != nullptr) {
            run_.RequestStop();
            EXPECT_TRUE(Ended(10000));
            CloseHandle(thread_);
        }
        run_.FreeMemory();
        CloseScanner(device_);
        usbscan::WithdrawAll();
        platform::SetTimeScale(1.0);
    }

    // Grey (or line-mode colour when `planes`) lines of `width` pixels, no join
    // repair.
    void Configure(bool planes, uint16_t width, uint16_t lines) {
        ASSERT_TRUE(run_.AllocateMemory(8, nullptr));
        session_.PixelFormatCode = planes ? 4 : 2;
        session_.DataWidth = 8;
        session_.SWWidth = width;
        session_.SWHeight = lines;
        session_.LinePixels = width;
        session_.LineBytes = planes ? width * 3 : width;
        session_.RXDPI = 0;
        session_.ColourLag = 0;
    }

    // The context lives in the fixture, beyond the thread.
    void Start(LPTHREAD_START_ROUTINE routine) {
        context_ = {.run = &run_,
                    .session = session_,
                    .device = device_,
                    .deviceKind = Model().connection.kind,
                    .channel = &channel_,
                    .imageReader = &imageReader_,
                    .directRead = directRead_};
        thread_ = CreateThread(nullptr, 0, routine, &context_, 0, nullptr);
        ASSERT_NE(thread_, nullptr);
    }
    // Whether the thread ends within `ms` milliseconds of real time (waits on
    // handles run under the time scale).
    bool Ended(int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Waits until every slot of `plane` is filed (the ring is full).
    bool RingFills(int plane) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            bool full = true;
            for (int slot = 0; slot < kRingSlots && full; ++slot) full = !run_.SlotFree(plane, slot);
            if (full) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    LineContext Lines() { return {run_, session_, noise_}; }

    std::shared_ptr<StreamScanner> scanner_ = std::make_shared<StreamScanner>();
    HANDLE device_ = INVALID_HANDLE_VALUE;
    ScanRun run_;
    ScanSession session_;
    JoinRandom noise_;
    CommandChannel channel_;
    ImageDataReader imageReader_;
    bool directRead_ = false;
    ReaderContext context_;
    HANDLE thread_ = nullptr;
};

// Converts `lines` grey lines and checks each continues the stream.
::testing::AssertionResult GreyLinesFollowTheStream(const LineContext& context, uint32_t lines,
                                                    uint32_t width) {
    std::vector<uint8_t> out(width);
    for (uint32_t k = 0; k < lines; ++k) {
        if (GrayLines(context, out.data()) != 1)
            return ::testing::AssertionFailure() << "line " << k << " failed";
        for (uint32_t p = 0; p < width; ++p)
            if (out[p] != StreamByte(uint64_t{k} * width + p))
                return ::testing::AssertionFailure() << "line " << k << " pixel " << p;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(ReaderThreads, AHostThatPausesLosesAndRepeatsNoLine) {
    Configure(false, 100, 2000);
    Start(PixelReader);
    ASSERT_TRUE(RingFills(0));
    EXPECT_FALSE(Ended(20));  // waiting for a free slot, not overwriting line 0
    EXPECT_EQ(run_.LineRing()[0], StreamByte(0));
    EXPECT_TRUE(GreyLinesFollowTheStream(Lines(), 2000, 100));
    EXPECT_TRUE(Ended(10000));
    EXPECT_FALSE(run_.ReaderFailed());
}

TEST_F(ReaderThreads, PlanesAreFilledRedGreenBlueAndSurviveAPause) {
    const uint16_t width = 40;
    Configure(true, width, 1500);
    Start(PlaneReader);
    ASSERT_TRUE(RingFills(2));
    EXPECT_FALSE(Ended(20));
    for (uint32_t k = 0; k < 3; ++k)
        for (int plane = 0; plane < 3; ++plane)
            EXPECT_EQ(run_.PlaneLines(plane, k)[0], StreamByte((3 * k + plane) * width)) << k << plane;
    std::vector<uint8_t> out(width * 3);
    for (uint32_t k = 0; k < 1500; ++k) {
        ASSERT_EQ(Color24LineModeLines(Lines(), out.data()), 1) << k;
        for (uint32_t p = 0; p < width; ++p)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(out[3 * p + c], StreamByte((3 * k + c) * width + p)) << k << " " << p << " " << c;
    }
    EXPECT_TRUE(Ended(10000));
}

TEST_F(ReaderThreads, LineModeScansOfMoreThan21845LinesKeepCounting) {
    // 3 x 30000 colour lines: beyond what a 16-bit colour-line counter can
    // number.
    const uint32_t lines = 30000;
    Configure(true, 1, static_cast<uint16_t>(lines));
    Start(PlaneReader);
    uint8_t out[3];
    for (uint32_t k = 0; k < lines; ++k) {
        ASSERT_EQ(Color24LineModeLines(Lines(), out), 1) << k;
        for (int c = 0; c < 3; ++c) ASSERT_EQ(out[c], StreamByte(3 * k + c)) << k << " " << c;
    }
    EXPECT_TRUE(Ended(10000));
    EXPECT_FALSE(run_.ReaderFailed());
}

TEST_F(ReaderThreads, StopEndsAReaderWaitingForAFreeSlot) {
    Configure(false, 64, 3000);
    Start(PixelReader);
    ASSERT_TRUE(RingFills(0));
    run_.RequestStop();
    ASSERT_TRUE(Ended(5000));
    EXPECT_FALSE(run_.ReaderFailed());
    // The reads it had in flight were ended with it: none can land once the
    // scan's memory goes.
    for (uint32_t i = 0; i < kImageReaderMaxSlots; ++i) {
        EXPECT_FALSE(imageReader_.State().SlotOutstanding[i]) << i;
        EXPECT_EQ(imageReader_.State().SlotBuffer[i], nullptr) << i;
    }
}

TEST_F(ReaderThreads, AReaderThatCannotStartFailsTheFirstLine) {
    Configure(false, 64, 0);  // nothing to read: the reader cannot be opened
    Start(PixelReader);
    EXPECT_TRUE(Ended(5000));
    EXPECT_TRUE(run_.ReaderFailed());
    std::vector<uint8_t> out(64);
    EXPECT_EQ(GrayLines(Lines(), out.data()), 0);
}

TEST_F(ReaderThreads, AFailedReadFailsTheScanInsteadOfFilingGarbage) {
    Configure(false, 100, 400);
    scanner_->failAt = 30720;  // the second block fails: line 307 onwards never arrives
    Start(PixelReader);
    EXPECT_TRUE(Ended(10000));
    EXPECT_TRUE(run_.ReaderFailed());
    EXPECT_TRUE(run_.SlotFree(0, 399));  // the line past the failure was never filed
    std::vector<uint8_t> out(100);
    EXPECT_EQ(GrayLines(Lines(), out.data()), 0);
}

TEST_F(ReaderThreads, DirectReadsFileEveryLineInOrder) {
    Configure(false, 64, 50);
    directRead_ = true;
    Start(PixelReader);
    EXPECT_TRUE(GreyLinesFollowTheStream(Lines(), 50, 64));
    EXPECT_TRUE(Ended(10000));
    EXPECT_FALSE(run_.ReaderFailed());
}

TEST(DirectReadPacing, PausesOnlyWithoutAPaceAndNeverWithoutALag) {
    EXPECT_TRUE(DirectReadPauseDue(0, 1, 0));
    EXPECT_TRUE(DirectReadPauseDue(7, 1, 0));
    EXPECT_FALSE(DirectReadPauseDue(7, 1, 3));
    EXPECT_FALSE(DirectReadPauseDue(7, 2, 0));
    EXPECT_TRUE(DirectReadPauseDue(8, 2, 0));
    EXPECT_FALSE(DirectReadPauseDue(0, 0, 0));
}

}  // namespace
}  // namespace b58

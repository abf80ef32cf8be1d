// Scans: the state machine from window to stop and the bulk stream it produces.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "controller_harness.h"
#include "platform/platform_control.h"
#include "sim/placeholder_stream.h"

namespace b58::sim {
namespace {

using namespace harness;
using usbscan::BulkStatus;
using namespace std::chrono_literals;

struct ReadResult {
    BulkStatus status;
    uint32_t transferred;
};

// Reads the stream in blocks until a read comes back short; returns everything read.
std::vector<uint8_t> ReadToEnd(VirtualScanner& scanner, uint32_t block) {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> buffer(block);
    for (;;) {
        uint32_t got = 0;
        EXPECT_EQ(scanner.BulkRead(buffer.data(), block, &got), BulkStatus::Ok);
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
        if (got < block) return bytes;
    }
}

// A read on another thread, to see whether it pends.
std::future<ReadResult> ReadAsync(VirtualScanner& scanner, uint8_t* buffer, uint32_t length) {
    return std::async(std::launch::async, [&scanner, buffer, length] {
        ReadResult result{BulkStatus::Failed, 99};
        result.status = scanner.BulkRead(buffer, length, &result.transferred);
        return result;
    });
}

bool Pends(std::future<ReadResult>& read) {
    return read.wait_for(50ms) == std::future_status::timeout;
}

struct LayoutCase {
    const char* name;
    bool colour;
    bool pixelMode;
    uint16_t dataWidth;
    uint32_t bytesPerScanLine;  // what the host reads per scan line, all planes
};

class ScanStream : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ScanStream, DeliversTheWindowsLinesPaddedToWholePackets) {
    const LayoutCase& c = GetParam();
    VirtualScanner scanner(Instant());
    WindowSpec shape;
    shape.colour = c.colour;
    shape.pixelMode = c.pixelMode;
    shape.dataWidth = c.dataWidth;
    shape.pixels = 302;
    shape.lines = 45;
    StartScan(scanner, shape);

    const std::vector<uint8_t> bytes = ReadToEnd(scanner, 30720);
    const uint64_t image = uint64_t{c.bytesPerScanLine} * 45;
    ASSERT_EQ(bytes.size(), (image + 63) / 64 * 64);
    for (uint64_t i = image; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0);

    const uint32_t sampleBytes = c.dataWidth > 8 ? 2 : 1;
    const uint32_t planes = c.colour ? 3 : 1;
    const uint32_t lineBytes = 302 * sampleBytes;
    for (uint32_t line : {0u, 21u, 44u}) {
        for (uint32_t plane = 0; plane < planes; ++plane) {
            for (uint32_t pixel : {0u, 100u, 301u}) {
                const uint64_t at = c.pixelMode
                                        ? line * c.bytesPerScanLine + (pixel * 3 + plane) * sampleBytes
                                        : (uint64_t{line} * planes + plane) * lineBytes + pixel * sampleBytes;
                EXPECT_EQ(bytes[at], PlaceholderSampleByte(line, plane, pixel))
                    << line << "/" << plane << "/" << pixel;
            }
        }
    }
    // After the end there is nothing more: a further read pends until it is cancelled.
    uint8_t more[64];
    auto read = ReadAsync(scanner, more, 64);
    EXPECT_TRUE(Pends(read));
    scanner.CancelBulk();
    EXPECT_EQ(read.get().status, BulkStatus::Cancelled);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ScanStream,
                         ::testing::Values(LayoutCase{"ColourPixelMode", true, true, 8, 302 * 3},
                                           LayoutCase{"ColourLineMode", true, false, 8, 302 * 3},
                                           LayoutCase{"Grey", false, false, 8, 302},
                                           LayoutCase{"Colour16", true, false, 16, 302 * 2 * 3}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ScanStateMachine, ReadsPendUntilStartAndHandshakeOrCancel) {
    VirtualScanner scanner(Instant());
    uint8_t buffer[1024];
    auto early = ReadAsync(scanner, buffer, sizeof buffer);
    EXPECT_TRUE(Pends(early));
    scanner.CancelBulk();
    const ReadResult cancelled = early.get();
    EXPECT_EQ(cancelled.status, BulkStatus::Cancelled);
    EXPECT_EQ(cancelled.transferred, 0u);

    // A read waiting before the start is served once the stream flows, not before the handshake.
    auto waiting = ReadAsync(scanner, buffer, sizeof buffer);
    ASSERT_EQ(Exchange(scanner, WindowPacket(WindowSpec{}))[0], kStatusDone);
    ASSERT_EQ(Exchange(scanner, MakePacket(kCmdStart))[0], kStatusDone);
    EXPECT_EQ(scanner.State().phase, ScanPhase::Started);
    EXPECT_TRUE(Pends(waiting));
    ASSERT_EQ(Exchange(scanner, MakePacket(kCmdHandshake))[0], kStatusDone);
    const ReadResult served = waiting.get();
    EXPECT_EQ(served.status, BulkStatus::Ok);
    EXPECT_EQ(served.transferred, sizeof buffer);
    EXPECT_EQ(buffer[3 * 7 + 1], PlaceholderSampleByte(0, 1, 7));
    EXPECT_EQ(scanner.State().phase, ScanPhase::Streaming);
}

TEST(ScanStateMachine, HandshakeRefusedTheGivenNumberOfTimes) {
    VirtualScanner scanner(Instant());
    scanner.ChangeFaults([](FaultConfig& f) { f.handshakeRefusals = 2; });
    ASSERT_EQ(Exchange(scanner, WindowPacket(WindowSpec{}))[0], kStatusDone);
    ASSERT_EQ(Exchange(scanner, MakePacket(kCmdStart))[0], kStatusDone);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdHandshake))[0], kStatusRefused);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdHandshake))[0], kStatusRefused);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdHandshake))[0], kStatusDone);
    EXPECT_EQ(scanner.State().phase, ScanPhase::Streaming);
}

TEST(ScanStateMachine, StopAbortsTheStreamAndFreesTheCarriage) {
    VirtualScanner scanner(Instant());
    WindowSpec shape;
    shape.startLine = 100;
    shape.hwHeight = 40;
    shape.pixels = 320;  // 19,200 bytes, whole packets
    StartScan(scanner, shape);
    Packet forward = MakePacket(kCmdMoveForward);
    PutWord(forward, 2, 10);
    EXPECT_EQ(Exchange(scanner, forward)[0], kStatusRefused);  // the scan holds the carriage

    std::vector<uint8_t> buffer(9600);
    uint32_t got = 0;
    ASSERT_EQ(scanner.BulkRead(buffer.data(), 9600, &got), BulkStatus::Ok);  // half the stream
    EXPECT_EQ(scanner.State().carriagePosition, 120u);
    EXPECT_EQ(ExchangeShort(scanner, kCmdStop)[0], kStatusDone);
    EXPECT_EQ(scanner.State().phase, ScanPhase::Idle);
    EXPECT_EQ(scanner.State().carriagePosition, 120u);

    auto read = ReadAsync(scanner, buffer.data(), 9600);
    EXPECT_TRUE(Pends(read));
    scanner.CancelBulk();
    EXPECT_EQ(read.get().status, BulkStatus::Cancelled);
    EXPECT_EQ(Exchange(scanner, forward)[0], kStatusDone);
    EXPECT_EQ(scanner.State().carriagePosition, 130u);
}

TEST(ScanStateMachine, StartDuringAScanBeginsAfresh) {
    VirtualScanner scanner(Instant());
    StartScan(scanner, WindowSpec{});
    std::vector<uint8_t> buffer(1000);
    uint32_t got = 0;
    ASSERT_EQ(scanner.BulkRead(buffer.data(), 1000, &got), BulkStatus::Ok);
    ASSERT_EQ(Exchange(scanner, MakePacket(kCmdStart))[0], kStatusDone);
    ASSERT_EQ(Exchange(scanner, MakePacket(kCmdHandshake))[0], kStatusDone);
    const std::vector<uint8_t> all = ReadToEnd(scanner, 30720);
    EXPECT_EQ(all.size(), 18048u);  // the whole stream of 18,000 bytes, padded
    EXPECT_EQ(all[0], PlaceholderSampleByte(0, 0, 0));
}

TEST(ScanStateMachine, FinishedScanLeavesTheCarriageAtTheWindowsEnd) {
    VirtualScanner scanner(Instant());
    WindowSpec shape;
    shape.startLine = 0xFFFB;  // five lines before home, as a 16-bit value
    shape.hwHeight = 40;
    StartScan(scanner, shape);
    ReadToEnd(scanner, 30720);
    EXPECT_EQ(scanner.State().carriagePosition, 40u);
    Packet forward = MakePacket(kCmdMoveForward);
    PutWord(forward, 2, 1);
    EXPECT_EQ(Exchange(scanner, forward)[0], kStatusDone);  // a delivered stream no longer holds it
}

TEST(ScanFaults, StreamEndsEarlyWithAShortRead) {
    VirtualScanner scanner(Instant());
    scanner.ChangeFaults([](FaultConfig& f) { f.streamEndAfter = 5000; });
    StartScan(scanner, WindowSpec{});
    std::vector<uint8_t> buffer(4096);
    uint32_t got = 0;
    ASSERT_EQ(scanner.BulkRead(buffer.data(), 4096, &got), BulkStatus::Ok);
    EXPECT_EQ(got, 4096u);
    ASSERT_EQ(scanner.BulkRead(buffer.data(), 4096, &got), BulkStatus::Ok);
    EXPECT_EQ(got, 904u);
}

TEST(ScanFaults, FailedAndUnpluggedReads) {
    VirtualScanner scanner(Instant());
    scanner.ChangeFaults([](FaultConfig& f) { f.failBulkReads = 1; });
    StartScan(scanner, WindowSpec{});
    uint8_t buffer[512];
    uint32_t got = 7;
    EXPECT_EQ(scanner.BulkRead(buffer, 512, &got), BulkStatus::Failed);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(scanner.BulkRead(buffer, 512, &got), BulkStatus::Ok);

    ExchangeShort(scanner, kCmdStop);
    auto read = ReadAsync(scanner, buffer, 512);
    EXPECT_TRUE(Pends(read));
    scanner.Unplug();
    EXPECT_EQ(read.get().status, BulkStatus::Failed);
}

class ScanTiming : public ::testing::Test {
  protected:
    void TearDown() override { platform::SetTimeScale(1.0); }
};

TEST_F(ScanTiming, StalledReadOutlastsTheBlockLimitUnderTheTimeScale) {
    platform::SetTimeScale(0.01);  // the 30 s limit becomes 300 ms, the 35 s stall 350 ms
    VirtualScanner scanner(Instant());
    scanner.ChangeFaults([](FaultConfig& f) { f.stallRead = 2; });
    StartScan(scanner, WindowSpec{});
    uint8_t buffer[512];
    uint32_t got = 0;
    ASSERT_EQ(scanner.BulkRead(buffer, 512, &got), BulkStatus::Ok);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(scanner.BulkRead(buffer, 512, &got), BulkStatus::Ok);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 300ms);
    EXPECT_EQ(got, 512u);
}

TEST_F(ScanTiming, DataRateAndStartTimePaceTheStream) {
    platform::SetTimeScale(1.0);
    ScannerConfig config = Instant();
    config.time.startMs = 50;
    config.time.bytesPerSecond = 1'000'000;
    VirtualScanner scanner(config);
    WindowSpec shape;
    shape.lines = 100;  // 90,000 bytes: 90 ms at 1 MB/s
    const auto begin = std::chrono::steady_clock::now();
    StartScan(scanner, shape);
    EXPECT_EQ(ReadToEnd(scanner, 30720).size(), 90'048u);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 120ms);
}

TEST_F(ScanTiming, StartTimeDelaysTheFirstDataWithoutARateLimit) {
    platform::SetTimeScale(1.0);
    ScannerConfig config = Instant();
    config.time.startMs = 60;
    VirtualScanner scanner(config);
    const auto begin = std::chrono::steady_clock::now();
    StartScan(scanner, WindowSpec{});
    EXPECT_EQ(ReadToEnd(scanner, 30720).size(), 18048u);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 50ms);
}

TEST_F(ScanTiming, CancelReachesAStalledRead) {
    platform::SetTimeScale(1.0);
    VirtualScanner scanner(Instant());
    scanner.ChangeFaults([](FaultConfig& f) { f.stallRead = 1; });
    StartScan(scanner, WindowSpec{});
    uint8_t buffer[512];
    auto read = ReadAsync(scanner, buffer, 512);
    EXPECT_TRUE(Pends(read));
    scanner.CancelBulk();
    EXPECT_EQ(read.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read.get().status, BulkStatus::Cancelled);
}

// The threads the driver uses: commands from the host thread, reads from a worker, a cancel
// from a third. Run under the thread sanitizer this checks the locking.
TEST(ScanConcurrency, HostWorkerAndCancelThreadsMeet) {
    ScannerConfig config = Instant();
    config.time.bytesPerSecond = 50'000'000;
    VirtualScanner scanner(config);
    for (int round = 0; round < 3; ++round) {
        WindowSpec shape;
        shape.lines = 400;
        StartScan(scanner, shape);
        std::atomic<uint64_t> received{0};
        std::atomic<bool> workerDone{false};
        std::thread worker([&] {
            std::vector<uint8_t> buffer(30720);
            uint32_t got = 0;
            while (scanner.BulkRead(buffer.data(), 30720, &got) == BulkStatus::Ok) received += got;
            workerDone = true;
        });
        while (received.load() < 100'000) {
            Exchange(scanner, MakePacket(kCmdStatus));
            (void)scanner.State();
        }
        ExchangeShort(scanner, kCmdStop);
        // The worker's next read pends after the stop; cancel until it has seen a cancel.
        std::thread canceller([&] {
            while (!workerDone.load()) {
                scanner.CancelBulk();
                std::this_thread::sleep_for(1ms);
            }
        });
        worker.join();
        canceller.join();
        EXPECT_GE(received.load(), 100'000u);
    }
}

}  // namespace
}  // namespace b58::sim

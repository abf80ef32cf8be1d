// Commands that set the controller up or ask it something: AFE, lamps, key, carriage and the
// busy status, and the scan window.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "controller_harness.h"
#include "platform/platform_control.h"

namespace b58::sim {
namespace {

using namespace harness;

TEST(ControllerCommands, AfeCodesAreKeptAsSent) {
    VirtualScanner scanner(Instant());
    Packet afe = MakePacket(kCmdAfe);
    const uint8_t codes[6] = {10, 63, 20, 44, 30, 0};  // offset and gain per colour
    std::memcpy(afe.data() + 2, codes, 6);
    EXPECT_EQ(Exchange(scanner, afe)[0], kStatusDone);
    AfeSettings kept = scanner.State().afe;
    EXPECT_EQ(kept.offset[0], 10);
    EXPECT_EQ(kept.gain[0], 63);
    EXPECT_EQ(kept.offset[1], 20);
    EXPECT_EQ(kept.gain[1], 44);
    EXPECT_EQ(kept.offset[2], 30);
    EXPECT_EQ(kept.gain[2], 0);

    afe[6] = 64;  // blue offset beyond six bits
    EXPECT_EQ(Exchange(scanner, afe)[0], kStatusBadParameter);
    EXPECT_EQ(scanner.State().afe.offset[2], 30);
}

TEST(ControllerCommands, LampMaskSwitchesTheLamps) {
    VirtualScanner scanner(Instant());
    Packet lamp = MakePacket(kCmdLamp);
    lamp[2] = kLampFlatbed | kLampTa;
    EXPECT_EQ(Exchange(scanner, lamp)[0], kStatusDone);
    EXPECT_EQ(scanner.State().lamps, 3);
    lamp[2] = 0;
    EXPECT_EQ(Exchange(scanner, lamp)[0], kStatusDone);
    EXPECT_EQ(scanner.State().lamps, 0);
    lamp[2] = 4;
    EXPECT_EQ(Exchange(scanner, lamp)[0], kStatusBadParameter);
}

TEST(ControllerCommands, KeyPressIsReportedOnce) {
    VirtualScanner scanner(Instant());
    EXPECT_EQ(ExchangeShort(scanner, kCmdKey)[2], 0);
    scanner.PressKey();
    EXPECT_EQ(ExchangeShort(scanner, kCmdKey)[2], 1);
    EXPECT_EQ(ExchangeShort(scanner, kCmdKey)[2], 0);
}

// Polls the status query like the host's ready wait; returns the number of polls that
// answered busy, and the last busy code seen.
int PollsUntilIdle(VirtualScanner& scanner, uint8_t* busyCode) {
    int polls = 0;
    for (;;) {
        const Packet status = Exchange(scanner, MakePacket(kCmdStatus));
        if (status[3] != 1 && status[3] != 3) return polls;
        *busyCode = status[3];
        ++polls;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

class ControllerTiming : public ::testing::Test {
  protected:
    void TearDown() override { platform::SetTimeScale(1.0); }
};

TEST_F(ControllerTiming, CarriageMovesKeepTheControllerBusy) {
    platform::SetTimeScale(1.0);
    ScannerConfig config = Instant();
    config.time.stepUs = 1000;  // 1 ms per step
    VirtualScanner scanner(config);

    Packet forward = MakePacket(kCmdMoveForward);
    PutWord(forward, 2, 300);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(scanner, forward)[0], kStatusDone);
    EXPECT_EQ(scanner.State().carriagePosition, 300u);
    uint8_t code = 0;
    EXPECT_GT(PollsUntilIdle(scanner, &code), 0);
    EXPECT_EQ(code, kBusyMotor);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(250));

    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdHome))[0], kStatusDone);
    EXPECT_EQ(scanner.State().carriagePosition, 0u);
    EXPECT_TRUE(scanner.State().busy);
    PollsUntilIdle(scanner, &code);
    // Home from home costs nothing.
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdHome))[0], kStatusDone);
    EXPECT_FALSE(scanner.State().busy);
}

TEST_F(ControllerTiming, BusyTimesFollowTheTimeScale) {
    platform::SetTimeScale(0.001);
    ScannerConfig config = Instant();
    config.time.stepUs = 1000;
    VirtualScanner scanner(config);
    Packet forward = MakePacket(kCmdMoveForward);
    PutWord(forward, 2, 60000);  // a minute at full scale, 60 ms here
    Exchange(scanner, forward);
    const auto begin = std::chrono::steady_clock::now();
    uint8_t code = 0;
    PollsUntilIdle(scanner, &code);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
}

TEST_F(ControllerTiming, BusyFaultReportsPreparingForItsTime) {
    platform::SetTimeScale(1.0);
    VirtualScanner scanner(Instant());
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdStatus))[3], kIdle);
    scanner.ChangeFaults([](FaultConfig& f) { f.busyMs = 60; });
    uint8_t code = 0;
    EXPECT_GT(PollsUntilIdle(scanner, &code), 0);
    EXPECT_EQ(code, kBusyPreparing);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdStatus))[3], kIdle);  // once only
}

TEST(ControllerCommands, WindowIsDecodedOrRefusedKeepingTheLastGoodOne) {
    VirtualScanner scanner(Instant());
    WindowSpec shape;
    shape.startLine = 250;
    shape.lines = 33;
    EXPECT_EQ(Exchange(scanner, WindowPacket(shape))[0], kStatusDone);
    std::optional<ScanWindow> window = scanner.State().window;
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->startLine, 250);
    EXPECT_EQ(window->linesToDeliver, 33);
    EXPECT_EQ(window->lineBytes, 300);
    EXPECT_TRUE(window->Colour());
    EXPECT_TRUE(window->PixelMode());

    Packet bad = WindowPacket(shape);
    PutWord(bad, 8, 0);  // no width
    PutWord(bad, 18, 99);
    EXPECT_EQ(Exchange(scanner, bad)[0], kStatusBadParameter);
    EXPECT_EQ(scanner.State().window->linesToDeliver, 33);
    EXPECT_FALSE(scanner.State().lastWindowProblem.empty());
}

TEST(ControllerCommands, ScanCommandsOutOfOrderAreRefused) {
    VirtualScanner scanner(Instant());
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdHandshake))[0], kStatusRefused);  // nothing started
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdStart))[0], kStatusRefused);      // no window
    EXPECT_EQ(ExchangeShort(scanner, kCmdStop)[0], kStatusDone);                 // stopping nothing is fine
    EXPECT_EQ(scanner.State().phase, ScanPhase::Idle);
}

}  // namespace
}  // namespace b58::sim

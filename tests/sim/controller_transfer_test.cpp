// The controller's transfers: packets and replies in both forms, controller memory and the
// firmware boot, and the faults that act on transfers.
#include <gtest/gtest.h>

#include "controller_harness.h"

namespace b58::sim {
namespace {

using namespace harness;

TEST(ControllerTransfers, FullFormRepliesCarryTheCommandsData) {
    ScannerConfig config = Instant();
    config.identity = {0x1234, 0x5678, 0x9A1A, 0xBCDE, 0x01020304};
    config.feature = 1;
    VirtualScanner scanner(config);

    const Packet id = Exchange(scanner, MakePacket(kCmdIdentity));
    EXPECT_EQ(id[0], kStatusDone);
    const uint8_t expected[] = {0x34, 0x12, 0x78, 0x56, 0x1A, 0x9A, 0xDE, 0xBC, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(0, std::memcmp(id.data() + 2, expected, sizeof expected));
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdFeature))[8], 1);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdLampPower))[2], 1);
    // The reply stays readable until the next command.
    EXPECT_EQ(ReadReply(scanner)[2], 1);
    EXPECT_EQ(ReadReply(scanner, true)[2], 1);
}

TEST(ControllerTransfers, ShortFormIsEightBytesEightTimes) {
    VirtualScanner scanner(Instant());
    const Packet state = ExchangeShort(scanner, kCmdFirmwareState);
    EXPECT_EQ(state[0], kStatusDone);
    EXPECT_EQ(state[2], kFirmwareRunning);
    for (size_t i = 8; i < state.size(); ++i) EXPECT_EQ(state[i], 0) << i;  // only 8 bytes came back

    // Copies that differ are not taken as a command.
    Packet block{};
    for (size_t i = 0; i < block.size(); i += 8) block[i] = kCmdKey, block[i + 1] = 1;
    block[61] = 0x10;
    ASSERT_TRUE(
        scanner.ControlOut(MakeSetup(kRequestTypeOut, kValueShortCommand, kIndexCommand, 64), block.data()));
    EXPECT_EQ(ReadReply(scanner, true)[0], kStatusBadPacket);
    EXPECT_EQ(scanner.ExecutedCount(kCmdKey), 0u);
}

TEST(ControllerTransfers, MalformedPacketsAreAnsweredNotExecuted) {
    VirtualScanner scanner(Instant());
    Packet noOne = MakePacket(kCmdFeature);
    noOne[1] = 0;
    EXPECT_EQ(Exchange(scanner, noOne)[0], kStatusBadPacket);
    EXPECT_TRUE(WriteFull(scanner, MakePacket(kCmdStop)));  // a short-form command sent in full
    EXPECT_EQ(ReadReply(scanner)[0], kStatusBadPacket);
    EXPECT_TRUE(WriteShort(scanner, MakePacket(kCmdFeature)));  // and the other way round
    EXPECT_EQ(ReadReply(scanner, true)[0], kStatusBadPacket);
    EXPECT_EQ(Exchange(scanner, MakePacket(0x99))[0], kStatusUnknownCommand);
    EXPECT_EQ(scanner.ExecutedCount(kCmdFeature), 0u);
    EXPECT_EQ(scanner.ExecutedCount(kCmdStop), 0u);
}

TEST(ControllerTransfers, ReplyBeforeAnyCommandSaysSo) {
    VirtualScanner scanner(Instant());
    EXPECT_EQ(ReadReply(scanner)[0], kStatusNoCommand);
    EXPECT_EQ(ReadReply(scanner, true)[0], kStatusNoCommand);
}

TEST(ControllerTransfers, TransfersTheControllerDoesNotKnowFail) {
    VirtualScanner scanner(Instant());
    Packet packet = MakePacket(kCmdFeature);
    uint8_t buffer[64] = {};
    uint32_t got = 99;
    auto setup = MakeSetup(kRequestTypeOut, kValueCommand, kIndexCommand, 64);
    setup.bRequest = kRequestSingle;
    EXPECT_FALSE(scanner.ControlOut(setup, packet.data()));
    EXPECT_FALSE(
        scanner.ControlOut(MakeSetup(kRequestTypeOut, kValueCommand, kIndexReply, 64), packet.data()));
    EXPECT_FALSE(
        scanner.ControlOut(MakeSetup(kRequestTypeOut, kValueCommand, kIndexCommand, 26), packet.data()));
    EXPECT_FALSE(
        scanner.ControlOut(MakeSetup(kRequestTypeIn, kValueCommand, kIndexCommand, 64), packet.data()));
    EXPECT_FALSE(scanner.ControlOut(MakeSetup(kRequestTypeOut, 0x2099, kIndexCommand, 64), packet.data()));
    EXPECT_FALSE(scanner.ControlIn(MakeSetup(kRequestTypeIn, kValueReply, kIndexCommand, 64), buffer, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(scanner.ExecutedCount(kCmdFeature), 0u);
}

TEST(ControllerTransfers, NotTakenRepliesThenTheCommandRunsOnce) {
    VirtualScanner scanner(Instant());
    scanner.ChangeFaults([](FaultConfig& f) { f.notTaken = 3; });
    Packet lamp = MakePacket(kCmdLamp);
    lamp[2] = kLampFlatbed;
    int sends = 0;
    Packet reply{};
    do {
        reply = Exchange(scanner, lamp);
        ++sends;
    } while (reply[0] == kStatusNotTaken && sends < 10);
    EXPECT_EQ(sends, 4);
    EXPECT_EQ(reply[0], kStatusDone);
    EXPECT_EQ(scanner.ExecutedCount(kCmdLamp), 1u);
    EXPECT_EQ(scanner.State().lamps, kLampFlatbed);
}

TEST(ControllerTransfers, FailingCommandAnswersItsStatus) {
    VirtualScanner scanner(Instant());
    scanner.ChangeFaults([](FaultConfig& f) { f.failCommand[kCmdIdentity] = 5; });
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdIdentity))[0], 5);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdFeature))[0], kStatusDone);
    scanner.ChangeFaults([](FaultConfig& f) { f.failCommand.clear(); });
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdIdentity))[0], kStatusDone);
}

TEST(ControllerTransfers, FailingTransfersAndUnplug) {
    VirtualScanner scanner(Instant());
    scanner.ChangeFaults([](FaultConfig& f) { f.failTransfers = 2; });
    EXPECT_FALSE(WriteFull(scanner, MakePacket(kCmdFeature)));
    uint8_t reply[64];
    uint32_t got = 0;
    EXPECT_FALSE(scanner.ControlIn(MakeSetup(kRequestTypeIn, kValueReply, kIndexReply, 64), reply, &got));
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdFeature))[0], kStatusDone);

    scanner.ChangeFaults([](FaultConfig& f) { f.failAllTransfers = true; });
    EXPECT_FALSE(WriteFull(scanner, MakePacket(kCmdFeature)));
    scanner.ChangeFaults([](FaultConfig& f) { f.failAllTransfers = false; });

    scanner.ChangeFaults([](FaultConfig& f) { f.unplugAfter = 2; });
    EXPECT_TRUE(WriteFull(scanner, MakePacket(kCmdFeature)));
    EXPECT_TRUE(scanner.ControlIn(MakeSetup(kRequestTypeIn, kValueReply, kIndexReply, 64), reply, &got));
    EXPECT_FALSE(WriteFull(scanner, MakePacket(kCmdFeature)));
    EXPECT_TRUE(scanner.State().unplugged);
    EXPECT_FALSE(scanner.ControlIn(MakeSetup(kRequestTypeIn, kValueReply, kIndexReply, 64), reply, &got));
    EXPECT_FALSE(ReadMemory(scanner, 0, reply));
    EXPECT_EQ(scanner.BulkRead(reply, 64, &got), usbscan::BulkStatus::Failed);
}

TEST(ControllerMemory, BlocksReadBackAsWrittenWithinSixteenKilobytes) {
    VirtualScanner scanner(Instant(false));
    uint8_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<uint8_t>(i * 3);
    ASSERT_TRUE(WriteMemory(scanner, 16384 - 64, block));
    uint8_t back[64] = {};
    ASSERT_TRUE(ReadMemory(scanner, 16384 - 64, back));
    EXPECT_EQ(0, std::memcmp(block, back, 64));
    EXPECT_FALSE(WriteMemory(scanner, 16384 - 32, block));  // beyond the memory
    EXPECT_FALSE(ReadMemory(scanner, 16384 - 32, back));
    EXPECT_FALSE(WriteMemory(scanner, 0, block, 128));  // more than one block
}

TEST(ControllerMemory, ChosenBlockReadsBackWrong) {
    VirtualScanner scanner(Instant(false));
    scanner.ChangeFaults([](FaultConfig& f) {
        f.badReadBackBlock = 3;
        f.badReadBackTimes = 1;
    });
    const std::vector<uint8_t> image = BuildFirmwareImage();
    uint8_t back[64];
    WriteMemory(scanner, 128, image.data() + 128);
    ASSERT_TRUE(ReadMemory(scanner, 128, back));
    EXPECT_EQ(0, std::memcmp(back, image.data() + 128, 64));  // block 2 is fine
    EXPECT_EQ(Download(scanner, image), -1);                  // block 3 is not
    EXPECT_EQ(scanner.Memory()[3 * 64], image[3 * 64]);       // only the read-back was wrong
    EXPECT_FALSE(scanner.State().firmwareRunning);
    EXPECT_EQ(Download(scanner, image), kStatusDone);  // the fault was for one read
}

TEST(ControllerFirmware, PowerOnNeedsADownloadBeforeCommandsWork) {
    VirtualScanner scanner(Instant(false));
    EXPECT_EQ(ExchangeShort(scanner, kCmdFirmwareState)[2], kFirmwareAbsent);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdStatus))[0], kStatusNoFirmware);
    EXPECT_EQ(ExchangeShort(scanner, kCmdKey)[0], kStatusNoFirmware);

    // Written but never completed: still nothing runs.
    const std::vector<uint8_t> image = BuildFirmwareImage();
    for (size_t at = 0; at < image.size(); at += 64)
        WriteMemory(scanner, static_cast<uint16_t>(at), image.data() + at);
    EXPECT_EQ(ExchangeShort(scanner, kCmdFirmwareState)[2], kFirmwareAbsent);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdFeature))[0], kStatusNoFirmware);

    EXPECT_EQ(Download(scanner, image), kStatusDone);
    EXPECT_EQ(ExchangeShort(scanner, kCmdFirmwareState)[2], kFirmwareRunning);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdStatus))[0], kStatusDone);
    EXPECT_EQ(scanner.State().lastDownload, FirmwareCheck::Ok);
}

TEST(ControllerFirmware, CorruptedImageDoesNotRunAndStopsRunningFirmware) {
    VirtualScanner scanner(Instant(true));
    std::vector<uint8_t> image = BuildFirmwareImage();
    image[4000] ^= 0x04;
    EXPECT_EQ(Download(scanner, image), kStatusBadImage);
    EXPECT_EQ(ExchangeShort(scanner, kCmdFirmwareState)[2], kFirmwareAbsent);
    EXPECT_EQ(scanner.State().lastDownload, FirmwareCheck::BadChecksum);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdFeature))[0], kStatusNoFirmware);

    // A count that leaves out the end of the image.
    image = BuildFirmwareImage();
    EXPECT_EQ(Download(scanner, image), kStatusDone);
    Packet complete = MakePacket(kCmdDownloadComplete);
    PutWord(complete, 2, 4096);
    EXPECT_EQ(Exchange(scanner, complete)[0], kStatusBadImage);
    EXPECT_EQ(scanner.State().lastDownload, FirmwareCheck::Truncated);
}

TEST(ControllerFirmware, RestartClearsTheScanSetUp) {
    VirtualScanner scanner(Instant(true));
    StartScan(scanner, WindowSpec{});
    EXPECT_EQ(Download(scanner, BuildFirmwareImage()), kStatusDone);
    const ControllerState state = scanner.State();
    EXPECT_EQ(state.phase, ScanPhase::Idle);
    EXPECT_FALSE(state.window.has_value());
    EXPECT_EQ(state.lamps, 0);
    EXPECT_EQ(Exchange(scanner, MakePacket(kCmdStart))[0], kStatusRefused);
}

}  // namespace
}  // namespace b58::sim

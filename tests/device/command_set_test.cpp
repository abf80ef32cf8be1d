#include "device/command_set.h"

#include <gtest/gtest.h>

#include "device/command_transport.h"
#include "device/device_fixture.h"

namespace b58 {
namespace {

using testing::Bytes;
using CommandSetTest = testing::DeviceTest;

Bytes LastCommand(const testing::ScriptedController& controller) {
    auto written = controller.Written(0x2010);
    return written.empty() ? Bytes{} : written.back();
}

TEST_F(CommandSetTest, AfeGainsAreMappedAndTheStartCommandCarriesTheirLeftovers) {
    ASSERT_EQ(SetAFEParameters(nullptr, 0, Link(), {10, 31, 20, 32, 30, 52}), 1);
    Bytes afe = LastCommand(*controller_);
    const Bytes expectedAfe = {0x22, 1, 10, 31, 20, 44, 30, 63};
    EXPECT_EQ(Bytes(afe.begin(), afe.begin() + 8), expectedAfe);
    for (size_t i = 8; i < 64; ++i) EXPECT_EQ(afe[i], 0) << i;

    ASSERT_EQ(SetAFEParameters(nullptr, 0, Link(), {1, 51, 2, 63, 3, 0}), 1);
    afe = LastCommand(*controller_);
    EXPECT_EQ(afe[3], 63);
    EXPECT_EQ(afe[5], 63);
    EXPECT_EQ(afe[7], 0);

    ASSERT_EQ(ProcessCommandSetStartScan(nullptr, 0, Link()), 1);
    const Bytes start = LastCommand(*controller_);
    const Bytes expectedStart = {0x43, 1, 1, 63, 0};
    EXPECT_EQ(Bytes(start.begin(), start.begin() + 5),
              expectedStart);  // red offset and gain as sent
}

TEST_F(CommandSetTest, IdentityQuerySendsTwelveBytesAndReadsFiveValues) {
    ScanWindowParameters window;
    window.myStarty = 0x0302;
    window.HWHeight = 0x0504;
    window.myStartx = 0x0706;
    window.HWWidth = 0x0908;
    window.PixelFormatCode = 2;
    window.DataWidth = 8;
    window.InterfaceType = 4;
    ASSERT_EQ(ProcessCommandSetScanWindowN(nullptr, 0, Link(), window), 1);
    const Bytes sentWindow = LastCommand(*controller_);
    for (size_t i = 26; i < 64; ++i) EXPECT_EQ(sentWindow[i], 0) << i;

    controller_->QueueReply({0, 0, 0x34, 0x12, 0x78, 0x56, 0xCD, 0xAB, 0x01, 0xEF, 0x44, 0x33, 0x22, 0x11});
    ScannerIdentity ids;
    ASSERT_EQ(ProcessCommandGetAllID(nullptr, 0, Link(), &ids), 1);
    EXPECT_EQ(ids.id1, 0x1234);
    EXPECT_EQ(ids.id2, 0x5678);
    EXPECT_EQ(ids.id3, 0xABCD);
    EXPECT_EQ(ids.id4, 0xEF01);
    EXPECT_EQ(ids.id5, 0x11223344u);

    const Bytes query = LastCommand(*controller_);
    EXPECT_EQ(query[0], 0x2E);
    EXPECT_EQ(Bytes(query.begin() + 2, query.begin() + 12),
              Bytes(sentWindow.begin() + 2, sentWindow.begin() + 12));
    for (size_t i = 12; i < 64; ++i) EXPECT_EQ(query[i], 0) << i;
}

TEST_F(CommandSetTest, ARefusedCommandFailsAndLeavesTheResultsAlone) {
    controller_->QueueReply({2, 0, 0x34, 0x12});
    ScannerIdentity ids{7, 7, 7, 7, 7};
    EXPECT_EQ(ProcessCommandGetAllID(nullptr, 0, Link(), &ids), 0);
    EXPECT_EQ(ids.id1 + ids.id2 + ids.id3 + ids.id4 + ids.id5, 35u);

    // Status 5 is a delivered reply at the transport, a failure for the command.
    controller_->QueueReply({5});
    uint8_t result[58];
    std::memset(result, 0xEE, sizeof result);
    const uint8_t lamp[58] = {1};
    EXPECT_EQ(ProcessCommandMiscControl(nullptr, 0, Link(), 0x25, lamp, result), 0);
    EXPECT_EQ(result[0], 0xEE);

    // A reply read that brings no byte back is no "status 0".
    controller_->QueueReply({});
    EXPECT_EQ(ProcessCommandSetStartScan(nullptr, 0, Link()), 0);
}

TEST_F(CommandSetTest, FailuresAreShownOnlyInReportModesOneAndTwo) {
    CaptureTrace();
    controller_->SetDefaultReply({3});
    EXPECT_EQ(ProcessCommandSetStartScan(nullptr, 0, Link()), 0);
    EXPECT_EQ(ProcessCommandSetAFEGain(nullptr, 3, Link(), {0, 0, 0, 0, 0, 0}), 0);
    EXPECT_EQ(trace_, "");
    EXPECT_EQ(ProcessCommandSetAFEGain(nullptr, 1, Link(), {0, 0, 0, 0, 0, 0}), 0);
    EXPECT_NE(trace_.find("TUVO.LIB: ProcessCommandSetAFEGain() Fail!"), std::string::npos) << trace_;
    trace_.clear();
    EXPECT_EQ(ProcessCommandSendUserCommand(nullptr, 2, Link(), {0x15, nullptr, 0, nullptr, 0}), 0);
    EXPECT_NE(trace_.find("TUVO.LIB: ProcessCommandSendUserCommand() Fail!"), std::string::npos) << trace_;
}

TEST_F(CommandSetTest, MiscControlCarriesFiftyEightBytesEachWay) {
    uint8_t data[58];
    for (int i = 0; i < 58; ++i) data[i] = static_cast<uint8_t>(i + 1);
    Bytes reply(64);
    for (int i = 0; i < 64; ++i) reply[i] = static_cast<uint8_t>(0x80 + i);
    reply[0] = 0;
    controller_->QueueReply(reply);
    uint8_t result[58] = {};
    ASSERT_EQ(ProcessCommandMiscControl(nullptr, 0, Link(), 0x3F, data, result), 1);

    const Bytes sent = LastCommand(*controller_);
    EXPECT_EQ(sent[0], 0x3F);
    EXPECT_EQ(Bytes(sent.begin() + 2, sent.begin() + 60), Bytes(data, data + 58));
    for (size_t i = 60; i < 64; ++i) EXPECT_EQ(sent[i], 0) << i;
    EXPECT_EQ(Bytes(result, result + 58), Bytes(reply.begin() + 2, reply.begin() + 60));
}

TEST_F(CommandSetTest, UserCommandCutsItsDataAndCopiesTheReplyFromByteOne) {
    uint8_t data[80];
    for (int i = 0; i < 80; ++i) data[i] = static_cast<uint8_t>(i + 1);
    Bytes reply = {0, 0x11, 0x22, 0x33, 0x44};
    controller_->QueueReply(reply);
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(ProcessCommandSendUserCommand(nullptr, 0, Link(), {0x15, data, 80, out, 3}), 1);
    const Bytes sent = LastCommand(*controller_);
    EXPECT_EQ(sent[0], 0x15);
    EXPECT_EQ(Bytes(sent.begin() + 2, sent.end()), Bytes(data, data + 62));
    EXPECT_EQ(out[0], 0x11);
    EXPECT_EQ(out[1], 0x22);
    EXPECT_EQ(out[2], 0xEE);

    controller_->QueueReply(reply);
    ASSERT_EQ(ProcessCommandSendUserCommand(nullptr, 0, Link(), {0x15, nullptr, 64, out, 1}), 1);
    EXPECT_EQ(out[0], 0x11);  // a reply size of 1 copies nothing
}

Bytes StatusReply(uint8_t busyByte) {
    Bytes reply(64, 0);
    reply[3] = busyByte;
    return reply;
}

TEST_F(CommandSetTest, ReadyWaitPollsWhileTheControllerIsBusy) {
    for (uint8_t busy : {1, 3, 1}) controller_->QueueReply(StatusReply(busy));
    controller_->QueueReply(StatusReply(2));
    EXPECT_EQ(WaitScannerReady(device_), 1);
    const auto queries = controller_->Written(0x2010);
    ASSERT_EQ(queries.size(), 4u);
    EXPECT_EQ(queries[0][0], 0x17);

    controller_->FailIn(true);  // a failed query ends the wait at once with its result
    EXPECT_EQ(WaitScannerReady(device_), 0);
    EXPECT_EQ(controller_->Written(0x2010).size(), 5u);
}

TEST_F(CommandSetTest, ReadyWaitGivesUpOnAControllerThatStaysBusy) {
    platform::SetTimeScale(0.0001);
    CaptureTrace();
    controller_->SetDefaultReply(StatusReply(3));
    EXPECT_EQ(WaitScannerReady(device_), 0);
    EXPECT_EQ(controller_->Count(0x2010, false), 1 + kReadyWaitPolls);
    EXPECT_NE(trace_.find("WaitScannerReady gives up"), std::string::npos);
}

TEST_F(CommandSetTest, DataHandshakeRepeatsUntilTaken) {
    channel_.Command()[40] = 0x4D;  // left from an earlier command
    controller_->QueueStatus(2, 2);
    EXPECT_EQ(WaitScanData(nullptr, Link()), 1);
    const auto handshakes = controller_->Written(0x2010);
    ASSERT_EQ(handshakes.size(), 3u);
    for (const Bytes& packet : handshakes) {
        EXPECT_EQ(packet[0], 0x35);
        EXPECT_EQ(packet[40], 0x4D);
    }
}

TEST_F(CommandSetTest, DataHandshakeGivesUpOnADeadScanner) {
    platform::SetTimeScale(0.0001);
    controller_->SetDefaultReply({2});
    EXPECT_EQ(WaitScanData(nullptr, Link()), 0);
    EXPECT_EQ(controller_->Count(0x2010, false), 1 + kScanDataWaitAttempts);
}

TEST_F(CommandSetTest, StopIsAShortFormCommand) {
    EXPECT_EQ(SendStopCommand(device_), 1);
    const auto blocks = controller_->Written(0x2012);
    ASSERT_EQ(blocks.size(), 1u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(blocks[0][i], i % 8 == 0 ? 0x41 : i % 8 == 1 ? 1 : 0) << i;
}

}  // namespace
}  // namespace b58

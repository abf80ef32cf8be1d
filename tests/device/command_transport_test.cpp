#include "device/command_transport.h"

#include <gtest/gtest.h>

#include "device/command_packets.h"
#include "device/device_fixture.h"

namespace b58 {
namespace {

using testing::Bytes;
using TransportTest = testing::DeviceTest;

Bytes Numbered(uint8_t first) {
    Bytes bytes(64);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

TEST_F(TransportTest, FullExchangeWritesThePacketAndDeliversTheReply) {
    Bytes reply = Numbered(0);
    reply[0] = 0;
    controller_->QueueReply(reply);
    const Bytes input = Numbered(0x30);
    uint8_t output[64] = {};
    uint32_t returned = 99;

    ASSERT_EQ(ScannerIoControl(device_, 4, input.data(), 10, output, 64, &returned), 1);
    EXPECT_EQ(returned, 64u);
    EXPECT_EQ(Bytes(output, output + 64), reply);

    const auto transfers = controller_->Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_FALSE(transfers[0].in);
    EXPECT_EQ(transfers[0].setup.wValue, 0x2010);
    EXPECT_EQ(transfers[0].setup.wIndex, 0x3F40);
    Bytes expected(64, 0);
    expected[0] = 0x30;
    expected[1] = 1;
    for (int i = 2; i < 10; ++i) expected[i] = input[i];
    EXPECT_EQ(transfers[0].data, expected);
    EXPECT_TRUE(transfers[1].in);
    EXPECT_EQ(transfers[1].setup.wValue, 0x2011);
    EXPECT_EQ(transfers[1].setup.wIndex, 0x3F00);
    EXPECT_EQ(transfers[1].setup.wLength, 64);
}

TEST_F(TransportTest, NothingIsSentForAnEmptyInputOrAnotherRequestCode) {
    const uint8_t input[64] = {0x17};
    uint8_t output[64] = {};
    uint32_t returned = 77;
    EXPECT_EQ(ScannerIoControl(device_, 4, input, 0, output, 64, &returned), 0);
    EXPECT_EQ(returned, 77u);
    EXPECT_EQ(ScannerIoControl(device_, 5, input, 64, output, 64, &returned), 0);
    EXPECT_EQ(ScannerIoControl(INVALID_HANDLE_VALUE, 4, input, 64, output, 64, &returned), 0);
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(controller_->Transfers().empty());
}

TEST_F(TransportTest, StatusOneIsAnsweredBySendingTheSamePacketAgain) {
    controller_->QueueStatus(1, 3);
    controller_->QueueReply({0, 0xAB});
    const Bytes input = Numbered(0x22);
    uint8_t output[64] = {};
    uint32_t returned = 0;

    ASSERT_EQ(ScannerIoControl(device_, 4, input.data(), 8, output, 64, &returned), 1);
    const auto written = controller_->Written(0x2010);
    ASSERT_EQ(written.size(), 4u);
    for (const Bytes& packet : written) EXPECT_EQ(packet, written[0]);
    EXPECT_EQ(output[1], 0xAB);
    EXPECT_EQ(returned, 64u);
}

TEST_F(TransportTest, AControllerThatNeverTakesTheCommandIsGivenUp) {
    platform::SetTimeScale(0.0001);
    controller_->SetDefaultReply({1});
    const uint8_t input[64] = {0x43};
    uint8_t output[64] = {0x5C};
    uint32_t returned = 9;

    EXPECT_EQ(ScannerIoControl(device_, 4, input, 4, output, 64, &returned), 0);
    EXPECT_EQ(controller_->Count(0x2010, false), 1 + kMaxResends);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(output[0], 0x5C);  // untouched
}

TEST_F(TransportTest, AnyOtherStatusIsDeliveredForTheCallerToJudge) {
    controller_->QueueReply({5, 1, 2, 3});
    const uint8_t input[64] = {0x28};
    uint8_t output[64];
    std::memset(output, 0xEE, sizeof output);
    uint32_t returned = 0;
    EXPECT_EQ(ScannerIoControl(device_, 4, input, 64, output, 64, &returned), 1);
    EXPECT_EQ(returned, 64u);
    EXPECT_EQ(output[0], 5);
    EXPECT_EQ(output[3], 3);
    EXPECT_EQ(output[4], 0);  // the reply buffer is cleared before each read
    EXPECT_EQ(controller_->Count(0x2010, false), 1u);
}

TEST_F(TransportTest, FailedTransfersEndTheExchangeWithoutResending) {
    const uint8_t input[64] = {0x17};
    uint8_t output[64] = {0x66};
    uint32_t returned = 5;

    controller_->FailIn(true);
    EXPECT_EQ(ScannerIoControl(device_, 4, input, 64, output, 64, &returned), 0);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(output[0], 0x66);
    EXPECT_EQ(controller_->Count(0x2010, false), 1u);

    controller_->FailIn(false);
    controller_->FailOut(true);
    EXPECT_EQ(ScannerIoControl(device_, 4, input, 64, output, 64, &returned), 0);
    EXPECT_EQ(controller_->Count(0x2011, true),
              1u);  // no read after a failed write
}

TEST_F(TransportTest, AReplyReadThatBringsNothingBackIsAFailure) {
    controller_->QueueReply({});
    const uint8_t input[64] = {0x17};
    uint8_t output[64] = {};
    uint32_t returned = 5;
    EXPECT_EQ(ScannerIoControl(device_, 4, input, 64, output, 64, &returned), 0);
    EXPECT_EQ(returned, 0u);
}

TEST_F(TransportTest, ShortFormRepeatsEightBytesAndReadsEight) {
    Bytes reply = Numbered(0x80);
    reply[0] = 0;
    controller_->QueueReply(reply);
    uint8_t buffer[64];
    FillShortCommand(0x70, buffer);
    buffer[5] = 0x99;  // a caller byte inside the first eight goes out in every copy
    buffer[9] = 0x77;  // one past them does not
    uint32_t returned = 0;

    ASSERT_EQ(ScannerIoControlShort(device_, 4, buffer, 64, buffer, 64, &returned), 1);
    EXPECT_EQ(returned, 64u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], reply[i]) << i;
    for (int i = 8; i < 64; ++i) EXPECT_EQ(buffer[i], 0) << i;

    const auto transfers = controller_->Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].setup.wValue, 0x2012);
    EXPECT_EQ(transfers[0].setup.wIndex, 0x3F40);
    for (int i = 0; i < 64; ++i) {
        const uint8_t expected = i % 8 == 0 ? 0x70 : i % 8 == 1 ? 1 : i % 8 == 5 ? 0x99 : 0;
        EXPECT_EQ(transfers[0].data[i], expected) << i;
    }
    EXPECT_EQ(transfers[1].setup.wValue, 0x2013);
    EXPECT_EQ(transfers[1].setup.wIndex, 0x3F00);
    EXPECT_EQ(transfers[1].setup.wLength, 8);
}

TEST_F(TransportTest, ControllerMemoryIsAddressedThroughTheIndexWord) {
    Bytes block = Numbered(1);
    ASSERT_EQ(WriteControllerMemory(device_, 0x0FC0, 64, block.data()), 1);
    uint8_t back[64] = {};
    ASSERT_EQ(ReadControllerMemory(device_, 0x0FC0, 64, back), 1);
    EXPECT_EQ(Bytes(back, back + 64), block);
    const auto transfers = controller_->Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].setup.bmRequestType, 0x40);
    EXPECT_EQ(transfers[0].setup.wValue, 0x200B);
    EXPECT_EQ(transfers[0].setup.wIndex, 0x0FC0);
    EXPECT_EQ(transfers[1].setup.bmRequestType, 0xC0);
    EXPECT_EQ(transfers[1].setup.wValue, 0x200C);
    EXPECT_EQ(transfers[1].setup.wIndex, 0x0FC0);
}

}  // namespace
}  // namespace b58

// Register requests on a device handle: the control transfers they become and how they
// complete.
#include <gtest/gtest.h>

#include <array>
#include <numeric>

#include "platform/usbscan/register_request.h"
#include "usbscan_test_support.h"

namespace b58::test {
namespace {

using usbscan::DecodeRegisterRequest;
using usbscan::RegisterRequest;

TEST(RegisterRequestDecoding, SetupFieldsComeFromTheBlock) {
    std::array<uint8_t, 64> data{};
    IO_BLOCK block = RegisterBlock(0x2010, 0x3F40, 64, data.data());
    RegisterRequest request;
    ASSERT_EQ(DecodeRegisterRequest(IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &request),
              ERROR_SUCCESS);
    EXPECT_EQ(request.setup.bmRequestType, 0x40);
    EXPECT_EQ(request.setup.bRequest, 0x04);
    EXPECT_EQ(request.setup.wValue, 0x2010);
    EXPECT_EQ(request.setup.wIndex, 0x3F40);
    EXPECT_EQ(request.setup.wLength, 64);
    EXPECT_EQ(request.writeData, data.data());

    block = RegisterBlock(0x2013, 0x3F00, 1, data.data());
    ASSERT_EQ(DecodeRegisterRequest(IOCTL_READ_REGISTERS, &block, sizeof(block), data.data(), 64, &request),
              ERROR_SUCCESS);
    EXPECT_EQ(request.setup.bmRequestType, 0xC0);
    EXPECT_EQ(request.setup.bRequest, 0x0C);  // a single byte
    EXPECT_EQ(request.setup.wLength, 1);
    EXPECT_TRUE(request.deviceToHost);

    block = RegisterBlock(0x0001, 0x0000, 0, nullptr);
    ASSERT_EQ(DecodeRegisterRequest(IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &request),
              ERROR_SUCCESS);
    EXPECT_EQ(request.setup.bRequest, 0x0C);
    block.uLength = 2;
    block.pbyData = data.data();
    ASSERT_EQ(DecodeRegisterRequest(IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &request),
              ERROR_SUCCESS);
    EXPECT_EQ(request.setup.bRequest, 0x04);
}

TEST(RegisterRequestDecoding, RefusesWhatCannotBeSentFaithfully) {
    std::array<uint8_t, 64> data{};
    RegisterRequest request;
    IO_BLOCK block = RegisterBlock(0x2010, 0x3F40, 64, data.data());
    EXPECT_EQ(DecodeRegisterRequest(0x80002014, &block, sizeof(block), nullptr, 0, &request),
              ERROR_INVALID_FUNCTION);
    EXPECT_EQ(DecodeRegisterRequest(IOCTL_WRITE_REGISTERS, &block, sizeof(block) - 1, nullptr, 0, &request),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(DecodeRegisterRequest(IOCTL_WRITE_REGISTERS, nullptr, sizeof(block), nullptr, 0, &request),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(DecodeRegisterRequest(IOCTL_READ_REGISTERS, &block, sizeof(block), data.data(), 63, &request),
              ERROR_INSUFFICIENT_BUFFER);

    block.uOffset = 0x12010;  // would be cut to 0x2010
    EXPECT_EQ(DecodeRegisterRequest(IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &request),
              ERROR_INVALID_PARAMETER);
    block = RegisterBlock(0x2010, 0x3F40, 64, data.data());
    block.uIndex = 0x10000;
    EXPECT_EQ(DecodeRegisterRequest(IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &request),
              ERROR_INVALID_PARAMETER);
    block = RegisterBlock(0x2010, 0x3F40, 64, nullptr);
    EXPECT_EQ(DecodeRegisterRequest(IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &request),
              ERROR_INVALID_PARAMETER);
}

class ControlTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = OpenDeviceHandle(FixedName(3));
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

    PublishedFake scanner_{3};
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(ControlTransferTest, WriteCarriesSetupAndDataAndCompletesTheRecord) {
    std::array<uint8_t, 64> packet{};
    std::iota(packet.begin(), packet.end(), 1);
    IO_BLOCK block = RegisterBlock(0x2010, 0x3F40, 64, packet.data());
    OverlappedRecord overlapped;
    DWORD returned = 99;
    ASSERT_TRUE(DeviceIoControl(handle_, IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &returned,
                                &overlapped.record));
    EXPECT_TRUE(overlapped.Signalled());
    DWORD transferred = 99;
    EXPECT_TRUE(GetOverlappedResult(handle_, &overlapped.record, &transferred, TRUE));

    auto transfers = scanner_.backend().ControlTransfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].setup.bmRequestType, 0x40);
    EXPECT_EQ(transfers[0].setup.bRequest, 0x04);
    EXPECT_EQ(transfers[0].setup.wValue, 0x2010);
    EXPECT_EQ(transfers[0].setup.wIndex, 0x3F40);
    EXPECT_EQ(transfers[0].setup.wLength, 64);
    EXPECT_EQ(transfers[0].data, std::vector<uint8_t>(packet.begin(), packet.end()));
}

TEST_F(ControlTransferTest, ReadDeliversTheReplyAndItsLength) {
    scanner_.backend().QueueReply({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    std::array<uint8_t, 64> reply;
    reply.fill(0xAA);
    IO_BLOCK block = RegisterBlock(0x2013, 0x3F00, 8, reply.data());
    OverlappedRecord overlapped;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(handle_, IOCTL_READ_REGISTERS, &block, sizeof(block), reply.data(), 8,
                                &returned, &overlapped.record));
    EXPECT_EQ(returned, 8u);
    DWORD transferred = 0;
    EXPECT_TRUE(GetOverlappedResult(handle_, &overlapped.record, &transferred, TRUE));
    EXPECT_EQ(transferred, 8u);
    EXPECT_EQ(reply[7], 0x77);
    EXPECT_EQ(reply[8], 0xAA);  // nothing past the transfer

    auto transfers = scanner_.backend().ControlTransfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].setup.bmRequestType, 0xC0);
    EXPECT_EQ(transfers[0].setup.bRequest, 0x04);
    EXPECT_EQ(transfers[0].setup.wValue, 0x2013);
    EXPECT_EQ(transfers[0].setup.wIndex, 0x3F00);
    EXPECT_EQ(transfers[0].setup.wLength, 8);

    // A device that answers with fewer bytes: the count says so.
    scanner_.backend().QueueReply({0x05, 0x06});
    block.uLength = 64;
    ASSERT_TRUE(DeviceIoControl(handle_, IOCTL_READ_REGISTERS, &block, sizeof(block), reply.data(), 64,
                                &returned, &overlapped.record));
    EXPECT_EQ(returned, 2u);
}

TEST_F(ControlTransferTest, FailedTransferFailsTheCallAndLeavesTheBufferAlone) {
    scanner_.backend().FailControlTransfers(true);
    std::array<uint8_t, 64> reply;
    reply.fill(0xAA);
    IO_BLOCK block = RegisterBlock(0x2011, 0x3F00, 64, reply.data());
    OverlappedRecord overlapped;
    DWORD returned = 7;
    EXPECT_FALSE(DeviceIoControl(handle_, IOCTL_READ_REGISTERS, &block, sizeof(block), reply.data(), 64,
                                 &returned, &overlapped.record));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(reply[0], 0xAA);
    // A caller that waits anyway is not left hanging.
    EXPECT_TRUE(overlapped.Signalled());
    EXPECT_FALSE(GetOverlappedResult(handle_, &overlapped.record, &returned, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);

    EXPECT_FALSE(DeviceIoControl(handle_, IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &returned,
                                 &overlapped.record));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

TEST_F(ControlTransferTest, OverlappedHandleNeedsARecordAPlainOneDoesNot) {
    std::array<uint8_t, 64> packet{};
    IO_BLOCK block = RegisterBlock(0x200B, 0x1000, 64, packet.data());
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(handle_, IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &returned,
                                 nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(scanner_.backend().ControlTransfers().empty());

    HANDLE plain = OpenDeviceHandle(FixedName(3), 0);
    ASSERT_NE(plain, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(
        DeviceIoControl(plain, IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &returned, nullptr));
    EXPECT_EQ(scanner_.backend().ControlTransfers().size(), 1u);
    CloseHandle(plain);
}

TEST_F(ControlTransferTest, WithdrawnDeviceFailsEveryTransferOnOpenHandles) {
    usbscan::Withdraw(3);
    std::array<uint8_t, 64> packet{};
    IO_BLOCK block = RegisterBlock(0x2010, 0x3F40, 64, packet.data());
    OverlappedRecord overlapped;
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(handle_, IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, &returned,
                                 &overlapped.record));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(DeviceIoControl(handle_, IOCTL_READ_REGISTERS, &block, sizeof(block), packet.data(), 64,
                                 &returned, &overlapped.record));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(ReadFile(handle_, packet.data(), 64, nullptr, &overlapped.record));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(scanner_.backend().ControlTransfers().empty());
    EXPECT_EQ(OpenDeviceHandle(FixedName(3)), INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace b58::test

// The virtual scanner published by the stand-in class driver from a device list entry, and
// driven the way the driver drives a scanner: register requests and overlapped reads on a
// device handle.
#include <gtest/gtest.h>

#include <vector>

#include "controller_harness.h"
#include "platform/usbscan/class_driver.h"
#include "platform/usbscan/device_config.h"
#include "platform/win32.h"
#include "sim/placeholder_stream.h"

namespace b58::sim {
namespace {

using namespace harness;

class PublishedScanner : public ::testing::Test {
  protected:
    void SetUp() override {
        // The driver loads the virtual scanner as a module; this program has it linked in.
        usbscan::RegisterBackendFactory("sim", CreateVirtualScanner);
        ASSERT_EQ(usbscan::ApplyDeviceConfiguration("sim@7:firmware=running,rate=0,start_ms=0,stream=placeholder"), 1);
        handle_ = CreateFileA("\\\\.\\UsbScan7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        usbscan::Withdraw(7);
    }

    bool Transfer(DWORD code, uint16_t value, uint16_t index, uint8_t* data, uint32_t length) {
        IO_BLOCK block{value, length, data, index};
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD returned = 0;
        const bool in = code == IOCTL_READ_REGISTERS;
        BOOL ok = DeviceIoControl(handle_, code, &block, sizeof block, in ? data : nullptr, in ? length : 0,
                                  &returned, &overlapped);
        if (!ok && GetLastError() == ERROR_IO_PENDING)
            ok = GetOverlappedResult(handle_, &overlapped, &returned, TRUE);
        CloseHandle(overlapped.hEvent);
        return ok;
    }

    Packet Send(Packet packet, bool shortForm = false) {
        if (shortForm) {
            for (size_t i = 8; i < packet.size(); ++i) packet[i] = packet[i % 8];
        }
        EXPECT_TRUE(Transfer(IOCTL_WRITE_REGISTERS, shortForm ? kValueShortCommand : kValueCommand,
                             kIndexCommand, packet.data(), 64));
        Packet reply{};
        EXPECT_TRUE(Transfer(IOCTL_READ_REGISTERS, shortForm ? kValueShortReply : kValueReply, kIndexReply,
                             reply.data(), shortForm ? 8 : 64));
        return reply;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(PublishedScanner, CommandsAndImageDataPassThroughTheDeviceHandle) {
    EXPECT_EQ(Send(MakePacket(kCmdFirmwareState), true)[2], kFirmwareRunning);
    EXPECT_EQ(Send(MakePacket(kCmdIdentity))[6], 0x1A);

    ASSERT_EQ(Send(WindowPacket(WindowSpec{}))[0], kStatusDone);
    ASSERT_EQ(Send(MakePacket(kCmdStart))[0], kStatusDone);
    ASSERT_EQ(Send(MakePacket(kCmdHandshake))[0], kStatusDone);

    std::vector<uint8_t> block(15360);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD got = 0;
    BOOL ok = ReadFile(handle_, block.data(), 15360, nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(handle_, &overlapped, &got, TRUE);
    ASSERT_TRUE(ok);
    EXPECT_EQ(got, 15360u);
    EXPECT_EQ(block[900 * 10 + 3 * 5 + 2], PlaceholderSampleByte(10, 2, 5));

    // After the stop a read pends until the driver gives up on it.
    EXPECT_EQ(Send(MakePacket(kCmdStop), true)[0], kStatusDone);
    ResetEvent(overlapped.hEvent);
    EXPECT_FALSE(ReadFile(handle_, block.data(), 15360, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    CancelIo(handle_);
    EXPECT_FALSE(GetOverlappedResult(handle_, &overlapped, &got, TRUE));
    CloseHandle(overlapped.hEvent);
}

TEST_F(PublishedScanner, UnknownOptionsKeepTheDeviceUnpublished) {
    EXPECT_EQ(usbscan::ApplyDeviceConfiguration("sim@8:frimware=running"), 0);
    EXPECT_EQ(CreateFileA("\\\\.\\UsbScan8", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                          nullptr),
              INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace b58::sim

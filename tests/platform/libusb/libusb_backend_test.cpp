// The libusb backend against the virtual scanner behind emulated usbdevfs (umockdev): the
// whole chain driver -> class driver -> libusb -> usbdevfs ioctls -> virtual scanner.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "api/controller_fixture.h"
#include "platform/usbscan/class_driver.h"
#include "platform/usbscan/device_names.h"
#include "platform/usbscan/libusb/libusb_backend.h"
#include "sim/firmware_image.h"
#include "sim/virtual_scanner.h"
#include "usbdevfs_emulator.h"
#include "usbscan_test_support.h"

namespace b58 {
namespace {

using usbscan::BulkStatus;
using usbscan::UsbSetup;

constexpr char kFastScanner[] = "seed=1,rate=0";

std::shared_ptr<usbscan::UsbBackend> VirtualScanner(const std::string& options = kFastScanner) {
    std::string error;
    auto scanner = sim::CreateVirtualScanner(options, &error);
    EXPECT_NE(scanner, nullptr) << error;
    return scanner;
}

std::shared_ptr<usbscan::UsbBackend> OpenLibusb(const std::string& options, std::string* error) {
    return usbscan::CreateLibusbBackend(options, error);
}

TEST(LibusbOptions, ChooseOneDeviceByIdentifiersOrByPlace) {
    struct Case {
        const char* options;
        bool ok;
    } cases[] = {
        {"vid=0x1a2b,pid=0x3c4d", true},
        {"bus=3,address=17", true},
        {"vid=6699,pid=15437,timeout_ms=200", true},
        {"", false},
        {"vid=0x1a2b", false},
        {"bus=3", false},
        {"vid=1,pid=2,bus=3,address=4", false},
        {"vid=0x10000,pid=1", false},
        {"bus=1,address=0", false},
        {"speed=9,bus=1,address=2", false},
    };
    for (const Case& c : cases) {
        usbscan::LibusbDeviceChoice choice;
        std::string error;
        EXPECT_EQ(usbscan::ParseLibusbOptions(c.options, &choice, &error), c.ok)
            << c.options << ": " << error;
    }
}

class EmulatedUsb : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::UsbdevfsEmulator::Active())
            << "run under umockdev (LD_PRELOAD=libumockdev-preload.so.0)";
        platform::SetTimeScale(0.02);
    }
    void TearDown() override { platform::SetTimeScale(1.0); }
};

// The identity command and its reply, through libusb and straight from the model.
std::vector<uint8_t> Identity(usbscan::UsbBackend& device) {
    std::vector<uint8_t> command(64, 0);
    command[0] = 0x2E;
    command[1] = 1;
    EXPECT_TRUE(device.ControlOut(UsbSetup{0x40, 0x04, 0x2010, 0x3F40, 64}, command.data()));
    std::vector<uint8_t> reply(64, 0xEE);
    uint32_t got = 0;
    EXPECT_TRUE(device.ControlIn(UsbSetup{0xC0, 0x04, 0x2011, 0x3F00, 64}, reply.data(), &got));
    reply.resize(got);
    return reply;
}

TEST_F(EmulatedUsb, OpensByPlaceOrIdentifiersAndCarriesControlTransfers) {
    auto model = VirtualScanner("firmware=running");
    test::UsbdevfsEmulator emulated(model, 2);
    for (const std::string& options : {emulated.ByAddress(), std::string("vid=0x1a2b,pid=0x3c4d")}) {
        SCOPED_TRACE(options);
        std::string error;
        auto device = OpenLibusb(options, &error);
        ASSERT_NE(device, nullptr) << error;
        auto direct = VirtualScanner("firmware=running");
        EXPECT_EQ(Identity(*device), Identity(*direct));
        // A request the controller does not know fails as a stalled control pipe.
        uint8_t byte = 0;
        EXPECT_FALSE(device->ControlOut(UsbSetup{0x40, 0x0C, 0x1234, 0, 1}, &byte));
    }
    std::string error;
    EXPECT_EQ(OpenLibusb("bus=1,address=9", &error), nullptr);
    EXPECT_NE(error.find("no USB device"), std::string::npos) << error;
    emulated.SetClaimedElsewhere(true);
    EXPECT_EQ(OpenLibusb(emulated.ByAddress(), &error), nullptr);
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
}

TEST_F(EmulatedUsb, StalledReadEndsOnCancelFromAnotherThreadAndOnUnplug) {
    auto model = VirtualScanner("firmware=running");
    test::UsbdevfsEmulator emulated(model, 3);
    std::string error;
    auto device = OpenLibusb(emulated.ByAddress(), &error);
    ASSERT_NE(device, nullptr) << error;

    // No scan started: the read waits for data that never comes, until cancelled.
    for (bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "unplug" : "cancel");
        std::vector<uint8_t> buffer(30720);
        std::atomic<bool> ended{false};
        BulkStatus status = BulkStatus::Ok;
        std::thread reader([&] {
            uint32_t got = 0;
            status = device->BulkRead(buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
            ended.store(true, std::memory_order_release);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(ended.load(std::memory_order_acquire));
        const auto stop = std::chrono::steady_clock::now();
        while (!ended.load(std::memory_order_acquire)) {
            if (unplug)
                emulated.Unplug();
            else
                device->CancelBulk();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(20));
        }
        reader.join();
        EXPECT_EQ(status, unplug ? BulkStatus::Failed : BulkStatus::Cancelled);
        EXPECT_EQ(device->Gone(), unplug);
    }
    // libusb split the 30,720-byte read into URBs of 16 KiB and the rest.
    std::vector<int> lengths = emulated.BulkUrbLengths();
    ASSERT_GE(lengths.size(), 2u);
    EXPECT_EQ(lengths[0], 16384);
    EXPECT_EQ(lengths[1], 14336);
    uint8_t reply[64];
    uint32_t got = 0;
    EXPECT_FALSE(device->ControlIn(UsbSetup{0xC0, 0x04, 0x2011, 0x3F00, 64}, reply, &got));
}

TEST_F(EmulatedUsb, UnplugWithdrawsThePublishedDevice) {
    test::UsbdevfsEmulator emulated(VirtualScanner("firmware=running"), 6);
    std::string error;
    auto device = OpenLibusb(emulated.ByAddress(), &error);
    ASSERT_NE(device, nullptr) << error;
    usbscan::Publish({6, usbscan::DefaultInterfacePath(6), device});
    HANDLE handle = test::OpenDeviceHandle(test::FixedName(6), 0);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    uint8_t reply[64];
    auto readReply = [&] {
        IO_BLOCK block = test::RegisterBlock(0x2011, 0x3F00, 64, nullptr);
        DWORD returned = 0;
        return DeviceIoControl(handle, IOCTL_READ_REGISTERS, &block, sizeof block, reply, sizeof reply,
                               &returned, nullptr);
    };
    EXPECT_TRUE(readReply());
    emulated.Unplug();
    EXPECT_FALSE(readReply());
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});
    EXPECT_FALSE(readReply());
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});
    EXPECT_EQ(test::OpenDeviceHandle(test::FixedName(6), 0), INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    usbscan::Withdraw(6);
}

}  // namespace
}  // namespace b58

// The configuration from the environment, in a program of its own: it is applied once per
// process, at the first lookup.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "pcap_reader.h"
#include "platform/usbscan/device_config.h"
#include "platform/usbscan/usb_capture.h"
#include "usbscan_test_support.h"

namespace b58::test {
namespace {

int InterfaceCount() {
    HDEVINFO set = SetupDiGetClassDevsA(&usbscan::kStillImageInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    int count = 0;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    while (SetupDiEnumDeviceInterfaces(set, nullptr, &usbscan::kStillImageInterfaceClass, count, &data))
        ++count;
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

TEST(EnvironmentConfiguration, AppliedOnceAtTheFirstLookup) {
    const std::string capture = ::testing::TempDir() + "usbscan_env.pcap";
    setenv("B58_DEVICES", "fake@4:seed=1;bogus", 1);
    setenv("B58_CAPTURE", capture.c_str(), 1);
    usbscan::RegisterBackendFactory(
        "fake", [](const std::string&, std::string*) { return std::make_shared<FakeUsbBackend>(); });
    EXPECT_FALSE(usbscan::CaptureActive());

    EXPECT_EQ(InterfaceCount(), 1);
    EXPECT_TRUE(usbscan::CaptureActive());
    HANDLE handle = OpenDeviceHandle(FixedName(4));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::array<uint8_t, 64> command{};
    IO_BLOCK block = RegisterBlock(0x2010, 0x3F40, 64, command.data());
    OverlappedRecord overlapped;
    EXPECT_TRUE(DeviceIoControl(handle, IOCTL_WRITE_REGISTERS, &block, sizeof(block), nullptr, 0, nullptr,
                                &overlapped.record));
    CloseHandle(handle);

    setenv("B58_DEVICES", "fake@5", 1);  // read once only
    EXPECT_EQ(OpenDeviceHandle(FixedName(5)), INVALID_HANDLE_VALUE);
    EXPECT_EQ(InterfaceCount(), 1);

    usbscan::StopCapture();
    auto file = ReadPcapFile(capture);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->records.size(), 2u);
    std::remove(capture.c_str());
    usbscan::WithdrawAll();
}

}  // namespace
}  // namespace b58::test

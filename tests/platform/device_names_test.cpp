#include "platform/usbscan/device_names.h"

#include <gtest/gtest.h>

namespace b58::usbscan {
namespace {

TEST(FixedDeviceName, OneDigitAfterTheStemInAnyCase) {
    EXPECT_EQ(ParseFixedDeviceName("\\\\.\\UsbScan0"), 0);
    EXPECT_EQ(ParseFixedDeviceName("\\\\.\\usbscan7"), 7);
    EXPECT_EQ(ParseFixedDeviceName("\\\\.\\USBSCAN9"), 9);

    EXPECT_FALSE(ParseFixedDeviceName("\\\\.\\UsbScan10"));
    EXPECT_FALSE(ParseFixedDeviceName("\\\\.\\UsbScan"));
    EXPECT_FALSE(ParseFixedDeviceName("\\\\.\\UsbScanA"));
    EXPECT_FALSE(ParseFixedDeviceName("\\\\.\\UsbScan1\\x"));
    EXPECT_FALSE(ParseFixedDeviceName("UsbScan0"));
    EXPECT_FALSE(ParseFixedDeviceName("\\\\?\\UsbScan0"));
}

TEST(InterfaceName, PathSelectsTheDeviceWhateverFileNameFollows) {
    const std::string path = DefaultInterfacePath(0);
    EXPECT_TRUE(NameSelectsInterface(path, path));
    for (int digit = 0; digit <= 4; ++digit) {
        EXPECT_TRUE(NameSelectsInterface(path + "\\\\\\.\\USBScan" + std::to_string(digit), path)) << digit;
    }
    std::string upper = path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(NameSelectsInterface(upper, path));

    EXPECT_FALSE(NameSelectsInterface(path + "0", path));  // a longer, different path
    EXPECT_FALSE(NameSelectsInterface(path.substr(0, path.size() - 1), path));
    EXPECT_FALSE(NameSelectsInterface(path, ""));
}

TEST(DeviceNamespace, DeviceNamesButNotFilePaths) {
    EXPECT_TRUE(IsDeviceNamespaceName("\\\\.\\UsbScan0"));
    EXPECT_TRUE(IsDeviceNamespaceName("\\\\.\\COM1"));
    EXPECT_TRUE(IsDeviceNamespaceName(DefaultInterfacePath(3)));

    EXPECT_FALSE(IsDeviceNamespaceName("C:\\WINDOWS\\system32\\drivers\\b58fw.usb"));
    EXPECT_FALSE(IsDeviceNamespaceName("\\\\?\\C:\\file"));
    EXPECT_FALSE(IsDeviceNamespaceName("\\\\?\\UNC\\server\\share"));
    EXPECT_FALSE(IsDeviceNamespaceName("\\\\.\\"));
    EXPECT_FALSE(IsDeviceNamespaceName("/tmp/file"));
}

}  // namespace
}  // namespace b58::usbscan

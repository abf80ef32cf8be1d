// Finding devices: fixed names, the interface enumeration, withdrawal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "usbscan_test_support.h"

namespace b58::test {
namespace {

// These tests publish their own devices; settings in the shell that runs them must not add any.
[[maybe_unused]] const bool kEnvironmentCleared = [] {
    unsetenv("B58_DEVICES");
    unsetenv("B58_CAPTURE");
    return true;
}();

constexpr char kOtherVendorPath[] =
    "\\\\?\\usb#vid_0bda&pid_8153#000001000000#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
constexpr char kUpperCasePath[] =
    "\\\\?\\USB#VID_1A2B&PID_3C4D#5&2F3A1B&0&6#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

// Walks the still-image interfaces the way a driver does and returns their paths.
std::vector<std::string> EnumerateInterfacePaths() {
    std::vector<std::string> paths;
    HDEVINFO set = SetupDiGetClassDevsA(&usbscan::kStillImageInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    for (DWORD member = 0;; ++member) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(data);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &usbscan::kStillImageInterfaceClass, member, &data)) {
            EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
            break;
        }
        DWORD required = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<char> buffer(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
        paths.emplace_back(detail->DevicePath);
        EXPECT_EQ(required, 4 + paths.back().size() + 1);
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return paths;
}

TEST(Discovery, NothingPublishedMeansNoDevice) {
    for (int index = 0; index < 10; ++index) {
        EXPECT_EQ(OpenDeviceHandle(FixedName(index)), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    }
    EXPECT_TRUE(EnumerateInterfacePaths().empty());
    EXPECT_EQ(OpenDeviceHandle(usbscan::DefaultInterfacePath(0) + "\\\\\\.\\USBScan0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Discovery, FixedNameOpensOnlyThePublishedIndex) {
    PublishedFake scanner(7);
    for (int index = 0; index < 10; ++index) {
        HANDLE handle = OpenDeviceHandle(FixedName(index));
        if (index == 7) {
            ASSERT_NE(handle, INVALID_HANDLE_VALUE);
            EXPECT_TRUE(CloseHandle(handle));
        } else {
            EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << index;
            EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
        }
    }
    HANDLE lower = OpenDeviceHandle("\\\\.\\usbscan7");
    EXPECT_NE(lower, INVALID_HANDLE_VALUE);
    CloseHandle(lower);
}

TEST(Discovery, EnumerationListsEveryStillImageDeviceInIndexOrder) {
    PublishedFake scanner(2);
    PublishedFake otherVendor(4, kOtherVendorPath);
    PublishedFake upperCase(5, kUpperCasePath);
    EXPECT_EQ(EnumerateInterfacePaths(),
              (std::vector<std::string>{usbscan::DefaultInterfacePath(2), kOtherVendorPath, kUpperCasePath}));

    // The name a driver forms from the path opens the device, whichever of the five suffixes.
    for (int digit = 0; digit <= 4; ++digit) {
        HANDLE handle =
            OpenDeviceHandle(usbscan::DefaultInterfacePath(2) + "\\\\\\.\\USBScan" + std::to_string(digit));
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << digit;
        CloseHandle(handle);
    }
    HANDLE other = OpenDeviceHandle(std::string(kOtherVendorPath) + "\\\\\\.\\USBScan0");
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    EXPECT_EQ(OpenDeviceHandle("\\\\?\\usb#vid_1a2b&pid_0000#1#{6bdd1fc6-810f-11d0-bec7-08002be2092f}"),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Discovery, InformationSetIsASnapshot) {
    auto scanner = std::make_unique<PublishedFake>(0);
    HDEVINFO set = SetupDiGetClassDevsA(&usbscan::kStillImageInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    scanner.reset();  // unplugged after the set was taken
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &usbscan::kStillImageInterfaceClass, 0, &data));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_TRUE(EnumerateInterfacePaths().empty());
}

TEST(Discovery, RecordSizesAndBufferSizesAreChecked) {
    PublishedFake scanner(1);
    HDEVINFO set = SetupDiGetClassDevsA(&usbscan::kStillImageInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = 32;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &usbscan::kStillImageInterfaceClass, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    data.cbSize = 28;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &usbscan::kStillImageInterfaceClass, 1, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &usbscan::kStillImageInterfaceClass, 0, &data));

    const std::string path = usbscan::DefaultInterfacePath(1);
    const DWORD needed = static_cast<DWORD>(4 + path.size() + 1);
    std::vector<char> buffer(needed + 8, 'x');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    DWORD required = 0;

    detail->cbSize = 8;  // the size of the record on 64-bit systems: refused here
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

    detail->cbSize = 5;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed - 1, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, needed);
    EXPECT_EQ(buffer[4], 'x');  // nothing written

    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, needed, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr));
    EXPECT_EQ(std::string(detail->DevicePath), path);

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &usbscan::kStillImageInterfaceClass, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Discovery, OtherInterfaceClassesAreEmpty) {
    PublishedFake scanner(0);
    const GUID otherClass = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    HDEVINFO set = SetupDiGetClassDevsA(&otherClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &otherClass, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);

    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace b58::test

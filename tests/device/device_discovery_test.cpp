#include "device/device_discovery.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/command_set.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "state/trace.h"
#include "support/scripted_controller.h"

namespace b58 {
namespace {

using testing::ScriptedController;

constexpr char kOurPath[] = "\\\\?\\usb#vid_1a2b&pid_3c4d#6&11&0&2#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
constexpr char kOtherPath[] = "\\\\?\\usb#vid_04b8&pid_0110#6&12&0&3#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";

TEST(InterfacePaths, IdentifiersMustBothBeThereInLowerCase) {
    EXPECT_TRUE(IsScannerInterfacePath(kOurPath));
    EXPECT_FALSE(IsScannerInterfacePath(kOtherPath));
    EXPECT_FALSE(IsScannerInterfacePath("\\\\?\\usb#vid_1a2b&pid_0001#x"));
    EXPECT_FALSE(IsScannerInterfacePath("\\\\?\\USB#VID_1A2B&PID_3C4D#x"));
    EXPECT_TRUE(IsScannerInterfacePath("pid_3c4d then vid_1a2b"));  // in any order
}

TEST(InterfacePaths, FileNamesFitTheirBuffers) {
    char name[kInterfaceNameSize];
    ASSERT_TRUE(BuildInterfaceFileName("\\\\?\\usb#x", 3, name, sizeof name));
    EXPECT_STREQ(name, "\\\\?\\usb#x\\\\\\.\\USBScan3");

    ASSERT_TRUE(BuildInterfaceFileName("a%sb%n", 0, name, sizeof name));  // never a format
    EXPECT_STREQ(name, "a%sb%n\\\\\\.\\USBScan0");

    const std::string longest(kMaxInterfacePathLength, 'p');
    ASSERT_TRUE(BuildInterfaceFileName(longest.c_str(), 4, name, sizeof name));
    EXPECT_EQ(std::string(name).size(), 254u);  // "%d" became one digit
    std::strcpy(name, "kept");
    EXPECT_FALSE(BuildInterfaceFileName((longest + "p").c_str(), 0, name, sizeof name));
    EXPECT_STREQ(name, "kept");
}

class DiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTraceIndent();
        usbscan::WithdrawAll();
        platform::SetDebugSink([this](const char* text) { trace_ += text; });
    }
    void TearDown() override {
        usbscan::WithdrawAll();
        platform::SetDebugSink({});
    }
    std::shared_ptr<ScriptedController> Publish(int index, const std::string& path) {
        auto controller = std::make_shared<ScriptedController>();
        usbscan::Publish({index, path, controller});
        return controller;
    }
    std::string trace_;
};

TEST_F(DiscoveryTest, FixedNamesAreTriedInOrderWithoutTracing) {
    EXPECT_EQ(OpenScannerByName(), INVALID_HANDLE_VALUE);

    auto controller = Publish(7, kOurPath);
    HANDLE device = OpenScannerByName();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SendStopCommand(device), 1);
    EXPECT_EQ(controller->Count(0x2012, false), 1u);  // it is the device published at 7
    EXPECT_EQ(CloseScanner(device), 1);
    EXPECT_EQ(trace_, "");
}

TEST_F(DiscoveryTest, TheScannerIsOpenedThroughItsInterfacePath) {
    auto controller = Publish(0, kOurPath);
    HANDLE device = GetDeviceViaInterface(&kStillImageInterfaceGuid, 0);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SendStopCommand(device), 1);
    EXPECT_EQ(controller->Count(0x2012, false), 1u);
    CloseScanner(device);
    EXPECT_EQ(trace_, std::string("\nC4:  < Enter the GetDeviceViaInterface!") + "\nC4:  Find the scanner!" +
                          "\nC4:  The device path is " + kOurPath + "\\\\\\.\\USBScan0!" +
                          "\nC4:  > Leave the GetDeviceViaInterface with get the scannerhandle!");
}

TEST_F(DiscoveryTest, InterfacesThatAreNotOursOrNotThereGiveNoHandle) {
    Publish(0, kOtherPath);
    Publish(1, "\\\\?\\USB#VID_1A2B&PID_3C4D#6&13&0&4#{6bdd1fc6-810f-11d0-bec7-08002be2092f}");
    EXPECT_EQ(GetDeviceViaInterface(&kStillImageInterfaceGuid, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetDeviceViaInterface(&kStillImageInterfaceGuid, 1), INVALID_HANDLE_VALUE);
    const std::string passedOver =
        "\nC4:  < Enter the GetDeviceViaInterface!\nC4:  > Leave the GetDeviceViaInterface!";
    EXPECT_EQ(trace_, passedOver + passedOver);

    trace_.clear();
    EXPECT_EQ(GetDeviceViaInterface(&kStillImageInterfaceGuid, 2), INVALID_HANDLE_VALUE);
    EXPECT_NE(
        trace_.find("> Leave the GetDeviceViaInterface with NO SP_INTERFACE_DEVICE_DATA availabel for this "
                    "GUID Instance!"),
        std::string::npos)
        << trace_;

    trace_.clear();
    EXPECT_EQ(GetDeviceViaInterface(nullptr, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(trace_,
              "\nC4:  < Enter the GetDeviceViaInterface!"
              "\nC4:  > Leave the GetDeviceViaInterface with incorrect parameter!");
}

TEST_F(DiscoveryTest, AnInterfacePathTooLongForTheNameBuffersIsPassedOver) {
    std::string path = kOurPath;
    path += std::string(kMaxInterfacePathLength + 1 - path.size(), 'x');
    Publish(0, path);
    EXPECT_EQ(GetDeviceViaInterface(&kStillImageInterfaceGuid, 0), INVALID_HANDLE_VALUE);
    EXPECT_NE(trace_.find("Find the scanner!\nC4:  Device path too long for its file names, passed over!"),
              std::string::npos)
        << trace_;
    EXPECT_EQ(trace_.find("The device path is"), std::string::npos);  // no open was tried
}

TEST_F(DiscoveryTest, ClosingNoHandleIsHarmless) {
    EXPECT_EQ(CloseScanner(nullptr), 1);
    EXPECT_EQ(CloseScanner(INVALID_HANDLE_VALUE), 1);
}

}  // namespace
}  // namespace b58

// A scripted controller published as "\\.\UsbScan0" and opened as the device, reached
// through a link with its own command channel and image reader, the pauses shortened.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/device_discovery.h"
#include "device/scanner_link.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "state/trace.h"
#include "support/scripted_controller.h"

namespace b58::testing {

inline constexpr char kScannerInterfacePath[] =
    "\\\\?\\usb#vid_1a2b&pid_3c4d#5&2f0e&0&1#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";

class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTraceIndent();
        platform::SetTimeScale(0.01);
        usbscan::WithdrawAll();
        controller_ = std::make_shared<ScriptedController>();
        usbscan::Publish({0, kScannerInterfacePath, controller_});
        device_ = OpenScannerByName();
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        CloseScanner(device_);
        usbscan::WithdrawAll();
        platform::SetDebugSink({});
        platform::SetTimeScale(1.0);
    }

    // Collects the debugger channel's output from now on.
    void CaptureTrace() {
        platform::SetDebugSink([this](const char* text) { trace_ += text; });
    }

    ScannerLink Link() { return {device_, 4, channel_, reader_}; }

    std::shared_ptr<ScriptedController> controller_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    CommandChannel channel_;
    ImageDataReader reader_;
    std::string trace_;
};

}  // namespace b58::testing

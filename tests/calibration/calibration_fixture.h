// The virtual scanner published as "\\.\UsbScan0" behind a recorder (support/recording_scanner.h),
// opened the way the driver opens it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/device_discovery.h"
#include "device/scanner_link.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "sim/virtual_scanner.h"
#include "state/trace.h"
#include "support/recording_scanner.h"

namespace b58::testing {

inline constexpr char kCalibrationScannerPath[] =
    "\\\\?\\usb#vid_1a2b&pid_3c4d#9&31&0&4#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";

// Pauses shortened, trace captured, the scanner fast (no stream rate, no start delay, no
// motor time) unless the options say otherwise.
class VirtualScannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTraceIndent();
        // Not shorter: the image reader's block time-out shrinks with the pauses, and a slow
        // (sanitised, loaded) run must not see a block as lost.
        platform::SetTimeScale(0.01);
        platform::SetDebugSink([this](const char* text) { trace_ += text; });
        usbscan::WithdrawAll();
    }
    void TearDown() override {
        if (device_ != INVALID_HANDLE_VALUE) CloseScanner(device_);
        usbscan::WithdrawAll();
        platform::SetDebugSink({});
        platform::SetModuleFileNameOverride("");
        platform::SetTimeScale(1.0);
    }
    void Plug(const std::string& options) {
        if (device_ != INVALID_HANDLE_VALUE) CloseScanner(device_);
        device_ = INVALID_HANDLE_VALUE;
        usbscan::WithdrawAll();
        std::string error;
        auto backend =
            sim::CreateVirtualScanner("firmware=running,rate=0,start_ms=0,step_us=0," + options, &error);
        ASSERT_NE(backend, nullptr) << error;
        scanner_ =
            std::make_shared<RecordingScanner>(std::dynamic_pointer_cast<sim::VirtualScanner>(backend));
        usbscan::Publish({0, kCalibrationScannerPath, scanner_});
        device_ = OpenScannerByName();
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }

    ScannerLink Link() { return {device_, 4, channel_, reader_}; }

    std::shared_ptr<RecordingScanner> scanner_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    CommandChannel channel_;
    ImageDataReader reader_;
    std::string trace_;
};

}  // namespace b58::testing

// A scripted controller published as "\\.\UsbScan0", a firmware file in a scratch Windows
// folder, the driver state reset, pauses shortened and the trace captured. The controller
// answers each command through Answer(), which tests adjust per command byte.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/driver.h"
#include "api/exports.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "scan/scan_run.h"
#include "state/trace.h"
#include "support/scratch_directory.h"
#include "support/scripted_controller.h"

namespace b58::testing {

inline constexpr char kScannerPath[] =
    "\\\\?\\usb#vid_1a2b&pid_3c4d#7&21&0&3#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";

class ControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetDriver();
        ResetTraceIndent();
        platform::SetTimeScale(0.01);
        usbscan::WithdrawAll();
        char saved[MAX_PATH] = {};
        GetWindowsDirectoryA(saved, sizeof saved);
        savedWindows_ = platform::ToPosixPath(saved);
        std::filesystem::create_directories(windows_.Path() / "system32" / "drivers");
        windows_.Write("system32/drivers/b58fw.usb", std::string(1000, '\x3C'));
        platform::SetWindowsDirectory(windows_.Path().string());
        platform::SetDebugSink([this](const char* text) { trace_ += text; });
        Publish();
        // The exports are called as after a successful _Open of this process.
        TheDriver().HostOpened = 1;
    }
    void TearDown() override {
        TheDriver().Run.FreeMemory();
        if (TheDriver().DeviceHandle != INVALID_HANDLE_VALUE) CloseHandle(TheDriver().DeviceHandle);
        TheDriver().DeviceHandle = INVALID_HANDLE_VALUE;
        platform::SetDebugSink({});
        usbscan::WithdrawAll();
        platform::SetWindowsDirectory(savedWindows_);
        platform::SetTimeScale(1.0);
    }

    void Publish() {
        controller_ = std::make_shared<ScriptedController>();
        controller_->SetResponder([this](const Bytes& command) { return Answer(command); });
        usbscan::Publish({0, kScannerPath, controller_});
    }

    // The reply to a command: status 0 and the bytes set for its command byte.
    Bytes Answer(const Bytes& command) {
        Bytes reply(64, 0);
        if (command.empty()) return reply;
        auto it = replies_.find(command[0]);
        if (it != replies_.end()) reply = it->second;
        return reply;
    }
    void SetReply(uint8_t command, std::map<size_t, uint8_t> bytes) {
        Bytes reply(64, 0);
        for (auto [at, value] : bytes) reply[at] = value;
        replies_[command] = reply;
    }

    // The full-form commands written so far with this command byte.
    std::vector<Bytes> Commands(uint8_t command) const {
        std::vector<Bytes> out;
        for (const Bytes& packet : controller_->Written(0x2010))
            if (!packet.empty() && packet[0] == command) out.push_back(packet);
        return out;
    }
    std::vector<Bytes> ShortCommands(uint8_t command) const {
        std::vector<Bytes> out;
        for (const Bytes& packet : controller_->Written(0x2012))
            if (!packet.empty() && packet[0] == command) out.push_back(packet);
        return out;
    }
    // Lamp masks sent with the lamp control command, in order.
    std::vector<uint8_t> LampMasks() const {
        std::vector<uint8_t> masks;
        for (const Bytes& packet : Commands(0x25)) masks.push_back(packet[2]);
        return masks;
    }
    size_t FirmwareDownloads() const { return Commands(0x69).size(); }

    ScratchDirectory windows_;
    std::string savedWindows_;
    std::shared_ptr<ScriptedController> controller_;
    std::map<uint8_t, Bytes> replies_;
    std::string trace_;
};

}  // namespace b58::testing

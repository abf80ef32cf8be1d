// The virtual scanner published as "\\.\UsbScan0" behind a recorder that keeps every command
// the driver sends, in order, and can change the scanner's faults when a given command goes
// out. The device is opened the way the driver opens it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/device_discovery.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "sim/virtual_scanner.h"
#include "state/driver_state.h"
#include "state/trace.h"

namespace b58::testing {

struct SentCommand {
    bool shortForm = false;
    std::vector<uint8_t> bytes;
};

class RecordingScanner : public usbscan::UsbBackend {
  public:
    explicit RecordingScanner(std::shared_ptr<sim::VirtualScanner> inner) : inner_(std::move(inner)) {}

    bool ControlOut(const usbscan::UsbSetup& setup, const uint8_t* data) override {
        if (setup.wValue == 0x2010 || setup.wValue == 0x2012) {
            std::function<void()> hook;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                sent_.push_back({setup.wValue == 0x2012, std::vector<uint8_t>(data, data + setup.wLength)});
                if (data[0] == hookCommand_ && ++hookSeen_ == hookAt_) hook = hook_;
            }
            if (hook) hook();
        }
        return inner_->ControlOut(setup, data);
    }
    bool ControlIn(const usbscan::UsbSetup& setup, uint8_t* data, uint32_t* transferred) override {
        return inner_->ControlIn(setup, data, transferred);
    }
    usbscan::BulkStatus BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) override {
        return inner_->BulkRead(data, length, transferred);
    }
    void CancelBulk() override { inner_->CancelBulk(); }

    // Runs `hook` just before the n-th (1-based) packet with this command byte is carried.
    void OnCommand(uint8_t command, uint32_t n, std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        hookCommand_ = command;
        hookAt_ = n;
        hookSeen_ = 0;
        hook_ = std::move(hook);
    }
    std::vector<SentCommand> Sent() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    std::vector<std::vector<uint8_t>> Sent(uint8_t command) const {
        std::vector<std::vector<uint8_t>> out;
        for (const SentCommand& c : Sent())
            if (c.bytes[0] == command) out.push_back(c.bytes);
        return out;
    }
    // The command bytes in the order sent, without the status queries and handshakes, which
    // repeat as often as the scanner asks.
    std::vector<uint8_t> Sequence() const {
        std::vector<uint8_t> out;
        for (const SentCommand& c : Sent())
            if (c.bytes[0] != 0x17 && c.bytes[0] != 0x35) out.push_back(c.bytes[0]);
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.clear();
    }
    sim::VirtualScanner& Inner() { return *inner_; }

  private:
    std::shared_ptr<sim::VirtualScanner> inner_;
    mutable std::mutex mutex_;
    std::vector<SentCommand> sent_;
    uint8_t hookCommand_ = 0;
    uint32_t hookAt_ = 0;
    uint32_t hookSeen_ = 0;
    std::function<void()> hook_;
};

inline constexpr char kCalibrationScannerPath[] =
    "\\\\?\\usb#vid_1a2b&pid_3c4d#9&31&0&4#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";

// Pauses shortened, trace captured, the scanner fast (no stream rate, no start delay, no
// motor time) unless the options say otherwise.
class VirtualScannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetDriverState();
        ResetTraceIndent();
        // Not shorter: the image reader's block time-out shrinks with the pauses, and a slow
        // (sanitised, loaded) run must not see a block as lost.
        platform::SetTimeScale(0.01);
        platform::SetDebugSink([this](const char* text) { trace_ += text; });
        usbscan::WithdrawAll();
    }
    void TearDown() override {
        if (device_ != INVALID_HANDLE_VALUE) CloseScanner(device_);
        g_state.DeviceHandle = INVALID_HANDLE_VALUE;
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
        g_state.DeviceHandle = device_;
    }

    std::shared_ptr<RecordingScanner> scanner_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    std::string trace_;
};

}  // namespace b58::testing

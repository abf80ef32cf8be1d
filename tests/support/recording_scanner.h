// The virtual scanner behind a recorder that keeps every command the driver sends, in order,
// and can change the scanner's faults when a given command goes out.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/usbscan/usb_backend.h"
#include "sim/virtual_scanner.h"

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

}  // namespace b58::testing

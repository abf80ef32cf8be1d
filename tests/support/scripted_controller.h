// A controller whose answers each test writes: it records every control transfer, answers
// command packets from a queue of replies (status 0 when the queue is empty), keeps a
// controller memory for the firmware blocks, and can be told to fail transfers.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/usbscan/class_driver.h"
#include "platform/usbscan/usb_backend.h"

namespace b58::testing {

using Bytes = std::vector<uint8_t>;

struct RecordedTransfer {
    usbscan::UsbSetup setup;
    Bytes data;  // what was written, or what was answered
    bool in = false;
};

class ScriptedController : public usbscan::UsbBackend {
  public:
    // Replies for the reply reads, in order; each is cut to the length asked for.
    void QueueReply(Bytes reply) {
        std::lock_guard<std::mutex> hold(lock_);
        replies_.push_back(std::move(reply));
    }
    void QueueStatus(uint8_t status, int times = 1) {
        for (int i = 0; i < times; ++i) QueueReply(Bytes{status});
    }
    // Answers every reply read the queue does not cover (default: status 0).
    void SetDefaultReply(Bytes reply) {
        std::lock_guard<std::mutex> hold(lock_);
        defaultReply_ = std::move(reply);
    }
    // Called for each reply read with the last command written; overrides the queue.
    void SetResponder(std::function<Bytes(const Bytes& command)> responder) {
        std::lock_guard<std::mutex> hold(lock_);
        responder_ = std::move(responder);
    }
    void FailOut(bool fail) { failOut_ = fail; }
    void FailIn(bool fail) { failIn_ = fail; }
    // Reads of controller memory at this address come back with one byte changed.
    void CorruptMemoryReadAt(int address) { corruptAt_ = address; }

    std::vector<RecordedTransfer> Transfers() const {
        std::lock_guard<std::mutex> hold(lock_);
        return log_;
    }
    // The data of every host-to-device transfer with this value word.
    std::vector<Bytes> Written(uint16_t value) const {
        std::vector<Bytes> out;
        for (const auto& t : Transfers())
            if (!t.in && t.setup.wValue == value) out.push_back(t.data);
        return out;
    }
    size_t Count(uint16_t value, bool in) const {
        size_t n = 0;
        for (const auto& t : Transfers())
            if (t.in == in && t.setup.wValue == value) ++n;
        return n;
    }
    Bytes Memory(size_t from, size_t length) const {
        std::lock_guard<std::mutex> hold(lock_);
        return Bytes(memory_.begin() + static_cast<long>(from),
                     memory_.begin() + static_cast<long>(from + length));
    }

    bool ControlOut(const usbscan::UsbSetup& setup, const uint8_t* data) override {
        std::lock_guard<std::mutex> hold(lock_);
        log_.push_back({setup, Bytes(data, data + setup.wLength), false});
        if (failOut_) return false;
        if (setup.wValue == 0x200B && setup.wIndex + setup.wLength <= memory_.size())
            std::memcpy(&memory_[setup.wIndex], data, setup.wLength);
        if (setup.wValue == 0x2010 || setup.wValue == 0x2012) lastCommand_ = log_.back().data;
        return true;
    }

    bool ControlIn(const usbscan::UsbSetup& setup, uint8_t* data, uint32_t* transferred) override {
        std::lock_guard<std::mutex> hold(lock_);
        Bytes answer;
        if (!failIn_) {
            if (setup.wValue == 0x200C) {
                if (setup.wIndex + setup.wLength <= memory_.size())
                    answer.assign(memory_.begin() + setup.wIndex,
                                  memory_.begin() + setup.wIndex + setup.wLength);
                if (setup.wIndex == corruptAt_ && !answer.empty()) answer[0] ^= 0x5A;
            } else if (responder_) {
                answer = responder_(lastCommand_);
            } else if (!replies_.empty()) {
                answer = std::move(replies_.front());
                replies_.pop_front();
            } else {
                answer = defaultReply_;
            }
        }
        if (answer.size() > setup.wLength) answer.resize(setup.wLength);
        if (!answer.empty()) std::memcpy(data, answer.data(), answer.size());
        *transferred = static_cast<uint32_t>(answer.size());
        log_.push_back({setup, answer, true});
        return !failIn_;
    }

    usbscan::BulkStatus BulkRead(uint8_t*, uint32_t, uint32_t* transferred) override {
        *transferred = 0;
        return usbscan::BulkStatus::Failed;
    }
    void CancelBulk() override {}

  private:
    mutable std::mutex lock_;
    std::vector<RecordedTransfer> log_;
    std::deque<Bytes> replies_;
    Bytes defaultReply_ = Bytes(64, 0);
    std::function<Bytes(const Bytes&)> responder_;
    Bytes lastCommand_;
    std::vector<uint8_t> memory_ = std::vector<uint8_t>(16384, 0);
    int corruptAt_ = -1;
    std::atomic<bool> failOut_{false};
    std::atomic<bool> failIn_{false};
};

}  // namespace b58::testing

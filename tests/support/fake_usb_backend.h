// A scriptable USB device for tests of the class driver and of the layers above it: it
// records every control transfer, answers device-to-host transfers from a script, and serves
// a bulk stream that tests feed, end and break.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/usbscan/usb_backend.h"

namespace b58::test {

class FakeUsbBackend : public usbscan::UsbBackend {
  public:
    struct ControlTransfer {
        usbscan::UsbSetup setup;
        std::vector<uint8_t> data;  // host to device: the bytes sent; device to host: the reply
    };
    using ReplyScript = std::function<std::vector<uint8_t>(const usbscan::UsbSetup&)>;

    // ---- control pipe ------------------------------------------------------------------
    bool ControlOut(const usbscan::UsbSetup& setup, const uint8_t* data) override {
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<uint8_t> bytes;
        if (data != nullptr) bytes.assign(data, data + setup.wLength);
        controls_.push_back({setup, std::move(bytes)});
        return !failControl_;
    }

    bool ControlIn(const usbscan::UsbSetup& setup, uint8_t* data, uint32_t* transferred) override {
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<uint8_t> reply;
        if (!replies_.empty()) {
            reply = std::move(replies_.front());
            replies_.pop_front();
        } else if (script_) {
            reply = script_(setup);
        } else {
            reply.assign(setup.wLength, 0);
        }
        if (reply.size() > setup.wLength) reply.resize(setup.wLength);
        if (failControl_) {
            // A failing device may still have scribbled into the transfer buffer.
            std::fill_n(data, setup.wLength, 0xEE);
            controls_.push_back({setup, {}});
            return false;
        }
        std::copy(reply.begin(), reply.end(), data);
        *transferred = static_cast<uint32_t>(reply.size());
        controls_.push_back({setup, std::move(reply)});
        return true;
    }

    // Answers device-to-host transfers; queued replies go first.
    void SetReplyScript(ReplyScript script) {
        std::lock_guard<std::mutex> hold(lock_);
        script_ = std::move(script);
    }
    void QueueReply(std::vector<uint8_t> reply) {
        std::lock_guard<std::mutex> hold(lock_);
        replies_.push_back(std::move(reply));
    }
    void FailControlTransfers(bool fail) {
        std::lock_guard<std::mutex> hold(lock_);
        failControl_ = fail;
    }
    std::vector<ControlTransfer> ControlTransfers() const {
        std::lock_guard<std::mutex> hold(lock_);
        return controls_;
    }

    // ---- bulk stream -------------------------------------------------------------------
    // A read waits until it can be filled, the stream has ended (then it gets what is left,
    // possibly nothing), a fault is injected, or CancelBulk is called while it waits. A
    // cancel that comes while no read waits is lost, as with a device that only ends what
    // it has pending.
    usbscan::BulkStatus BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) override {
        std::unique_lock<std::mutex> hold(lock_);
        readSizes_.push_back(length);
        changed_.notify_all();
        if (startDelay_.count() > 0) {
            // A read that has been called but does not wait yet: a cancel now is lost.
            hold.unlock();
            std::this_thread::sleep_for(startDelay_);
            hold.lock();
        }
        const uint64_t generation = cancelGeneration_;
        ++waitingReads_;
        changed_.notify_all();
        changed_.wait(hold, [&] {
            return stream_.size() >= length || ended_ || failNext_ || shortNext_ > 0 ||
                   cancelGeneration_ != generation;
        });
        --waitingReads_;
        *transferred = 0;
        if (failNext_) {
            failNext_ = false;
            return usbscan::BulkStatus::Failed;
        }
        if (cancelGeneration_ != generation && stream_.size() < length) return usbscan::BulkStatus::Cancelled;
        uint32_t count = std::min<uint32_t>(length, static_cast<uint32_t>(stream_.size()));
        if (shortNext_ > 0) {
            count = std::min(count, shortNext_);
            shortNext_ = 0;
        }
        std::copy_n(stream_.begin(), count, data);
        stream_.erase(stream_.begin(), stream_.begin() + count);
        *transferred = count;
        return usbscan::BulkStatus::Ok;
    }

    void CancelBulk() override {
        std::lock_guard<std::mutex> hold(lock_);
        ++cancelGeneration_;
        ++cancelCalls_;
        changed_.notify_all();
    }

    void AppendStream(const std::vector<uint8_t>& bytes) {
        std::lock_guard<std::mutex> hold(lock_);
        stream_.insert(stream_.end(), bytes.begin(), bytes.end());
        changed_.notify_all();
    }
    void EndStream() {
        std::lock_guard<std::mutex> hold(lock_);
        ended_ = true;
        changed_.notify_all();
    }
    // The next read fails, or ends after at most `bytes` bytes although more were asked for.
    void FailNextRead() {
        std::lock_guard<std::mutex> hold(lock_);
        failNext_ = true;
        changed_.notify_all();
    }
    void ShortenNextRead(uint32_t bytes) {
        std::lock_guard<std::mutex> hold(lock_);
        shortNext_ = std::max<uint32_t>(bytes, 1);
        changed_.notify_all();
    }

    // Every read pauses this long after it is called before it starts waiting for data.
    void DelayReadStart(std::chrono::milliseconds delay) {
        std::lock_guard<std::mutex> hold(lock_);
        startDelay_ = delay;
    }

    // Waits (up to a few seconds) until the device has been asked for `count` reads.
    bool WaitForReadCalls(size_t count) {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::seconds(5), [&] { return readSizes_.size() >= count; });
    }
    // Waits (up to a few seconds) until a read is waiting inside the device.
    bool WaitForWaitingRead() {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::seconds(5), [&] { return waitingReads_ > 0; });
    }
    std::vector<uint32_t> ReadSizes() const {
        std::lock_guard<std::mutex> hold(lock_);
        return readSizes_;
    }
    int CancelCalls() const {
        std::lock_guard<std::mutex> hold(lock_);
        return cancelCalls_;
    }

  private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<ControlTransfer> controls_;
    std::deque<std::vector<uint8_t>> replies_;
    ReplyScript script_;
    bool failControl_ = false;

    std::deque<uint8_t> stream_;
    bool ended_ = false;
    bool failNext_ = false;
    uint32_t shortNext_ = 0;
    uint64_t cancelGeneration_ = 0;
    int cancelCalls_ = 0;
    int waitingReads_ = 0;
    std::vector<uint32_t> readSizes_;
    std::chrono::milliseconds startDelay_{0};
};

}  // namespace b58::test

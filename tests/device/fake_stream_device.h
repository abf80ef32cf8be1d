// A device handle whose reads deliver a numbered byte stream, completing in order on a worker
// thread like a bulk pipe. Reads can be made short, stalled (pending until CancelIo) or
// refused at once. Every read is recorded with its size when it is issued.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/posix/kernel_object.h"

namespace b58::testing {

// Byte `offset` of the stream.
inline uint8_t StreamByte(uint64_t offset) {
    return static_cast<uint8_t>(offset * 7 + offset / 251);
}

class FakeStreamDevice : public platform::IoObject {
  public:
    enum class Fault { Short, Stall, Refuse };

    FakeStreamDevice() : worker_([this] { Work(); }) {}
    ~FakeStreamDevice() override {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stopping_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }

    // Read number `index` (counting from 0) gets the fault.
    void SetFault(size_t index, Fault fault) {
        std::lock_guard<std::mutex> hold(lock_);
        faults_[index] = fault;
    }
    // Called on the issuing thread at every read, before it is queued.
    void OnIssue(std::function<void(uint32_t size)> hook) { onIssue_ = std::move(hook); }

    std::vector<uint32_t> IssuedSizes() {
        std::lock_guard<std::mutex> hold(lock_);
        return issued_;
    }
    size_t CancelCount() {
        std::lock_guard<std::mutex> hold(lock_);
        return cancels_;
    }
    size_t PendingCount() {
        std::lock_guard<std::mutex> hold(lock_);
        return queue_.size();
    }

    BOOL Read(void* buffer, DWORD size, DWORD*, OVERLAPPED* overlapped) override {
        if (onIssue_) onIssue_(size);
        std::unique_lock<std::mutex> hold(lock_);
        const size_t index = issued_.size();
        issued_.push_back(size);
        auto fault = faults_.find(index);
        if (fault != faults_.end() && fault->second == Fault::Refuse) {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        platform::BeginOverlapped(overlapped);
        queue_.push_back({static_cast<uint8_t*>(buffer), size, overlapped,
                          fault == faults_.end() ? std::optional<Fault>() : fault->second});
        hold.unlock();
        changed_.notify_all();
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    BOOL Cancel() override {
        std::unique_lock<std::mutex> hold(lock_);
        ++cancels_;
        for (const Pending& p : queue_)
            platform::CompleteOverlapped(p.overlapped, ERROR_OPERATION_ABORTED, 0);
        queue_.clear();
        changed_.notify_all();
        return TRUE;
    }

  private:
    struct Pending {
        uint8_t* buffer;
        DWORD size;
        OVERLAPPED* overlapped;
        std::optional<Fault> fault;
    };

    void Work() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            changed_.wait(hold, [this] {
                return stopping_ || (!queue_.empty() && queue_.front().fault != Fault::Stall);
            });
            if (stopping_) return;
            Pending p = queue_.front();
            queue_.pop_front();
            const DWORD count = p.fault == Fault::Short ? p.size / 2 : p.size;
            for (DWORD i = 0; i < count; ++i) p.buffer[i] = StreamByte(offset_ + i);
            offset_ += count;
            platform::CompleteOverlapped(p.overlapped, ERROR_SUCCESS, count);
        }
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Pending> queue_;
    std::map<size_t, Fault> faults_;
    std::vector<uint32_t> issued_;
    std::function<void(uint32_t)> onIssue_;
    size_t cancels_ = 0;
    uint64_t offset_ = 0;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace b58::testing

#include "platform/usbscan/bulk_reader.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/posix/kernel_object.h"
#include "platform/usbscan/usb_capture.h"
#include "platform/usbscan/usbmon_record.h"

namespace b58::usbscan {
namespace {

// How often a cancel is repeated while the read it is meant for has not ended: a backend may
// miss a cancel that arrives just before its read starts waiting.
constexpr auto kCancelRepeat = std::chrono::milliseconds(10);

int32_t UrbStatus(BulkStatus status, bool present) {
    if (!present && status != BulkStatus::Ok) return kUrbShutdown;
    switch (status) {
        case BulkStatus::Ok:
            return kUrbOk;
        case BulkStatus::Cancelled:
            return kUrbUnlinked;
        case BulkStatus::Failed:
            break;
    }
    return kUrbProtocolError;
}

}  // namespace

BulkReader::BulkReader(std::shared_ptr<PublishedDevice> device) : device_(std::move(device)) {}

BulkReader::~BulkReader() {
    Shutdown();
}

bool BulkReader::Queue(uint8_t* buffer, DWORD size, OVERLAPPED* overlapped) {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) return false;
    // The worker first: when it cannot start (or the queue cannot grow) the exception leaves
    // nothing queued that would later complete into the caller's record.
    if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    queue_.push_back(
        Request{buffer, size, overlapped, cancelEpoch_, std::this_thread::get_id(), ++nextSerial_});
    changed_.notify_all();
    return true;
}

void BulkReader::CancelCallersReads() {
    Cancel(true);
}

void BulkReader::CancelAll() {
    Cancel(false);
}

void BulkReader::Cancel(bool onlyCallers) {
    const std::thread::id caller = std::this_thread::get_id();
    std::deque<Request> waiting;
    uint64_t target = 0;  // serial of a taken read that is one to cancel
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (onlyCallers) {
            auto others = std::stable_partition(queue_.begin(), queue_.end(),
                                                [caller](const Request& r) { return r.issuer != caller; });
            waiting.assign(others, queue_.end());
            queue_.erase(others, queue_.end());
        } else {
            ++cancelEpoch_;
            waiting.swap(queue_);
        }
        if (hasCurrent_ && (!onlyCallers || current_.issuer == caller)) {
            currentCancelled_ = true;
            target = current_.serial;
        }
    }
    for (const Request& request : waiting) {
        platform::CompleteOverlapped(request.overlapped, ERROR_OPERATION_ABORTED, 0);
    }

    std::unique_lock<std::mutex> hold(lock_);
    while (target != 0 && inDevice_ && current_.serial == target) {
        hold.unlock();
        device_->backend->CancelBulk();
        hold.lock();
        changed_.wait_for(hold, kCancelRepeat,
                          [this, target] { return !inDevice_ || current_.serial != target; });
    }
}

void BulkReader::Shutdown() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    CancelAll();
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void BulkReader::Run() {
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> hold(lock_);
            changed_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping, nothing left
            request = queue_.front();
            queue_.pop_front();
            current_ = request;
            hasCurrent_ = true;
            currentCancelled_ = false;
        }
        Outcome outcome = Serve(request);
        {
            std::lock_guard<std::mutex> hold(lock_);
            hasCurrent_ = false;
        }
        platform::CompleteOverlapped(request.overlapped, outcome.error, outcome.transferred);
    }
}

bool BulkReader::Cancelled(const Request& request) {
    std::lock_guard<std::mutex> hold(lock_);
    return request.epoch != cancelEpoch_ ||
           (hasCurrent_ && current_.serial == request.serial && currentCancelled_);
}

BulkReader::Outcome BulkReader::Serve(const Request& request) {
    // Reads of other handles on the same device go first if they hold the pipe.
    std::lock_guard<std::mutex> pipe(device_->bulkPipe);
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (request.epoch != cancelEpoch_ || currentCancelled_) return Outcome{ERROR_OPERATION_ABORTED, 0};
        inDevice_ = true;
    }
    Outcome outcome = ReadFromDevice(request);
    {
        std::lock_guard<std::mutex> hold(lock_);
        inDevice_ = false;
    }
    changed_.notify_all();
    return outcome;
}

BulkReader::Outcome BulkReader::ReadFromDevice(const Request& request) {
    const uint8_t address = device_->UsbAddress();
    DWORD total = 0;
    for (;;) {
        if (!device_->Present()) return Outcome{ERROR_DEVICE_NOT_CONNECTED, total};

        uint32_t room = request.size - total;
        uint32_t got = 0;
        uint64_t id = CaptureBulkInSubmit(address, kImageEndpoint, room);
        BulkStatus status = device_->backend->BulkRead(request.buffer + total, room, &got);
        got = std::min(got, room);
        bool present = device_->Present();
        CaptureBulkInComplete(id, address, kImageEndpoint, UrbStatus(status, present), request.buffer + total,
                              got);
        total += got;

        if (!present && status != BulkStatus::Ok) return Outcome{ERROR_DEVICE_NOT_CONNECTED, total};
        if (status == BulkStatus::Ok) return Outcome{ERROR_SUCCESS, total};
        if (status == BulkStatus::Failed) return Outcome{ERROR_GEN_FAILURE, total};
        if (Cancelled(request)) return Outcome{ERROR_OPERATION_ABORTED, total};
        // A cancel meant for an earlier read (repeated, or kept by the backend until its next
        // read): this read was not cancelled, so it goes on.
        if (total == request.size) return Outcome{ERROR_SUCCESS, total};
    }
}

}  // namespace b58::usbscan

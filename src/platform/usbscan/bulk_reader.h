// The reads of one device handle on the device's bulk image stream: queued, then served in
// order by the handle's own worker thread, each completing through its OVERLAPPED record.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/usbscan/published_device.h"
#include "platform/win32.h"

namespace b58::usbscan {

inline constexpr uint8_t kImageEndpoint = 0x81;  // bulk IN, endpoint 1

class BulkReader {
  public:
    explicit BulkReader(std::shared_ptr<PublishedDevice> device);
    ~BulkReader();
    BulkReader(const BulkReader&) = delete;
    BulkReader& operator=(const BulkReader&) = delete;

    // Queues a read of `size` bytes into `buffer`, to complete through `overlapped` (already
    // marked as started). False when the reader has been shut down.
    bool Queue(uint8_t* buffer, DWORD size, OVERLAPPED* overlapped);

    // Ends every read the calling thread queued, as CancelIo does on Windows (reads of other
    // threads go on): waiting ones complete with ERROR_OPERATION_ABORTED at once; one in the
    // device is cancelled there. Returns once none of them writes into its buffer any more.
    void CancelCallersReads();

    // Ends every read queued so far, whichever thread queued it, in the same way.
    void CancelAll();

    // Cancels everything and ends the worker; later reads are refused.
    void Shutdown();

  private:
    struct Request {
        uint8_t* buffer = nullptr;
        DWORD size = 0;
        OVERLAPPED* overlapped = nullptr;
        uint64_t epoch = 0;  // the cancel epoch it was queued in
        std::thread::id issuer;
        uint64_t serial = 0;
    };
    struct Outcome {
        DWORD error = ERROR_SUCCESS;
        DWORD transferred = 0;
    };

    void Cancel(bool onlyCallers);
    void Run();
    Outcome Serve(const Request& request);
    Outcome ReadFromDevice(const Request& request);
    bool Cancelled(const Request& request);

    const std::shared_ptr<PublishedDevice> device_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Request> queue_;  // guarded by lock_, and so are the three below
    uint64_t cancelEpoch_ = 0;   // raised by every CancelAll
    bool inDevice_ = false;      // the worker's read is in the backend
    Request current_;            // the read the worker has taken from the queue
    bool hasCurrent_ = false;
    bool currentCancelled_ = false;
    uint64_t nextSerial_ = 0;
    bool stopping_ = false;
    std::thread worker_;  // started with the first read
};

}  // namespace b58::usbscan

// One scan through the driver's entry points: the request, the read loop a few lines at a
// time, and each line shaped to the exact area with square pixels before it goes to a sink.
// The scanner must be open (OpenScanner); one scan runs at a time in a process.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "corner_offsets.h"
#include "driver_entry_points.h"
#include "line_sink.h"
#include "scan_request.h"

namespace b58::host {

enum class OpenResult { Open, InUse, NoScanner };

// _Open; on failure _Close releases what it kept, and tells a scanner held by another
// program from none at all. Close an open scanner with driver.close().
OpenResult OpenScanner(const DriverEntryPoints& driver);

// Asks a running scan to stop. Request() only stores to a lock-free atomic, so a signal
// handler or another thread may call it; the read loop then has the driver stop (its
// progress routine answers 0, and StopScan follows) within a few lines.
class ScanCancel {
  public:
    void Request() noexcept { requested_.store(true, std::memory_order_release); }
    bool Requested() const noexcept { return requested_.load(std::memory_order_acquire); }
    void Reset() noexcept { requested_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> requested_{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

enum class ScanEnd {
    Complete,
    Cancelled,   // by ScanCancel; the lines so far went to the sink
    Failed,      // the scanner stopped delivering; the lines so far went to the sink
    Refused,     // the driver refused the request or the start; nothing went to the sink
    SinkFailed,  // the sink reported an error (in message)
};

struct ScanOutcome {
    ScanEnd end = ScanEnd::Refused;
    uint32_t lines = 0;                       // lines the sink received
    ImageFormat format;                       // as given to the sink's Begin
    uint32_t driverXDpi = 0, driverYDpi = 0;  // what GetParameters reported
    std::string message;                      // for Refused, Failed and SinkFailed
};

struct ScanHooks {
    // Lines delivered so far of the total, after every read (on the scanning thread).
    std::function<void(uint32_t lines, uint32_t total)> progress;
    CornerOffsets offsets = ZeroCornerOffset;
    uint16_t linesPerRead = 8;
};

ScanOutcome RunScan(const DriverEntryPoints& driver, const ScanDescription& description, LineSink& sink,
                    const ScanCancel& cancel, const ScanHooks& hooks = {});

}  // namespace b58::host

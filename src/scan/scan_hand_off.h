// What the host's calls and a StopScan from another thread hand each other while a scan
// runs. StopScan may come from any thread at any moment (a UI thread, a signal handler's
// thread) while the host's scanning thread is inside ReadScannedData; the per-scan memory
// may only go once that call has left the line routines.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/win32.h"

namespace b58 {

class ScanHandOff {
  public:
    // ---- the scan's span: from a started reader thread until StopScan has finished ----
    void Begin() { running_.store(1, std::memory_order_release); }
    void End() { running_.store(0, std::memory_order_release); }
    // Calls that send commands are refused while this holds: the reader thread and StopScan
    // own the command buffers then.
    bool Running() const { return running_.load(std::memory_order_acquire) != 0; }

    // ---- host calls that convert lines ----
    // True when the call may go on and must call LeaveHostCall when done; false when a stop
    // has been asked for (then nothing is held). Either the call sees the stop here, or the
    // stopping side sees the call inside: both sides use sequentially consistent order.
    bool EnterHostCall(const std::atomic<int32_t>& stopRequested) {
        inside_.fetch_add(1, std::memory_order_seq_cst);
        if (stopRequested.load(std::memory_order_seq_cst) == 0) return true;
        LeaveHostCall();
        return false;
    }
    void LeaveHostCall() { inside_.fetch_sub(1, std::memory_order_release); }

    // Stopping side, after StopRequested has been set: waits until no host call is inside.
    // A call inside ends within one poll of its line routine; false when one is still inside
    // after `timeoutMs` (under the platform time scale), and its memory must then be kept.
    bool WaitForHostCalls(DWORD timeoutMs) const;

    // One StopScan at a time: a host whose read a stop from another thread ended calls
    // StopScan as well, and the two must not both close the reader and free the memory.
    std::unique_lock<std::mutex> SerialiseStop() { return std::unique_lock<std::mutex>(stopLock_); }

  private:
    std::mutex stopLock_;
    std::atomic<int32_t> running_{0};
    std::atomic<int32_t> inside_{0};
};

}  // namespace b58

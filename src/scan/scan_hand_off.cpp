#include "scan/scan_hand_off.h"

namespace b58 {
namespace {

// The line routines' own poll: the wait then keeps its measure under any time scale.
constexpr DWORD kHostCallPollMs = 100;

}  // namespace

bool ScanHandOff::WaitForHostCalls(DWORD timeoutMs) const {
    for (DWORD waited = 0;; waited += kHostCallPollMs) {
        if (inside_.load(std::memory_order_seq_cst) == 0) return true;
        if (waited >= timeoutMs) return false;
        Sleep(kHostCallPollMs);
    }
}

}  // namespace b58

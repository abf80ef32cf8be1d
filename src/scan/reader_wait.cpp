#include "scan/reader_wait.h"

#include "state/trace.h"

namespace b58 {

bool WaitForReaderToEnd(HANDLE thread) {
    if (thread == nullptr) return true;
    if (WaitForSingleObject(thread, kReaderEndWaitMs) == WAIT_OBJECT_0) return true;
    for (DWORD waited = 0; waited < kReaderExtraWaitMs; waited += kReaderEndWaitMs) {
        Trace("StopScan: reader thread still running, waiting");
        if (WaitForSingleObject(thread, kReaderEndWaitMs) == WAIT_OBJECT_0) return true;
    }
    return false;
}

}  // namespace b58

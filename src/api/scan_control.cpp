// The scan itself: StartScan calibrates, programs the window and starts the reader thread;
// ReadScannedData hands the host converted lines; StopScan ends the reader and frees the
// per-scan memory.
#include <cstring>
#include <vector>

#include "api/device_requests.h"
#include "api/driver.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "api/open_state.h"
#include "device/command_set.h"
#include "scan/line_routines.h"
#include "scan/reader_wait.h"
#include "scan/scan_run.h"
#include "scan/scan_start.h"
#include "scan/scan_start_steps.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr uint16_t kProgressInterval = 100;

// A ReadScannedData call inside the hand-off with StopScan, which frees nothing while one is.
class HostCall {
  public:
    explicit HostCall(ScanRun& run) : run_(run), inside_(run.EnterHostCall()) {}
    ~HostCall() { StepOut(); }
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;

    bool Inside() const { return inside_; }
    void StepOut() {
        if (inside_) run_.LeaveHostCall();
        inside_ = false;
    }
    // False when a stop came meanwhile; the call must then end without touching the scan.
    bool StepIn() {
        inside_ = run_.EnterHostCall();
        return inside_;
    }

  private:
    ScanRun& run_;
    bool inside_;
};

int32_t BeginScan(Driver& s, ScanStartRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner(s, "StartScan", record)) return 0;
    // Only a configured request can be scanned, and only one scan at a time: the reader of a
    // running scan owns the line ring.
    if (!s.Run.WorkingMemoryAllocated() || s.Run.LineRoutine == nullptr || s.ReaderRoutine == nullptr ||
        s.Run.ReaderThread() != nullptr) {
        return 0;
    }
    record->Status = kStatusScanStarting;
    s.Run.ProgressCallback = record->ProgressCallback;
    s.Run.ClearReaderFailed();
    ScanStart start{
        .link = s.Link(),
        .session = s.Session,
        .run = s.Run,
        .openTime = s.OpenTime,
        .shading = s.Shading,
        .lastStatus = s.LastStatus,
        .readerRoutine = s.ReaderRoutine,
        .switches = {s.ScanFromOrigin, s.ScanCalibrationArea, s.DirectReadMode, s.DirectReadPacing}};
    return RunStartScan(start, record);
}

int32_t DeliverLines(Driver& s, ReadRequest* request) {
    if (request == nullptr) return 0;
    const ScanSession& session = s.Session;
    ScanRun& run = s.Run;
    const LineContext lines{run, session, run.RepairNoise};
    request->Status = kStatusOk;
    const bool bgr = request->BgrOrder != 0;
    run.RedOffset = bgr ? 2 : 0;
    run.GreenOffset = 1;
    run.BlueOffset = bgr ? 0 : 2;
    request->LinesDone = 0;
    // A stopped scan has no further line, and its memory may be on its way out.
    HostCall call(run);
    if (!call.Inside()) {
        request->Status = kStatusNoFurtherLine;
        return 0;
    }
    // Without a started scan there is no ring to convert from.
    if (run.ReaderFailed() || !run.ReaderAlive() || run.LineRoutine == nullptr) {
        request->Status = kStatusNoFurtherLine;
        return 0;
    }
    if (request->LinesWanted != 0 && request->Buffer == nullptr) {
        request->Status = kStatusNoFurtherLine;
        return 0;
    }

    for (uint32_t i = 0; i < request->LinesWanted; ++i) {
        // The image has no further line: a line routine asked for one would wait for raw
        // lines the scanner never sends. A stop ends the call before the next line, also
        // when the ring holds lines enough that no routine would wait and notice it.
        if (run.LinesDelivered >= session.ImageLines || run.StopRequested()) {
            request->Status = kStatusNoFurtherLine;
            return 1;
        }
        if (run.PrerollPending) {
            // The pre-roll lines are converted and thrown away. They go to a line of our own,
            // not the host's first line: a stop between them and the first image line would
            // otherwise leave a converted line in a buffer the read reports as untouched.
            std::vector<uint8_t> discarded(session.LineBytes);
            for (uint16_t n = 0; n < kPrerollLines; ++n) {
                if (run.LineRoutine(lines, discarded.data()) != kLineDone) {
                    request->Status = kStatusNoFurtherLine;
                    return 1;
                }
            }
            run.PrerollPending = 0;
        }
        // Failed or stopped: nothing was written, so nothing is counted.
        if (run.LineRoutine(lines, request->Buffer + static_cast<size_t>(i) * session.LineBytes) !=
            kLineDone) {
            request->Status = kStatusNoFurtherLine;
            return 1;
        }
        ++request->LinesDone;
        ++run.LinesDelivered;
        if (i % kProgressInterval == 0 && run.ProgressCallback != nullptr) {
            // The progress routine may itself call StopScan: it runs outside the hand-off.
            call.StepOut();
            const bool goOn = run.ProgressCallback(request->LinesDone) != 0;
            const bool inside = call.StepIn();
            if (!goOn) {
                request->Status = kStatusStoppedByHost;
                return 1;
            }
            if (!inside) {
                request->Status = kStatusNoFurtherLine;
                return 1;
            }
        }
    }
    return 1;
}

int32_t EndScan(Driver& s, StopRecord* record) {
    ScanRun& run = s.Run;
    // Set before waiting for another StopScan, so that reads end at once whichever stop
    // frees the scan.
    run.RequestStop();
    const auto onlyStop = run.SerialiseStop();
    // A process that never opened the scanner has no scan of its own to stop, and its stop
    // command would end the scan of the process that holds the scanner. (Looked at under the
    // stop lock: another StopScan may be clearing the scan.)
    if (!run.ReaderAlive() && !run.WorkingMemoryAllocated() && !HostHoldsScanner(s, "StopScan", record))
        return 0;
    if (record != nullptr) record->Status = kStatusOk;
    if (!run.WaitForHostCalls(kReaderEndWaitMs)) {
        // A read still converting from the ring: its memory stays. Another StopScan waits again.
        Trace("StopScan: a read did not end, scan memory kept");
        return 0;
    }
    if (!WaitForReaderToEnd(run.ReaderThread())) {
        // The reader still owns the ring and the command buffers: leave both alone. Another
        // StopScan waits again; SetParameters refuses while the thread is kept.
        Trace("StopScan: reader thread did not end, scan memory kept");
        return 0;
    }
    run.ForgetReader();

    Sleep(1000);
    const int32_t stopped = SendStopCommand(s.DeviceHandle);
    s.LastStatus = SendKeyQuery(s);
    run.FreeMemory();
    run.End();
    // The key query answers last, but a scanner that refused the stop has not stopped.
    if (stopped == 0) {
        if (record != nullptr) record->Status = kStatusDeviceFailed;
        Trace("StopScan: the scanner refused the stop");
        return 0;
    }
    return s.LastStatus;
}

}  // namespace
}  // namespace b58

extern "C" {

B58_EXPORT int32_t B58_CALL StartScan(ScanStartRecord* record) {
    return b58::GuardExport("StartScan", record, [&] { return b58::BeginScan(b58::TheDriver(), record); });
}

B58_EXPORT int32_t B58_CALL ReadScannedData(ReadRequest* request) {
    return b58::GuardExport("ReadScannedData", request,
                            [&] { return b58::DeliverLines(b58::TheDriver(), request); });
}

B58_EXPORT int32_t B58_CALL StopScan(StopRecord* record) {
    return b58::GuardExport("StopScan", record, [&] { return b58::EndScan(b58::TheDriver(), record); });
}

}  // extern "C"

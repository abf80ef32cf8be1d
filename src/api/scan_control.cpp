// The scan itself: StartScan calibrates, programs the window and starts the reader thread;
// ReadScannedData hands the host converted lines; StopScan ends the reader and frees the
// per-scan memory.
#include <cstring>
#include <vector>

#include "api/device_requests.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "api/open_state.h"
#include "calibration/afe_calibration.h"
#include "calibration/boundary_detection.h"
#include "calibration/shading_calibration.h"
#include "contract/scanner_model.h"
#include "device/command_set.h"
#include "device/scan_geometry.h"
#include "scan/line_routines.h"
#include "scan/reader_threads.h"
#include "scan/reader_wait.h"
#include "scan/scan_run.h"
#include "scan/scan_start.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr uint16_t kOriginForwardSteps = Model().bed.originForwardSteps;
constexpr int kTaBackstepBase = Model().adapter.backstepBase;
constexpr uint16_t kAfeStripLines = Model().strips.afeLines;
constexpr uint16_t kShadingStripLines = Model().strips.shadingLines;
constexpr uint16_t kMaxCalibrationDpi = Model().strips.maxCalibrationDpi;
constexpr uint16_t kProgressInterval = 100;

bool MoveCarriageForward(Driver& s, uint16_t steps) {
    uint8_t data[kPacketSize - 2] = {};
    data[0] = static_cast<uint8_t>(steps & 0xFF);
    data[1] = static_cast<uint8_t>(steps >> 8);
    return ProcessCommandSendUserCommand(nullptr, kReportSilent, s.Link(),
                                         {kCmdMoveForward, data, sizeof data, nullptr, 0}) &&
           WaitScannerReady(s.DeviceHandle);
}

// StartScan ends early: the record tells why, the trace names the step.
int32_t StartFailed(ScanStartRecord* record, uint16_t status, const char* step) {
    record->Status = status;
    Trace("StartScan: %s failed", step);
    return 0;
}

// A step that talks to the scanner: its failure (a refused command, a failed transfer, a
// scanner that stays busy or is gone) ends the start, since every later step would build on
// values the scanner never confirmed.
int32_t DeviceStepFailed(ScanStartRecord* record, const char* step) {
    return StartFailed(record, kStatusDeviceFailed, step);
}

int CalibrateShadingForScan(Driver& s, const ScanSession& session, const ScanRun& run, uint16_t startLine) {
    // The adapter shades every scan, 48-bit ones too, through CalibrateShading: its strips
    // need the adapter's lamp and window bit, which the flatbed 16-bit routine never sends.
    const ShadingRequest request{.startLine = startLine,
                                 .lineCount = kShadingStripLines,
                                 .afe = session.Afe,
                                 .xDpi = session.RXDPI,
                                 .yDpi = session.RXDPI,
                                 .leftEdge = static_cast<uint16_t>(session.myStartx),
                                 .pixelMode = session.ScanPixelModeFlag != 0,
                                 .widthUnits = session.WidthUnits,
                                 .pixelFormatCode = session.PixelFormatCode,
                                 .taMode = session.TaMode,
                                 .taType = session.TaType,
                                 .dataWidth = session.DataWidth,
                                 .black = {session.RMinBlack, session.GMinBlack, session.BMinBlack},
                                 .BLACKSHADING = s.Shading.BLACKSHADING,
                                 .RAWDATA = s.Shading.RAWDATA,
                                 .FACTOR = s.Shading.FACTOR};
    const ShadingReferences references{run.WhiteRefR(), run.DarkRefR(),  run.WhiteRefG(),
                                       run.DarkRefG(),  run.WhiteRefB(), run.DarkRefB()};
    if (session.DataWidth == 16 && session.TaMode == 0)
        return CalibrateShading16(s.Link(), request, references);
    return CalibrateShading(s.Link(), request, {run.PixelMapR(), run.PixelMapG(), run.PixelMapB()},
                            references);
}

// An AFE search's values and black levels stay with the session: the scan and the next
// search start from them. The shading settings it read stay with the driver.
int KeepAfeResult(Driver& s, ScanSession& session, const CalibrationResult& result) {
    s.Shading = result.shading;
    if (result.found) {
        session.Afe = result.afe;
        session.RMinBlack = result.black.RMinBlack;
        session.GMinBlack = result.black.GMinBlack;
        session.BMinBlack = result.black.BMinBlack;
    }
    return result.status;
}

// An AFE search for this scan, its strips from startLine.
AfeSearchRequest AfeSearchFor(const ScanSession& session, uint16_t startLine) {
    return AfeSearchRequest{.startLine = startLine,
                            .lineCount = kAfeStripLines,
                            .pixelMode = session.ScanPixelModeFlag != 0,
                            .calibrationDpi = session.CalibrationDpi,
                            .pixelFormatCode = session.PixelFormatCode,
                            .taMode = session.TaMode,
                            .taType = session.TaType};
}

ScanWindowParameters ScanWindowForScan(const ScanSession& session, uint16_t modeField, int32_t deviceKind) {
    ScanWindowParameters w;
    w.myStartx = static_cast<uint16_t>(session.myStartx);
    w.myStarty = static_cast<uint16_t>(session.myStarty);
    w.HWWidth = session.HWWidth;
    w.HWHeight = session.HWHeight;
    w.RXDPI = session.RXDPI;
    w.SWWidth = session.SWWidth;
    w.SWHeight = session.SWHeight;
    w.PixelFormatCode = session.PixelFormatCode;
    w.DataWidth = session.DataWidth;
    w.WindowByte = session.WindowByte;
    w.InterfaceType = static_cast<uint16_t>(deviceKind);
    w.Option20_1 = 1;
    w.Option20_3 = session.ResolutionValid;
    w.TaMode = session.TaMode;
    w.ModeField = modeField;
    w.RYDPI = session.RYDPI;
    w.TrailingWord = 60;
    w.Wide16 = 1;
    w.Unused = 300;
    w.YMAXDPI = session.YMAXDPI;
    w.LAMPSTEP = session.LAMPSTEP;
    return w;
}

// What the reader thread of this scan works with.
ReaderContext ReaderContextFor(Driver& s, const ScanSession& session) {
    return {.run = &s.Run,
            .session = session,
            .device = s.DeviceHandle,
            .deviceKind = s.DeviceKind,
            .channel = &s.Channel,
            .imageReader = &s.ImageReader,
            .directRead = s.DirectReadMode != 0,
            .directReadPacing = s.DirectReadPacing};
}

// The steps of StartScan after the record checks; 0, with the record's Status telling why,
// when memory runs out, the scanner fails a step or the window does not fit the device.
int32_t RunStartScan(Driver& s, ScanSession& session, ScanStartRecord* record) {
    if (session.DataWidth == 16 && !s.Run.AllocateShadingReferences())
        return StartFailed(record, kStatusOutOfMemory, "allocating the shading references");
    session.CalibrationDpi = session.RXDPI > kMaxCalibrationDpi ? kMaxCalibrationDpi : session.RXDPI;
    s.LastStatus = WaitScannerReady(s.DeviceHandle);
    if (s.LastStatus == 0) return DeviceStepFailed(record, "waiting for the scanner");
    if (session.TaMode == 0) {
        s.LastStatus =
            KeepAfeResult(s, session, CalibrateAFE(s.Link(), AfeSearchFor(session, s.OpenTime.KSTARTY)));
        if (s.LastStatus == 0) return DeviceStepFailed(record, "AFE calibration");
    }

    // Large enough for any window the geometry accepts; also the bound search's table.
    const size_t tableEntries =
        3u * (session.SWHeight > kGeometryMaxOutputLines ? session.SWHeight : kGeometryMaxOutputLines);
    std::vector<uint16_t> lineTable(tableEntries);
    if (session.TaMode == 0) {
        const ScanOrigin origin = FindFlatbedBounds(s.Link(), session.Afe, lineTable.data());
        session.leftbound = origin.leftbound;
        session.TopLine = origin.TopLine;
        s.LastStatus = origin.status;
        if (s.LastStatus == 0) return DeviceStepFailed(record, "boundary detection");
    } else {
        s.LastStatus = KeepAfeResult(
            s, session, CalibrateAFEForTa(s.Link(), AfeSearchFor(session, s.OpenTime.TAKSTARTY)));
        if (s.LastStatus == 0) return DeviceStepFailed(record, "adapter AFE calibration");
        TaOrigin origin{session.leftbound, session.TopLine};
        s.LastStatus = FindTaBounds(s.Link(), {session.Afe, session.YMAXDPI, session.LAMPSTEP}, &origin);
        session.leftbound = origin.leftbound;
        session.TopLine = origin.TopLine;
        if (origin.sized) {
            session.HWWidth = origin.HWWidth;
            session.HWHeight = origin.HWHeight;
        }
        if (s.LastStatus == 0) return DeviceStepFailed(record, "adapter boundary detection");
        session.Backstep = kTaBackstepBase - session.TopLine;
        // A top found below the base needs no move; as a 16-bit step count a negative
        // backstep would run the carriage tens of thousands of steps.
        if (session.Backstep > 0 && !MoveCarriageForward(s, static_cast<uint16_t>(session.Backstep)))
            return DeviceStepFailed(record, "carriage move");
        Trace("leftbound=%d,TopLine=%d,Backstep=%d", session.leftbound, session.TopLine, session.Backstep);
    }

    HorizontalStartInput across;
    across.windowLeft = session.WindowLeft;
    across.leftbound = session.leftbound;
    across.leftAdd = s.OpenTime.LEFTADD;
    across.taMode = session.TaMode != 0;
    across.scanFromOrigin = s.ScanFromOrigin != 0;
    across.pixelMode = session.ScanPixelModeFlag != 0;
    across.taType = session.TaType;
    across.rxdpi = session.RXDPI;
    across.pixelFormatCode = session.PixelFormatCode;
    const HorizontalStart start = ComputeHorizontalStart(across);
    session.myStartx = start.myStartx;
    session.WindowStartX = start.windowStartX;
    Trace("myStartx=%d,", session.myStartx);

    if (session.TaMode != 0 && s.ScanFromOrigin == 0) {
        s.LastStatus = CalibrateShadingForScan(s, session, s.Run, s.OpenTime.TAKSTARTY);
        if (s.LastStatus == 0) return DeviceStepFailed(record, "shading calibration");
    }
    if (s.ScanFromOrigin != 0 && !MoveCarriageForward(s, kOriginForwardSteps))
        return DeviceStepFailed(record, "carriage move");
    if (session.TaMode == 0) {
        session.ShadingStartLine = ComputeShadingStartLine(session.TopLine);
        if (s.ScanCalibrationArea != 1) {
            s.LastStatus =
                CalibrateShadingForScan(s, session, s.Run, static_cast<uint16_t>(session.ShadingStartLine));
            if (s.LastStatus == 0) return DeviceStepFailed(record, "shading calibration");
        }
    }

    session.HeightMinus =
        session.YMAXDPI ? static_cast<uint16_t>(session.LAMPSTEP * session.RXDPI / session.YMAXDPI) : 0;
    Trace("HeightMinus=%d,LAMPSTEP=%d,RXDPI=%d,YMAXDPI=%d", session.HeightMinus, session.LAMPSTEP,
          session.RXDPI, session.YMAXDPI);
    s.Run.PrerollPending = 1;
    const ScanGeometry geometry =
        ComputeScanGeometry({.planeLineOffset = static_cast<uint8_t>(session.LAMPSTEP),
                             .pixelFormatCode = session.PixelFormatCode,
                             .baseX = Model().sensor.baseDpi,
                             .baseY = session.YMAXDPI,
                             .targetX = session.RXDPI,
                             .targetY = session.RYDPI,
                             .xCount = session.WidthUnits,
                             .yCount = static_cast<uint16_t>(session.MotorLines + session.LAMPSTEP)},
                            lineTable.data());
    if (geometry.sized) {
        session.HWWidth = geometry.HWWidth;
        session.HWHeight = geometry.HWHeight;
        session.SWWidth = geometry.SWWidth;
        session.SWHeight = geometry.SWHeight;
    }

    VerticalStartInput down;
    down.windowTop = session.WindowTop;
    down.taTopAdd = s.OpenTime.TATOPADD;
    down.topAdd = s.OpenTime.TOPADD;
    down.lampStep = session.LAMPSTEP;
    down.kStartY = s.OpenTime.KSTARTY;
    down.taType = session.TaType;
    down.rxdpi = session.RXDPI;
    down.rydpi = session.RYDPI;
    down.topLine = session.TopLine;
    down.shadingStartLine = session.ShadingStartLine;
    down.scanCalibrationArea = s.ScanCalibrationArea != 0;
    down.scanFromOrigin = s.ScanFromOrigin != 0;
    if (!down.scanCalibrationArea && !down.scanFromOrigin) Trace("RYDPI=%d", session.RYDPI);
    const int32_t starty = ComputeVerticalStart(down);
    // The device reads both starts as signed 16-bit values and the window must lie on the
    // sensor: a wrapped start would scan the calibration strip, a start past the sensor noise.
    if (starty > INT16_MAX || session.myStartx < 0 || session.myStartx + session.HWWidth > kMaxLinePixels)
        return StartFailed(record, kStatusRequestRejected, "placing the window on the device");
    session.myStarty = static_cast<int16_t>(starty);
    Trace("myStarty=%d,Top=%d,TATopAdd=%d,LAMPSTEP=%d,TopLine=%d", session.myStarty, session.WindowTop,
          s.OpenTime.TATOPADD, session.LAMPSTEP, session.TopLine);
    if (session.myStarty < 0) session.myStarty = 0;

    const uint16_t modeField =
        ComputeScanModeField(session.ScanPixelModeFlag != 0, session.TaMode != 0, session.TaType);
    WindowRun run{session.myStarty, session.SWHeight, session.HWHeight};
    if (!ApplyPreroll(run)) {
        Trace("StartScan: window of %d lines too tall", session.HWHeight);
        return StartFailed(record, kStatusRequestRejected, "placing the window on the device");
    }
    session.myStarty = run.myStarty;
    session.SWHeight = run.swHeight;
    session.HWHeight = run.hwHeight;
    Trace("Trel HWWidth=%d,HWHeight=%d,RXDPI=%d,SWWidth=%d,SWHeight=%d,DataWidth=%d,RYDPI=%d",
          session.HWWidth, session.HWHeight, session.RXDPI, session.SWWidth, session.SWHeight,
          session.DataWidth, session.RYDPI);

    s.LastStatus = ProcessCommandSetScanWindowN(nullptr, kReportSilent, s.Link(),
                                                ScanWindowForScan(session, modeField, s.DeviceKind));
    if (s.LastStatus == 0) return DeviceStepFailed(record, "scan window");
    s.LastStatus = SetAFEParameters(nullptr, kReportSilent, s.Link(), session.Afe);
    if (s.LastStatus == 0) return DeviceStepFailed(record, "AFE values");
    s.Run.ClearStop();
    s.LastStatus = WaitScannerReady(s.DeviceHandle);
    if (s.LastStatus == 0) return DeviceStepFailed(record, "waiting for the scanner");
    s.LastStatus = ProcessCommandSetStartScan(nullptr, kReportSilent, s.Link());
    if (s.LastStatus == 0) return DeviceStepFailed(record, "scan start");
    s.Run.NextLineIndex = 0;
    s.Run.LinesDelivered = 0;

    if (!s.Run.StartReader(s.ReaderRoutine, ReaderContextFor(s, session)))
        return StartFailed(record, kStatusOutOfMemory, "creating the reader thread");
    s.Run.Begin();
    Trace("Leave StartScan()");
    return s.LastStatus;
}

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
    return RunStartScan(s, s.Session, record);
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

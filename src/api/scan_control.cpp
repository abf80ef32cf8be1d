// The scan itself: StartScan calibrates, programs the window and starts the reader thread;
// ReadScannedData hands the host converted lines; StopScan ends the reader and frees the
// per-scan memory.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/device_requests.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "api/open_state.h"
#include "api/scan_memory.h"
#include "calibration/afe_calibration.h"
#include "calibration/boundary_detection.h"
#include "calibration/shading_calibration.h"
#include "device/command_set.h"
#include "device/scan_geometry.h"
#include "contract/scanner_model.h"
#include "scan/reader_wait.h"
#include "scan/scan_start.h"
#include "state/driver_state.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr size_t kShadingReferenceBytes = 29'600;
constexpr uint16_t kOriginForwardSteps = Model().bed.originForwardSteps;
constexpr int kTaBackstepBase = Model().adapter.backstepBase;
constexpr uint16_t kAfeStripLines = Model().strips.afeLines;
constexpr uint16_t kShadingStripLines = Model().strips.shadingLines;
constexpr uint16_t kMaxCalibrationDpi = Model().strips.maxCalibrationDpi;
constexpr uint16_t kProgressInterval = 100;

bool AllocateShadingReferences() {
    uint16_t** refs[] = {&g_state.WhiteRefR, &g_state.WhiteRefG, &g_state.WhiteRefB,
                         &g_state.DarkRefR,  &g_state.DarkRefG,  &g_state.DarkRefB};
    bool complete = true;
    for (uint16_t** ref : refs) {
        std::free(*ref);
        *ref = static_cast<uint16_t*>(std::calloc(1, kShadingReferenceBytes));
        complete = complete && *ref != nullptr;
    }
    return complete;
}

bool MoveCarriageForward(uint16_t steps) {
    uint8_t data[kPacketSize - 2] = {};
    data[0] = static_cast<uint8_t>(steps & 0xFF);
    data[1] = static_cast<uint8_t>(steps >> 8);
    return ProcessCommandSendUserCommand(nullptr, kReportSilent, g_state.DeviceHandle, g_state.DeviceKind,
                                         kCmdMoveForward, data, sizeof data, nullptr, 0) &&
           WaitScannerReady(g_state.DeviceHandle);
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

int CalibrateShadingForScan(uint16_t startLine) {
    DriverState& s = g_state;
    // The adapter shades every scan, 48-bit ones too, through CalibrateShading: its strips
    // need the adapter's lamp and window bit, which the flatbed 16-bit routine never sends.
    const ShadingRequest request{.startLine = startLine,
                                 .lineCount = kShadingStripLines,
                                 .afe = {s.ROffset, s.RGain, s.GOffset, s.GGain, s.BOffset, s.BGain},
                                 .xDpi = s.RXDPI,
                                 .yDpi = s.RXDPI,
                                 .leftEdge = static_cast<uint16_t>(s.myStartx),
                                 .pixelMode = s.ScanPixelModeFlag != 0,
                                 .widthUnits = s.WidthUnits,
                                 .pixelFormatCode = s.PixelFormatCode,
                                 .taMode = s.TaMode,
                                 .dataWidth = s.DataWidth};
    if (s.DataWidth == 16 && s.TaMode == 0)
        return CalibrateShading16(
            s.DeviceHandle, request,
            {s.WhiteRefR, s.DarkRefR, s.WhiteRefG, s.DarkRefG, s.WhiteRefB, s.DarkRefB});
    return CalibrateShading(s.DeviceHandle, request, {s.PixelMapR, s.PixelMapG, s.PixelMapB});
}

// An AFE search for this scan, its strips from startLine.
AfeSearchRequest AfeSearchFor(uint16_t startLine) {
    const DriverState& s = g_state;
    return AfeSearchRequest{.startLine = startLine,
                            .lineCount = kAfeStripLines,
                            .pixelMode = s.ScanPixelModeFlag != 0,
                            .calibrationDpi = s.CalibrationDpi,
                            .pixelFormatCode = s.PixelFormatCode};
}

ScanWindowParameters ScanWindowForScan(uint16_t modeField) {
    const DriverState& s = g_state;
    ScanWindowParameters w;
    w.myStartx = static_cast<uint16_t>(s.myStartx);
    w.myStarty = static_cast<uint16_t>(s.myStarty);
    w.HWWidth = s.HWWidth;
    w.HWHeight = s.HWHeight;
    w.RXDPI = s.RXDPI;
    w.SWWidth = s.SWWidth;
    w.SWHeight = s.SWHeight;
    w.PixelFormatCode = s.PixelFormatCode;
    w.DataWidth = s.DataWidth;
    w.WindowByte = s.WindowByte;
    w.InterfaceType = static_cast<uint16_t>(s.DeviceKind);
    w.Option20_1 = 1;
    w.Option20_3 = s.ResolutionValid;
    w.TaMode = s.TaMode;
    w.ModeField = modeField;
    w.RYDPI = s.RYDPI;
    w.TrailingWord = 60;
    w.Wide16 = 1;
    w.Unused = 300;
    w.YMAXDPI = s.YMAXDPI;
    w.LAMPSTEP = s.LAMPSTEP;
    return w;
}

// The steps of StartScan after the record checks; 0, with the record's Status telling why,
// when memory runs out, the scanner fails a step or the window does not fit the device.
int32_t RunStartScan(ScanStartRecord* record) {
    DriverState& s = g_state;
    if (s.DataWidth == 16 && !AllocateShadingReferences())
        return StartFailed(record, kStatusOutOfMemory, "allocating the shading references");
    s.CalibrationDpi = s.RXDPI > kMaxCalibrationDpi ? kMaxCalibrationDpi : s.RXDPI;
    s.LastStatus = WaitScannerReady(s.DeviceHandle);
    if (s.LastStatus == 0) return DeviceStepFailed(record, "waiting for the scanner");
    if (s.TaMode == 0) {
        s.LastStatus = CalibrateAFE(s.DeviceHandle, AfeSearchFor(s.KSTARTY)).status;
        if (s.LastStatus == 0) return DeviceStepFailed(record, "AFE calibration");
    }

    // Large enough for any window the geometry accepts; also the bound search's table.
    const size_t tableEntries =
        3u * (s.SWHeight > kGeometryMaxOutputLines ? s.SWHeight : kGeometryMaxOutputLines);
    std::vector<uint16_t> lineTable(tableEntries);
    if (s.TaMode == 0) {
        const ScanOrigin origin =
            FindFlatbedBounds(s.DeviceHandle, s.DeviceKind,
                              {s.ROffset, s.RGain, s.GOffset, s.GGain, s.BOffset, s.BGain}, lineTable.data());
        s.leftbound = origin.leftbound;
        s.TopLine = origin.TopLine;
        s.LastStatus = origin.status;
        if (s.LastStatus == 0) return DeviceStepFailed(record, "boundary detection");
    } else {
        s.LastStatus = CalibrateAFEForTa(s.DeviceHandle, AfeSearchFor(s.TAKSTARTY)).status;
        if (s.LastStatus == 0) return DeviceStepFailed(record, "adapter AFE calibration");
        s.LastStatus = FindTaBounds(&s.leftbound, &s.TopLine);
        if (s.LastStatus == 0) return DeviceStepFailed(record, "adapter boundary detection");
        s.Backstep = kTaBackstepBase - s.TopLine;
        // A top found below the base needs no move; as a 16-bit step count a negative
        // backstep would run the carriage tens of thousands of steps.
        if (s.Backstep > 0 && !MoveCarriageForward(static_cast<uint16_t>(s.Backstep)))
            return DeviceStepFailed(record, "carriage move");
        Trace("leftbound=%d,TopLine=%d,Backstep=%d", s.leftbound, s.TopLine, s.Backstep);
    }

    HorizontalStartInput across;
    across.windowLeft = s.WindowLeft;
    across.leftbound = s.leftbound;
    across.leftAdd = s.LEFTADD;
    across.taMode = s.TaMode != 0;
    across.scanFromOrigin = s.ScanFromOrigin != 0;
    across.pixelMode = s.ScanPixelModeFlag != 0;
    across.taType = s.TaType;
    across.rxdpi = s.RXDPI;
    across.pixelFormatCode = s.PixelFormatCode;
    const HorizontalStart start = ComputeHorizontalStart(across);
    s.myStartx = start.myStartx;
    s.WindowStartX = start.windowStartX;
    Trace("myStartx=%d,", s.myStartx);

    if (s.TaMode != 0 && s.ScanFromOrigin == 0) {
        s.LastStatus = CalibrateShadingForScan(s.TAKSTARTY);
        if (s.LastStatus == 0) return DeviceStepFailed(record, "shading calibration");
    }
    if (s.ScanFromOrigin != 0 && !MoveCarriageForward(kOriginForwardSteps))
        return DeviceStepFailed(record, "carriage move");
    if (s.TaMode == 0) {
        s.ShadingStartLine = ComputeShadingStartLine(s.TopLine);
        if (s.ScanCalibrationArea != 1) {
            s.LastStatus = CalibrateShadingForScan(static_cast<uint16_t>(s.ShadingStartLine));
            if (s.LastStatus == 0) return DeviceStepFailed(record, "shading calibration");
        }
    }

    s.HeightMinus = s.YMAXDPI ? static_cast<uint16_t>(s.LAMPSTEP * s.RXDPI / s.YMAXDPI) : 0;
    Trace("HeightMinus=%d,LAMPSTEP=%d,RXDPI=%d,YMAXDPI=%d", s.HeightMinus, s.LAMPSTEP, s.RXDPI, s.YMAXDPI);
    s.PrerollPending = 1;
    const ScanGeometry geometry =
        ComputeScanGeometry({.planeLineOffset = static_cast<uint8_t>(s.LAMPSTEP),
                             .pixelFormatCode = s.PixelFormatCode,
                             .baseX = Model().sensor.baseDpi,
                             .baseY = s.YMAXDPI,
                             .targetX = s.RXDPI,
                             .targetY = s.RYDPI,
                             .xCount = s.WidthUnits,
                             .yCount = static_cast<uint16_t>(s.MotorLines + s.LAMPSTEP)},
                            lineTable.data());
    if (geometry.sized) {
        s.HWWidth = geometry.HWWidth;
        s.HWHeight = geometry.HWHeight;
        s.SWWidth = geometry.SWWidth;
        s.SWHeight = geometry.SWHeight;
    }

    VerticalStartInput down;
    down.windowTop = s.WindowTop;
    down.taTopAdd = s.TATOPADD;
    down.topAdd = s.TOPADD;
    down.lampStep = s.LAMPSTEP;
    down.kStartY = s.KSTARTY;
    down.taType = s.TaType;
    down.rxdpi = s.RXDPI;
    down.rydpi = s.RYDPI;
    down.topLine = s.TopLine;
    down.shadingStartLine = s.ShadingStartLine;
    down.scanCalibrationArea = s.ScanCalibrationArea != 0;
    down.scanFromOrigin = s.ScanFromOrigin != 0;
    if (!down.scanCalibrationArea && !down.scanFromOrigin) Trace("RYDPI=%d", s.RYDPI);
    const int32_t starty = ComputeVerticalStart(down);
    // The device reads both starts as signed 16-bit values and the window must lie on the
    // sensor: a wrapped start would scan the calibration strip, a start past the sensor noise.
    if (starty > INT16_MAX || s.myStartx < 0 || s.myStartx + s.HWWidth > kMaxLinePixels)
        return StartFailed(record, kStatusRequestRejected, "placing the window on the device");
    s.myStarty = static_cast<int16_t>(starty);
    Trace("myStarty=%d,Top=%d,TATopAdd=%d,LAMPSTEP=%d,TopLine=%d", s.myStarty, s.WindowTop, s.TATOPADD,
          s.LAMPSTEP, s.TopLine);
    if (s.myStarty < 0) s.myStarty = 0;

    const uint16_t modeField = ComputeScanModeField(s.ScanPixelModeFlag != 0, s.TaMode != 0, s.TaType);
    WindowRun run{s.myStarty, s.SWHeight, s.HWHeight};
    if (!ApplyPreroll(run)) {
        Trace("StartScan: window of %d lines too tall", s.HWHeight);
        return StartFailed(record, kStatusRequestRejected, "placing the window on the device");
    }
    s.myStarty = run.myStarty;
    s.SWHeight = run.swHeight;
    s.HWHeight = run.hwHeight;
    Trace("Trel HWWidth=%d,HWHeight=%d,RXDPI=%d,SWWidth=%d,SWHeight=%d,DataWidth=%d,RYDPI=%d", s.HWWidth,
          s.HWHeight, s.RXDPI, s.SWWidth, s.SWHeight, s.DataWidth, s.RYDPI);

    s.LastStatus = ProcessCommandSetScanWindowN(nullptr, kReportSilent, s.DeviceHandle, s.DeviceKind,
                                                ScanWindowForScan(modeField));
    if (s.LastStatus == 0) return DeviceStepFailed(record, "scan window");
    s.LastStatus = SetAFEParameters(nullptr, kReportSilent, s.DeviceHandle, s.DeviceKind, s.ROffset, s.RGain,
                                    s.GOffset, s.GGain, s.BOffset, s.BGain);
    if (s.LastStatus == 0) return DeviceStepFailed(record, "AFE values");
    s.StopRequested.store(0, std::memory_order_release);
    s.LastStatus = WaitScannerReady(s.DeviceHandle);
    if (s.LastStatus == 0) return DeviceStepFailed(record, "waiting for the scanner");
    s.LastStatus = ProcessCommandSetStartScan(nullptr, kReportSilent, s.DeviceHandle, s.DeviceKind);
    if (s.LastStatus == 0) return DeviceStepFailed(record, "scan start");
    s.NextLineIndex = 0;
    s.LinesDelivered = 0;

    s.ReaderThread = CreateThread(nullptr, 1, s.ReaderRoutine, nullptr, 0, &s.ReaderThreadId);
    if (s.ReaderThread == nullptr)
        return StartFailed(record, kStatusOutOfMemory, "creating the reader thread");
    s.ScanCalls.Begin();
    Trace("Leave StartScan()");
    return s.LastStatus;
}

// A ReadScannedData call inside the hand-off with StopScan, which frees nothing while one is.
class HostCall {
  public:
    explicit HostCall(DriverState& s) : s_(s), inside_(s.ScanCalls.EnterHostCall(s.StopRequested)) {}
    ~HostCall() { StepOut(); }
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;

    bool Inside() const { return inside_; }
    void StepOut() {
        if (inside_) s_.ScanCalls.LeaveHostCall();
        inside_ = false;
    }
    // False when a stop came meanwhile; the call must then end without touching the scan.
    bool StepIn() {
        inside_ = s_.ScanCalls.EnterHostCall(s_.StopRequested);
        return inside_;
    }

  private:
    DriverState& s_;
    bool inside_;
};

int32_t BeginScan(ScanStartRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner("StartScan", record)) return 0;
    // Only a configured request can be scanned, and only one scan at a time: the reader of a
    // running scan owns the line ring.
    if (!g_state.WorkingMemoryAllocated || g_state.LineRoutine == nullptr ||
        g_state.ReaderRoutine == nullptr || g_state.ReaderThread != nullptr) {
        return 0;
    }
    record->Status = kStatusScanStarting;
    g_state.ProgressCallback = record->ProgressCallback;
    g_state.ReaderFailed.store(0, std::memory_order_release);
    return RunStartScan(record);
}

int32_t DeliverLines(ReadRequest* request) {
    if (request == nullptr) return 0;
    DriverState& s = g_state;
    request->Status = kStatusOk;
    const bool bgr = request->BgrOrder != 0;
    s.RedOffset = bgr ? 2 : 0;
    s.GreenOffset = 1;
    s.BlueOffset = bgr ? 0 : 2;
    request->LinesDone = 0;
    // A stopped scan has no further line, and its memory may be on its way out.
    HostCall call(s);
    if (!call.Inside()) {
        request->Status = kStatusNoFurtherLine;
        return 0;
    }
    // Without a started scan there is no ring to convert from.
    if (s.ReaderFailed.load(std::memory_order_acquire) || s.ReaderThread == nullptr ||
        s.LineRoutine == nullptr) {
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
        if (s.LinesDelivered >= s.ImageLines || s.StopRequested.load(std::memory_order_acquire)) {
            request->Status = kStatusNoFurtherLine;
            return 1;
        }
        if (s.PrerollPending) {
            for (uint16_t n = 0; n < kPrerollLines; ++n) {
                if (s.LineRoutine(request->Buffer) != kLineDone) {
                    request->Status = kStatusNoFurtherLine;
                    return 1;
                }
            }
            s.PrerollPending = 0;
        }
        // Failed or stopped: nothing was written, so nothing is counted.
        if (s.LineRoutine(request->Buffer + static_cast<size_t>(i) * s.LineBytes) != kLineDone) {
            request->Status = kStatusNoFurtherLine;
            return 1;
        }
        ++request->LinesDone;
        ++s.LinesDelivered;
        if (i % kProgressInterval == 0 && s.ProgressCallback != nullptr) {
            // The progress routine may itself call StopScan: it runs outside the hand-off.
            call.StepOut();
            const bool goOn = s.ProgressCallback(request->LinesDone) != 0;
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

int32_t EndScan(StopRecord* record) {
    DriverState& s = g_state;
    // Sequentially consistent: a ReadScannedData entering now either sees the stop or is
    // seen inside by the wait below. Set before waiting for another StopScan, so that reads
    // end at once whichever stop frees the scan.
    s.StopRequested.store(1, std::memory_order_seq_cst);
    const auto onlyStop = s.ScanCalls.SerialiseStop();
    // A process that never opened the scanner has no scan of its own to stop, and its stop
    // command would end the scan of the process that holds the scanner. (Looked at under the
    // stop lock: another StopScan may be clearing the scan.)
    if (s.ReaderThread == nullptr && !s.WorkingMemoryAllocated && !HostHoldsScanner("StopScan", record))
        return 0;
    if (record != nullptr) record->Status = kStatusOk;
    if (!s.ScanCalls.WaitForHostCalls(kReaderEndWaitMs)) {
        // A read still converting from the ring: its memory stays. Another StopScan waits again.
        Trace("StopScan: a read did not end, scan memory kept");
        return 0;
    }
    if (!WaitForReaderToEnd(s.ReaderThread)) {
        // The reader still owns the ring and the command buffers: leave both alone. Another
        // StopScan waits again; SetParameters refuses while the thread is kept.
        Trace("StopScan: reader thread did not end, scan memory kept");
        return 0;
    }
    if (s.ReaderThread != nullptr) CloseHandle(s.ReaderThread);
    s.ReaderThread = nullptr;
    s.ReaderThreadId = 0;

    Sleep(1000);
    const int32_t stopped = SendStopCommand(s.DeviceHandle);
    s.LastStatus = SendKeyQuery();
    FreeScanMemory();
    s.ScanCalls.End();
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
    return b58::GuardExport("StartScan", record, [&] { return b58::BeginScan(record); });
}

B58_EXPORT int32_t B58_CALL ReadScannedData(ReadRequest* request) {
    return b58::GuardExport("ReadScannedData", request, [&] { return b58::DeliverLines(request); });
}

B58_EXPORT int32_t B58_CALL StopScan(StopRecord* record) {
    return b58::GuardExport("StopScan", record, [&] { return b58::EndScan(record); });
}

}  // extern "C"

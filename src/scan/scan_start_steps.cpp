#include "scan/scan_start_steps.h"

#include <vector>

#include "calibration/afe_calibration.h"
#include "calibration/boundary_detection.h"
#include "calibration/shading_calibration.h"
#include "contract/scanner_model.h"
#include "device/command_set.h"
#include "device/scan_geometry.h"
#include "scan/reader_threads.h"
#include "scan/scan_start.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr uint16_t kOriginForwardSteps = Model().bed.originForwardSteps;
constexpr int kTaBackstepBase = Model().adapter.backstepBase;
constexpr uint16_t kAfeStripLines = Model().strips.afeLines;
constexpr uint16_t kShadingStripLines = Model().strips.shadingLines;
constexpr uint16_t kMaxCalibrationDpi = Model().strips.maxCalibrationDpi;

bool MoveCarriageForward(ScanStart& s, uint16_t steps) {
    uint8_t data[Model().connection.commandPacketSize - 2] = {};
    data[0] = static_cast<uint8_t>(steps & 0xFF);
    data[1] = static_cast<uint8_t>(steps >> 8);
    return ProcessCommandSendUserCommand(nullptr, kReportSilent, s.link,
                                         {kCmdMoveForward, data, sizeof data, nullptr, 0}) &&
           WaitScannerReady(s.link.handle);
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

int CalibrateShadingForScan(const ScanStart& s, uint16_t startLine) {
    const ScanSession& session = s.session;
    const ScanRun& run = s.run;
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
                                 .BLACKSHADING = s.shading.BLACKSHADING,
                                 .RAWDATA = s.shading.RAWDATA,
                                 .FACTOR = s.shading.FACTOR};
    const ShadingReferences references{run.WhiteRefR(), run.DarkRefR(),  run.WhiteRefG(),
                                       run.DarkRefG(),  run.WhiteRefB(), run.DarkRefB()};
    if (session.DataWidth == 16 && session.TaMode == 0)
        return CalibrateShading16(s.link, request, references);
    return CalibrateShading(s.link, request, {run.PixelMapR(), run.PixelMapG(), run.PixelMapB()}, references);
}

// An AFE search's values and black levels stay with the session: the scan and the next
// search start from them. The shading settings it read stay with the driver.
int KeepAfeResult(ScanStart& s, const CalibrationResult& result) {
    ScanSession& session = s.session;
    s.shading = result.shading;
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
ReaderContext ReaderContextFor(const ScanStart& s, const ScanSession& session) {
    return {.run = &s.run,
            .session = session,
            .device = s.link.handle,
            .deviceKind = s.link.kind,
            .channel = &s.link.channel,
            .imageReader = &s.link.reader,
            .directRead = s.switches.DirectReadMode != 0,
            .directReadPacing = s.switches.DirectReadPacing};
}

// The steps of StartScan after the record checks; 0, with the record's Status telling why,
// when memory runs out, the scanner fails a step or the window does not fit the device.
}  // namespace

int32_t RunStartScan(ScanStart& s, ScanStartRecord* record) {
    ScanSession& session = s.session;
    if (session.DataWidth == 16 && !s.run.AllocateShadingReferences())
        return StartFailed(record, kStatusOutOfMemory, "allocating the shading references");
    session.CalibrationDpi = session.RXDPI > kMaxCalibrationDpi ? kMaxCalibrationDpi : session.RXDPI;
    s.lastStatus = WaitScannerReady(s.link.handle);
    if (s.lastStatus == 0) return DeviceStepFailed(record, "waiting for the scanner");
    if (session.TaMode == 0) {
        s.lastStatus = KeepAfeResult(s, CalibrateAFE(s.link, AfeSearchFor(session, s.openTime.KSTARTY)));
        if (s.lastStatus == 0) return DeviceStepFailed(record, "AFE calibration");
    }

    // Large enough for any window the geometry accepts; also the bound search's table.
    const size_t tableEntries =
        3u * (session.SWHeight > kGeometryMaxOutputLines ? session.SWHeight : kGeometryMaxOutputLines);
    std::vector<uint16_t> lineTable(tableEntries);
    if (session.TaMode == 0) {
        const ScanOrigin origin = FindFlatbedBounds(s.link, session.Afe, lineTable.data());
        session.leftbound = origin.leftbound;
        session.TopLine = origin.TopLine;
        s.lastStatus = origin.status;
        if (s.lastStatus == 0) return DeviceStepFailed(record, "boundary detection");
    } else {
        s.lastStatus =
            KeepAfeResult(s, CalibrateAFEForTa(s.link, AfeSearchFor(session, s.openTime.TAKSTARTY)));
        if (s.lastStatus == 0) return DeviceStepFailed(record, "adapter AFE calibration");
        TaOrigin origin{session.leftbound, session.TopLine};
        s.lastStatus = FindTaBounds(s.link, {session.Afe, session.YMAXDPI, session.LAMPSTEP}, &origin);
        session.leftbound = origin.leftbound;
        session.TopLine = origin.TopLine;
        if (origin.sized) {
            session.HWWidth = origin.HWWidth;
            session.HWHeight = origin.HWHeight;
        }
        if (s.lastStatus == 0) return DeviceStepFailed(record, "adapter boundary detection");
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
    across.leftAdd = s.openTime.LEFTADD;
    across.taMode = session.TaMode != 0;
    across.scanFromOrigin = s.switches.ScanFromOrigin != 0;
    across.pixelMode = session.ScanPixelModeFlag != 0;
    across.taType = session.TaType;
    across.rxdpi = session.RXDPI;
    across.pixelFormatCode = session.PixelFormatCode;
    const HorizontalStart start = ComputeHorizontalStart(across);
    session.myStartx = start.myStartx;
    session.WindowStartX = start.windowStartX;
    Trace("myStartx=%d,", session.myStartx);

    if (session.TaMode != 0 && s.switches.ScanFromOrigin == 0) {
        s.lastStatus = CalibrateShadingForScan(s, s.openTime.TAKSTARTY);
        if (s.lastStatus == 0) return DeviceStepFailed(record, "shading calibration");
    }
    if (s.switches.ScanFromOrigin != 0 && !MoveCarriageForward(s, kOriginForwardSteps))
        return DeviceStepFailed(record, "carriage move");
    if (session.TaMode == 0) {
        session.ShadingStartLine = ComputeShadingStartLine(session.TopLine);
        if (s.switches.ScanCalibrationArea != 1) {
            s.lastStatus = CalibrateShadingForScan(s, static_cast<uint16_t>(session.ShadingStartLine));
            if (s.lastStatus == 0) return DeviceStepFailed(record, "shading calibration");
        }
    }

    session.HeightMinus =
        session.YMAXDPI ? static_cast<uint16_t>(session.LAMPSTEP * session.RXDPI / session.YMAXDPI) : 0;
    Trace("HeightMinus=%d,LAMPSTEP=%d,RXDPI=%d,YMAXDPI=%d", session.HeightMinus, session.LAMPSTEP,
          session.RXDPI, session.YMAXDPI);
    s.run.PrerollPending = 1;
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
    down.taTopAdd = s.openTime.TATOPADD;
    down.topAdd = s.openTime.TOPADD;
    down.lampStep = session.LAMPSTEP;
    down.kStartY = s.openTime.KSTARTY;
    down.taType = session.TaType;
    down.rxdpi = session.RXDPI;
    down.rydpi = session.RYDPI;
    down.topLine = session.TopLine;
    down.shadingStartLine = session.ShadingStartLine;
    down.scanCalibrationArea = s.switches.ScanCalibrationArea != 0;
    down.scanFromOrigin = s.switches.ScanFromOrigin != 0;
    if (!down.scanCalibrationArea && !down.scanFromOrigin) Trace("RYDPI=%d", session.RYDPI);
    const int32_t starty = ComputeVerticalStart(down);
    // The device reads both starts as signed 16-bit values and the window must lie on the
    // sensor: a wrapped start would scan the calibration strip, a start past the sensor noise.
    if (starty > INT16_MAX || session.myStartx < 0 || session.myStartx + session.HWWidth > kMaxLinePixels)
        return StartFailed(record, kStatusRequestRejected, "placing the window on the device");
    session.myStarty = static_cast<int16_t>(starty);
    Trace("myStarty=%d,Top=%d,TATopAdd=%d,LAMPSTEP=%d,TopLine=%d", session.myStarty, session.WindowTop,
          s.openTime.TATOPADD, session.LAMPSTEP, session.TopLine);
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

    s.lastStatus = ProcessCommandSetScanWindowN(nullptr, kReportSilent, s.link,
                                                ScanWindowForScan(session, modeField, s.link.kind));
    if (s.lastStatus == 0) return DeviceStepFailed(record, "scan window");
    s.lastStatus = SetAFEParameters(nullptr, kReportSilent, s.link, session.Afe);
    if (s.lastStatus == 0) return DeviceStepFailed(record, "AFE values");
    s.run.ClearStop();
    s.lastStatus = WaitScannerReady(s.link.handle);
    if (s.lastStatus == 0) return DeviceStepFailed(record, "waiting for the scanner");
    s.lastStatus = ProcessCommandSetStartScan(nullptr, kReportSilent, s.link);
    if (s.lastStatus == 0) return DeviceStepFailed(record, "scan start");
    s.run.NextLineIndex = 0;
    s.run.LinesDelivered = 0;

    if (!s.run.StartReader(s.readerRoutine, ReaderContextFor(s, session)))
        return StartFailed(record, kStatusOutOfMemory, "creating the reader thread");
    s.run.Begin();
    Trace("Leave StartScan()");
    return s.lastStatus;
}

}  // namespace b58

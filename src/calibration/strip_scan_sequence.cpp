#include "calibration/strip_scan_sequence.h"

#include "contract/scanner_model.h"
#include "device/command_set.h"
#include "device/scan_geometry.h"
#include "state/driver_state.h"

namespace b58 {

bool SendStripLamps(HANDLE device, uint8_t lampMask) {
    uint8_t data[kMiscControlDataSize] = {};
    uint8_t result[kMiscControlDataSize] = {};
    data[0] = lampMask;
    return ProcessCommandMiscControl(nullptr, kReportSilent, device, g_state.DeviceKind, kCmdLampControl,
                                     data, result) != 0;
}

StripWindowShape StripShapeOf(const StripRequest& request, uint16_t pixelFormatCode, uint16_t dataWidth) {
    return StripWindowShape{.leftEdge = request.leftEdge,
                            .startLine = request.startLine,
                            .xDpi = request.xDpi,
                            .yDpi = request.yDpi,
                            .pixelFormatCode = pixelFormatCode,
                            .dataWidth = dataWidth,
                            .options20 = {request.options20[0], request.options20[1], request.options20[2]}};
}

bool PrepareStrip(HANDLE device, StripWindowShape* shape, const StripRequest& request, uint16_t* lineTable) {
    const bool ta = request.taSelector;
    g_state.StripScanOk = 1;
    if (!SendStripLamps(device, StripLampMask(request.dark, ta))) {
        g_state.StripScanOk = 0;
        return false;
    }

    const ScanGeometry geometry = ComputeScanGeometry({.pixelFormatCode = shape->pixelFormatCode,
                                                       .baseX = Model().sensor.baseDpi,
                                                       .baseY = Model().sensor.baseDpi,
                                                       .targetX = shape->xDpi,
                                                       .targetY = shape->yDpi,
                                                       .xCount = request.widthUnits,
                                                       .yCount = request.lineCount},
                                                      lineTable);
    shape->HWWidth = geometry.HWWidth;
    shape->HWHeight = geometry.HWHeight;
    shape->SWWidth = geometry.SWWidth;
    shape->SWHeight = geometry.SWHeight;
    // The planes and line buffers hold lines of at most kMaxLinePixels: a strip the geometry
    // refuses or one wider than that is failed rather than scanned past its buffers.
    if (!geometry.status || geometry.SWWidth == 0 || geometry.SWHeight == 0 ||
        geometry.SWWidth > kMaxLinePixels) {
        g_state.StripScanOk = 0;
        SendStripLamps(device, StripClosingLampMask(ta));
        return false;
    }
    return true;
}

bool StartStripScan(HANDLE device, const ScanWindowParameters& window, const AfeValues& afe) {
    const int32_t kind = g_state.DeviceKind;
    return ProcessCommandSetScanWindowN(nullptr, kReportSilent, device, kind, window) &&
           SetAFEParameters(nullptr, kReportSilent, device, kind, afe.ROffset, afe.RGain, afe.GOffset,
                            afe.GGain, afe.BOffset, afe.BGain) &&
           WaitScannerReady(device) && ProcessCommandSetStartScan(nullptr, kReportSilent, device, kind) &&
           WaitScanData(nullptr, device, kind) != 0;
}

bool EndStripScan(HANDLE device, uint8_t closingLampMask) {
    const bool stopped = SendStopCommand(device) != 0;
    return SendStripLamps(device, closingLampMask) && stopped;
}

}  // namespace b58

#include "calibration/strip_scan_sequence.h"

#include "contract/scanner_model.h"
#include "device/command_set.h"
#include "device/scan_geometry.h"

namespace b58 {

bool SendStripLamps(const ScannerLink& link, uint8_t lampMask) {
    uint8_t data[kMiscControlDataSize] = {};
    uint8_t result[kMiscControlDataSize] = {};
    data[0] = lampMask;
    return ProcessCommandMiscControl(nullptr, kReportSilent, link, kCmdLampControl, data, result) != 0;
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

bool PrepareStrip(StripRun& run, StripWindowShape* shape, const StripRequest& request, uint16_t* lineTable) {
    const bool ta = request.taSelector;
    run.StripScanOk = 1;
    if (!SendStripLamps(run.link, StripLampMask(request.dark, ta))) {
        run.StripScanOk = 0;
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
    // The planes and line buffers hold lines of at most kStripMaxPixels: a strip the geometry
    // refuses or one wider than that is failed rather than scanned past its buffers.
    if (!geometry.status || geometry.SWWidth == 0 || geometry.SWHeight == 0 ||
        geometry.SWWidth > kStripMaxPixels) {
        run.StripScanOk = 0;
        SendStripLamps(run.link, StripClosingLampMask(ta));
        return false;
    }
    return true;
}

bool StartStripScan(const ScannerLink& link, const ScanWindowParameters& window, const AfeValues& afe) {
    return ProcessCommandSetScanWindowN(nullptr, kReportSilent, link, window) &&
           SetAFEParameters(nullptr, kReportSilent, link, afe) && WaitScannerReady(link.handle) &&
           ProcessCommandSetStartScan(nullptr, kReportSilent, link) && WaitScanData(nullptr, link) != 0;
}

bool EndStripScan(const ScannerLink& link, uint8_t closingLampMask) {
    const bool stopped = SendStopCommand(link.handle) != 0;
    return SendStripLamps(link, closingLampMask) && stopped;
}

}  // namespace b58

#include "calibration/strip_scan_sequence.h"

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

bool PrepareStrip(HANDLE device, StripWindowShape* shape, uint16_t widthUnits, uint16_t lineCount, bool dark,
                  bool ta, uint16_t* lineTable, uint16_t* stripWidth, uint16_t* stripLines) {
    g_state.StripScanOk = 1;
    if (!SendStripLamps(device, StripLampMask(dark, ta))) {
        g_state.StripScanOk = 0;
        return false;
    }

    uint16_t hwWidth = 0, hwHeight = 0, width = 0, lines = 0;
    const uint8_t fits =
        ComputeScanGeometry(0, 0, shape->pixelFormatCode, 300, 300, shape->xDpi, shape->yDpi, widthUnits,
                            lineCount, &hwWidth, &hwHeight, &width, &lines, lineTable);
    *stripWidth = width;
    *stripLines = lines;
    // The planes and line buffers hold lines of at most kMaxLinePixels: a strip the geometry
    // refuses or one wider than that is failed rather than scanned past its buffers.
    if (!fits || width == 0 || lines == 0 || width > kMaxLinePixels) {
        g_state.StripScanOk = 0;
        SendStripLamps(device, StripClosingLampMask(ta));
        return false;
    }
    shape->hwWidth = hwWidth;
    shape->hwHeight = hwHeight;
    shape->swWidth = width;
    shape->swHeight = lines;
    return true;
}

bool StartStripScan(HANDLE device, const ScanWindowParameters& window, const StripAfeValues& afe) {
    const int32_t kind = g_state.DeviceKind;
    return ProcessCommandSetScanWindowN(nullptr, kReportSilent, device, kind, window) &&
           SetAFEParameters(nullptr, kReportSilent, device, kind, afe.rOffset, afe.rGain, afe.gOffset,
                            afe.gGain, afe.bOffset, afe.bGain) &&
           WaitScannerReady(device) && ProcessCommandSetStartScan(nullptr, kReportSilent, device, kind) &&
           WaitScanData(nullptr, device, kind) != 0;
}

bool EndStripScan(HANDLE device, uint8_t closingLampMask) {
    const bool stopped = SendStopCommand(device) != 0;
    return SendStripLamps(device, closingLampMask) && stopped;
}

}  // namespace b58

#include "calibration/strip_scan_sequence.h"

#include "device/command_set.h"
#include "state/driver_state.h"

namespace b58 {

void SendStripLamps(HANDLE device, uint8_t lampMask) {
    uint8_t data[kMiscControlDataSize] = {};
    uint8_t result[kMiscControlDataSize] = {};
    data[0] = lampMask;
    ProcessCommandMiscControl(nullptr, kReportSilent, device, g_state.DeviceKind, kCmdLampControl, data,
                              result);
}

bool StartStripScan(HANDLE device, const ScanWindowParameters& window, const StripAfeValues& afe) {
    ProcessCommandSetScanWindowN(nullptr, kReportSilent, device, g_state.DeviceKind, window);
    SetAFEParameters(nullptr, kReportSilent, device, g_state.DeviceKind, afe.rOffset, afe.rGain, afe.gOffset,
                     afe.gGain, afe.bOffset, afe.bGain);
    WaitScannerReady(device);
    ProcessCommandSetStartScan(nullptr, kReportSilent, device, g_state.DeviceKind);
    return WaitScanData(nullptr, device, g_state.DeviceKind) != 0;
}

void EndStripScan(HANDLE device, uint8_t closingLampMask) {
    SendStopCommand(device);
    SendStripLamps(device, closingLampMask);
}

}  // namespace b58

// SetParameters and GetParameters: the scan request is checked and turned into the scan
// configuration, the device is brought into a known state for the scan source, and the
// per-scan working memory is allocated.
#include <cstring>

#include "api/device_requests.h"
#include "api/driver_link.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "api/open_state.h"
#include "device/command_packets.h"
#include "device/command_set.h"
#include "device/device_discovery.h"
#include "scan/routine_slots.h"
#include "scan/scan_request.h"
#include "scan/scan_run.h"
#include "state/driver_state.h"
#include "state/trace.h"

namespace b58 {
namespace {

bool IsTaSource(uint8_t source) {
    return source == 1 || source == 2 || source == 4;
}

// Closes whatever device is open and opens the first one that answers anew.
bool ReopenDevice() {
    if (g_state.DeviceHandle != INVALID_HANDLE_VALUE) CloseScanner(g_state.DeviceHandle);
    g_state.DeviceHandle = OpenScannerByName();
    return g_state.DeviceHandle != INVALID_HANDLE_VALUE;
}

// Downloads the firmware once more; the step that failed, or null.
const char* DownloadAgain(bool* firmwareRuns) {
    g_state.LastStatus = DownloadFirmwareToDevice();
    if (g_state.LastStatus == 0) return "firmware download";
    *firmwareRuns = true;
    return nullptr;
}

// The step that failed, or null when the source is selected. `firmwareRuns` tells whether a
// download of this call was confirmed; a second download here may still bring it up.
const char* SelectSource(uint8_t source, bool* firmwareRuns) {
    if (source == 0) {
        g_state.Session.TaType = 0;
        g_state.Session.TaMode = 0;
        if (g_state.FlatbedFirmwareReady != 1) {
            if (const char* failed = DownloadAgain(firmwareRuns)) return failed;
        }
        g_state.LastStatus = SendLampControl(kLampFlatbed);
    } else if (IsTaSource(source)) {
        g_state.Session.TaType = source;
        g_state.Session.TaMode = 1;
        if (g_state.TaFirmwareReady != 1) {
            if (const char* failed = DownloadAgain(firmwareRuns)) return failed;
        }
        g_state.LastStatus = SendLampControl(kLampTa);
    } else {
        g_state.Session.TaMode = 0;  // no adapter, no lamp selection; TaType stays
    }
    if (!*firmwareRuns) return "firmware download";
    return g_state.LastStatus == 0 ? "lamp selection" : nullptr;
}

// The scanner failed a step: nothing of this request or the previous one is left to scan,
// so a StartScan that follows is refused instead of scanning with a device in an unknown
// state.
int32_t RefuseForDevice(ScanParameters* parameters, const char* step) {
    Trace("SetParameters: %s failed", step);
    g_state.Run.FreeMemory();
    g_state.LineRoutine = nullptr;
    g_state.ReaderRoutine = nullptr;
    g_state.FlatbedFirmwareReady = 0;
    g_state.TaFirmwareReady = 0;
    parameters->Status = kStatusDeviceFailed;
    return 0;
}

void StoreConfig(const ScanConfig& c) {
    g_state.Session.TakeConfig(c);
    g_state.LineRoutine = LineRoutineFor(c.LineRoutine);
    g_state.ReaderRoutine = ReaderRoutineFor(c.ReaderRoutine);
}

void RecordSource(uint8_t source) {
    const bool ta = IsTaSource(source);
    g_state.Session.TaMode = ta ? 1 : 0;
    g_state.TaFirmwareReady = ta ? 1 : 0;
    g_state.FlatbedFirmwareReady = ta ? 0 : 1;
}

int32_t TakeScanRequest(ScanParameters* parameters) {
    if (parameters == nullptr) return 0;
    if (!HostHoldsScanner("SetParameters", parameters)) return 0;
    // The reader thread of a running scan works in the memory a new request would replace.
    if (g_state.Run.ReaderThread() != nullptr) {
        parameters->Status = kStatusScanRunning;
        return 0;
    }
    // Checked before anything changes: a request the driver cannot scan leaves the device,
    // the configuration and the memory of the previous request as they were.
    const ScanRequestResult derived = DeriveScanConfig(*parameters, g_state.Session.ResolutionValid);
    const ScanConfig& config = derived.config;
    const uint8_t source = parameters->ScanSource;
    if (derived.fault != ScanRequestFault::None ||
        !VerticalStartFits(config, IsTaSource(source) ? source : 0, g_state.TOPADD, g_state.TATOPADD)) {
        parameters->Status = kStatusRequestRejected;
        return 0;
    }

    if (!ReopenDevice()) return RefuseForDevice(parameters, "opening the scanner");
    g_state.LastStatus = DownloadFirmwareToDevice();
    bool firmwareRuns = g_state.LastStatus != 0;
    if (firmwareRuns) g_state.FlatbedFirmwareReady = 1;
    if (const char* failed = SelectSource(source, &firmwareRuns)) return RefuseForDevice(parameters, failed);

    // One set of working memory at a time: the previous request's goes first.
    g_state.Run.FreeMemory();
    if (!g_state.Run.AllocateMemory(config.DataWidth, parameters->GammaTable)) {
        g_state.LineRoutine = nullptr;
        g_state.ReaderRoutine = nullptr;
        parameters->Status = kStatusOutOfMemory;
        return 0;
    }

    parameters->Status = kStatusOk;
    parameters->Resolution = config.Resolution;
    Trace("%s", config.ResolutionTrace);
    g_state.Session.ScanMode = parameters->ScanMode;
    StoreConfig(config);
    if (config.ModeTrace != nullptr) Trace("%s", config.ModeTrace);

    RecordSource(source);
    if (g_state.Session.TaMode == 1) {
        uint8_t request[kCommandPacketSize] = {};
        request[0] = kLampTa;
        g_state.LastStatus = ProcessCommandMiscControl(nullptr, kReportSilent, DriverLink(), kCmdLampControl,
                                                       request, request);
        if (g_state.LastStatus == 0) return RefuseForDevice(parameters, "adapter lamp selection");
    }
    return g_state.LastStatus;
}

int32_t ReportScanRequest(ScanParametersInfo* info) {
    if (info == nullptr) return 0;
    info->Status = kStatusOk;
    info->RXDPI = g_state.Session.RXDPI;
    info->RYDPI = g_state.Session.RYDPI;
    info->LineBytes = g_state.Session.LineBytes;
    info->ImageLines = g_state.Session.ImageLines;
    Trace("Trel RXDPI=%d,RYDPI=%d,LineBytes=%d", g_state.Session.RXDPI, g_state.Session.RYDPI,
          g_state.Session.LineBytes);
    return 1;
}

}  // namespace
}  // namespace b58

extern "C" {

B58_EXPORT int32_t B58_CALL SetParameters(ScanParameters* parameters) {
    return b58::GuardExport("SetParameters", parameters, [&] { return b58::TakeScanRequest(parameters); });
}

B58_EXPORT int32_t B58_CALL GetParameters(ScanParametersInfo* info) {
    return b58::GuardExport("GetParameters", info, [&] { return b58::ReportScanRequest(info); });
}

}  // extern "C"

// SetParameters and GetParameters: the scan request is checked and turned into the scan
// configuration, the device is brought into a known state for the scan source, and the
// per-scan working memory is allocated.
#include <cstring>

#include "api/device_requests.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "api/open_state.h"
#include "device/command_packets.h"
#include "device/command_set.h"
#include "device/device_discovery.h"
#include "scan/routine_slots.h"
#include "scan/scan_request.h"
#include "scan/scan_run.h"
#include "state/trace.h"

namespace b58 {
namespace {

bool IsTaSource(uint8_t source) {
    return source == 1 || source == 2 || source == 4;
}

// Closes whatever device is open and opens the first one that answers anew.
bool ReopenDevice(Driver& driver) {
    if (driver.DeviceHandle != INVALID_HANDLE_VALUE) CloseScanner(driver.DeviceHandle);
    driver.DeviceHandle = OpenScannerByName();
    return driver.DeviceHandle != INVALID_HANDLE_VALUE;
}

// Downloads the firmware once more; the step that failed, or null.
const char* DownloadAgain(Driver& driver, bool* firmwareRuns) {
    driver.LastStatus = DownloadFirmwareToDevice(driver);
    if (driver.LastStatus == 0) return "firmware download";
    *firmwareRuns = true;
    return nullptr;
}

// The step that failed, or null when the source is selected. `firmwareRuns` tells whether a
// download of this call was confirmed; a second download here may still bring it up.
const char* SelectSource(Driver& driver, uint8_t source, bool* firmwareRuns) {
    if (source == 0) {
        driver.Session.TaType = 0;
        driver.Session.TaMode = 0;
        if (driver.FlatbedFirmwareReady != 1) {
            if (const char* failed = DownloadAgain(driver, firmwareRuns)) return failed;
        }
        driver.LastStatus = SendLampControl(driver, kLampFlatbed);
    } else if (IsTaSource(source)) {
        driver.Session.TaType = source;
        driver.Session.TaMode = 1;
        if (driver.TaFirmwareReady != 1) {
            if (const char* failed = DownloadAgain(driver, firmwareRuns)) return failed;
        }
        driver.LastStatus = SendLampControl(driver, kLampTa);
    } else {
        driver.Session.TaMode = 0;  // no adapter, no lamp selection; TaType stays
    }
    if (!*firmwareRuns) return "firmware download";
    return driver.LastStatus == 0 ? "lamp selection" : nullptr;
}

// The scanner failed a step: nothing of this request or the previous one is left to scan,
// so a StartScan that follows is refused instead of scanning with a device in an unknown
// state.
int32_t RefuseForDevice(Driver& driver, ScanParameters* parameters, const char* step) {
    Trace("SetParameters: %s failed", step);
    driver.Run.FreeMemory();
    driver.Run.LineRoutine = nullptr;
    driver.ReaderRoutine = nullptr;
    driver.FlatbedFirmwareReady = 0;
    driver.TaFirmwareReady = 0;
    parameters->Status = kStatusDeviceFailed;
    return 0;
}

void StoreConfig(Driver& driver, const ScanConfig& c) {
    driver.Session.TakeConfig(c);
    driver.Run.LineRoutine = LineRoutineFor(c.LineRoutine);
    driver.ReaderRoutine = ReaderRoutineFor(c.ReaderRoutine);
}

void RecordSource(Driver& driver, uint8_t source) {
    const bool ta = IsTaSource(source);
    driver.Session.TaMode = ta ? 1 : 0;
    driver.TaFirmwareReady = ta ? 1 : 0;
    driver.FlatbedFirmwareReady = ta ? 0 : 1;
}

int32_t TakeScanRequest(Driver& driver, ScanParameters* parameters) {
    if (parameters == nullptr) return 0;
    if (!HostHoldsScanner(driver, "SetParameters", parameters)) return 0;
    // The reader thread of a running scan works in the memory a new request would replace.
    if (driver.Run.ReaderThread() != nullptr) {
        parameters->Status = kStatusScanRunning;
        return 0;
    }
    // Checked before anything changes: a request the driver cannot scan leaves the device,
    // the configuration and the memory of the previous request as they were.
    const ScanRequestResult derived = DeriveScanConfig(*parameters, driver.Session.ResolutionValid);
    const ScanConfig& config = derived.config;
    const uint8_t source = parameters->ScanSource;
    if (derived.fault != ScanRequestFault::None ||
        !VerticalStartFits(config, IsTaSource(source) ? source : 0, driver.OpenTime.TOPADD,
                           driver.OpenTime.TATOPADD)) {
        parameters->Status = kStatusRequestRejected;
        return 0;
    }

    if (!ReopenDevice(driver)) return RefuseForDevice(driver, parameters, "opening the scanner");
    driver.LastStatus = DownloadFirmwareToDevice(driver);
    bool firmwareRuns = driver.LastStatus != 0;
    if (firmwareRuns) driver.FlatbedFirmwareReady = 1;
    if (const char* failed = SelectSource(driver, source, &firmwareRuns))
        return RefuseForDevice(driver, parameters, failed);

    // One set of working memory at a time: the previous request's goes first.
    driver.Run.FreeMemory();
    if (!driver.Run.AllocateMemory(config.DataWidth, parameters->GammaTable)) {
        driver.Run.LineRoutine = nullptr;
        driver.ReaderRoutine = nullptr;
        parameters->Status = kStatusOutOfMemory;
        return 0;
    }

    parameters->Status = kStatusOk;
    parameters->Resolution = config.Resolution;
    Trace("%s", config.ResolutionTrace);
    driver.Session.ScanMode = parameters->ScanMode;
    StoreConfig(driver, config);
    if (config.ModeTrace != nullptr) Trace("%s", config.ModeTrace);

    RecordSource(driver, source);
    if (driver.Session.TaMode == 1) {
        uint8_t request[kCommandPacketSize] = {};
        request[0] = kLampTa;
        driver.LastStatus = ProcessCommandMiscControl(nullptr, kReportSilent, driver.Link(), kCmdLampControl,
                                                      request, request);
        if (driver.LastStatus == 0) return RefuseForDevice(driver, parameters, "adapter lamp selection");
    }
    return driver.LastStatus;
}

int32_t ReportScanRequest(const Driver& driver, ScanParametersInfo* info) {
    if (info == nullptr) return 0;
    info->Status = kStatusOk;
    info->RXDPI = driver.Session.RXDPI;
    info->RYDPI = driver.Session.RYDPI;
    info->LineBytes = driver.Session.LineBytes;
    info->ImageLines = driver.Session.ImageLines;
    Trace("Trel RXDPI=%d,RYDPI=%d,LineBytes=%d", driver.Session.RXDPI, driver.Session.RYDPI,
          driver.Session.LineBytes);
    return 1;
}

}  // namespace
}  // namespace b58

extern "C" {

B58_EXPORT int32_t B58_CALL SetParameters(ScanParameters* parameters) {
    return b58::GuardExport("SetParameters", parameters,
                            [&] { return b58::TakeScanRequest(b58::TheDriver(), parameters); });
}

B58_EXPORT int32_t B58_CALL GetParameters(ScanParametersInfo* info) {
    return b58::GuardExport("GetParameters", info,
                            [&] { return b58::ReportScanRequest(b58::TheDriver(), info); });
}

}  // extern "C"

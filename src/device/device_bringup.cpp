#include "device/device_bringup.h"

#include "device/command_packets.h"
#include "device/command_transport.h"
#include "device/device_discovery.h"
#include "device/firmware_download.h"
#include "settings/settings.h"
#include "state/trace.h"

namespace b58 {
namespace {

HANDLE DiscoverScanner() {
    for (int pass = 1; pass <= kFixedNamePasses; ++pass) {
        Trace("Get the scanner handle %d times!", pass);
        HANDLE device = OpenScannerByName();
        if (device != INVALID_HANDLE_VALUE) {
            Trace("Get the scanner handle!");
            return device;
        }
        Trace("Not get the scanner handle!");
        Sleep(kFixedNamePassPauseMs);
    }
    for (int member = 0; member < kInterfaceLookups; ++member) {
        HANDLE device = GetDeviceViaInterface(&kStillImageInterfaceGuid, static_cast<DWORD>(member));
        if (device != INVALID_HANDLE_VALUE) {
            Trace("Get the scanner handle!");
            return device;
        }
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

uint8_t ZtInitialation(int32_t deviceKind, HANDLE* device, OpenTimeSettings* settings) {
    Trace("< Enter the ZtInitialation!");
    *settings = ReadOpenTimeSettings();

    if (*device != INVALID_HANDLE_VALUE) {
        CloseScanner(*device);
        *device = INVALID_HANDLE_VALUE;
    }
    *device = DiscoverScanner();
    if (*device == INVALID_HANDLE_VALUE) {
        Trace("> Leave the ZtInitialation with not get the scanner handle!");
        return 0;
    }

    // The short-form query answers in the same buffer; a failed query leaves byte 2 at 0.
    uint8_t query[kCommandPacketSize];
    FillShortCommand(kCmdFirmwareState, query);
    uint32_t returned = 0;
    uint8_t result = ScannerIoControlShort(*device, static_cast<uint32_t>(deviceKind), query, sizeof query,
                                           query, sizeof query, &returned);
    if (query[2] != kFirmwareRunning) {
        char path[kFirmwarePathSize];
        BuildFirmwarePath(path);
        result = ProcessDownloadFirmware(nullptr, 0, *device, deviceKind, path);
    }
    if (result == 0) {
        CloseScanner(*device);
        *device = INVALID_HANDLE_VALUE;
        return 0;
    }
    Trace("> Leave the ZtInitialation!");
    return 1;
}

}  // namespace b58

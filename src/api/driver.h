// The one process-wide driver object. The fifteen entry points fetch it at the boundary and
// hand it, or the parts of it they need, to the operations below them; no layer under the
// entry points reaches for it on its own. A host loads the driver once per process and the
// scanner is exclusive across the machine (the device mutex), so one object serves every
// entry point and thread.
//
// What the host's thread and the reader thread share belongs to the running scan (ScanRun),
// whose interface says which thread may do what. Everything else is touched by the host's
// thread only, or by the reader thread only through the ReaderContext the scan start gives it
// while the host's thread leaves those parts alone.
#pragma once

#include <cstdint>

#include "contract/scanner_model.h"
#include "device/command_channel.h"
#include "device/image_reader.h"
#include "device/scanner_link.h"
#include "platform/win32.h"
#include "scan/scan_run.h"
#include "scan/scan_session.h"
#include "settings/settings.h"

namespace b58 {

inline constexpr int kDeviceInfoBlockSize = Model().connection.deviceInfoBlockSize;
inline constexpr int kPacketSize = static_cast<int>(Model().connection.commandPacketSize);

struct Driver {
    // ---- this process's hold on the scanner ---------------------------------------------
    HANDLE DeviceMutex = nullptr;
    // 1 from a successful _Open to _Close: only then does this process hold the scanner.
    int32_t HostOpened = 0;
    int32_t OsVersionClass = 0;

    // ---- the open scanner ---------------------------------------------------------------
    HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
    int32_t DeviceKind = Model().connection.kind;
    int32_t LastStatus = 0;
    uint8_t MiscControlBuffer[kPacketSize] = {};
    uint8_t DeviceInfoBlock[kDeviceInfoBlockSize] = {};
    CommandChannel Channel;
    ImageDataReader ImageReader;

    // ---- settings kept driver-wide ------------------------------------------------------
    OpenTimeSettings OpenTime;  // read by each initialisation attempt
    ShadingSettings Shading;    // read by the AFE calibration of each scan start

    // ---- scan request -------------------------------------------------------------------
    // The current request and what its start placed on the device; see ScanSession.
    ScanSession Session;
    int32_t FlatbedFirmwareReady = 0;
    int32_t TaFirmwareReady = 0;
    LPTHREAD_START_ROUTINE ReaderRoutine = nullptr;

    // ---- the running scan ---------------------------------------------------------------
    ScanRun Run;

    // ---- diagnostic switches ------------------------------------------------------------
    uint16_t ScanFromOrigin = 0;
    uint16_t ScanCalibrationArea = 0;
    uint16_t DirectReadPacing = 0;
    int32_t DirectReadMode = 0;

    // The open scanner as the device and calibration routines reach it. It carries the
    // handle's value: build it after the handle is opened.
    ScannerLink Link() { return {DeviceHandle, DeviceKind, Channel, ImageReader}; }
};

// The instance, alive for the life of the process.
Driver& TheDriver();

// Puts every value back to its load-time value. Only for tests and only while no scan runs:
// it frees the scan's working memory but closes no handle.
void ResetDriver();

}  // namespace b58

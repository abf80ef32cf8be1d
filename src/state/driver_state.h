// The one driver-wide state: every export, the calibration routines and the reader thread
// read and write it directly. It is statically allocated for the life of the process.
//
// What the host's thread and the reader thread share belongs to the running scan (ScanRun),
// whose interface says which thread may do what. Everything else is touched by the host's
// thread only, or by the reader thread only while the host's thread leaves it alone.
#pragma once

#include <atomic>
#include <cstdint>

#include "contract/host_records.h"
#include "contract/scanner_model.h"
#include "device/command_channel.h"
#include "device/image_reader.h"
#include "platform/win32.h"
#include "scan/scan_run.h"
#include "scan/scan_session.h"

namespace b58 {

inline constexpr int kDeviceInfoBlockSize = Model().connection.deviceInfoBlockSize;
inline constexpr int kPacketSize = static_cast<int>(Model().connection.commandPacketSize);

typedef int(B58_CALL* LineRoutineFn)(uint8_t* hostLine);
// What a line routine returns.
inline constexpr int kLineFailed = 0;   // the reader has failed: no further line comes
inline constexpr int kLineDone = 1;     // one line written into the host's buffer
inline constexpr int kLineStopped = 2;  // a stop was asked for while it waited: nothing written

struct DriverState {
    // ---- device -------------------------------------------------------------------------
    HANDLE DeviceMutex = nullptr;
    // 1 from a successful _Open to _Close: only then does this process hold the scanner.
    int32_t HostOpened = 0;
    int32_t OsVersionClass = 0;
    HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
    int32_t DeviceKind = Model().connection.kind;
    int32_t LastStatus = 0;
    uint8_t MiscControlBuffer[kPacketSize] = {};
    uint8_t DeviceInfoBlock[kDeviceInfoBlockSize] = {};

    // ---- settings kept driver-wide ------------------------------------------------------
    uint16_t LEFTADD = 0;
    uint16_t TOPADD = 0;
    uint16_t KSTARTY = 0;
    uint16_t TATOPADD = 0;
    uint16_t TAKSTARTY = 0;
    uint16_t BLACKSHADING = 0;
    uint16_t RAWDATA = 0;
    uint16_t FACTOR = 100;

    // ---- scan request -------------------------------------------------------------------
    // The current request and what its start placed on the device; see ScanSession.
    ScanSession Session;
    int32_t FlatbedFirmwareReady = 0;
    int32_t TaFirmwareReady = 0;
    LineRoutineFn LineRoutine = nullptr;
    LPTHREAD_START_ROUTINE ReaderRoutine = nullptr;

    // ---- the running scan ---------------------------------------------------------------
    ScanRun Run;

    // ---- diagnostic switches ------------------------------------------------------------
    uint16_t ScanFromOrigin = 0;
    uint16_t ScanCalibrationArea = 0;
    uint16_t DirectReadPacing = 0;
    int32_t DirectReadMode = 0;

    // ---- command layer ------------------------------------------------------------------
    CommandChannel Channel;

    // ---- image data reader --------------------------------------------------------------
    ImageDataReader ImageReader;
};

// The instance. Tests reset it with ResetDriverState() between cases.
extern DriverState g_state;

// Puts every value back to its load-time value. Only for tests and only while
// no scan runs: it frees the scan's working memory but closes no handle.
void ResetDriverState();

}  // namespace b58

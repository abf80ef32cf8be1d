// The driver's interface to the host imaging application: the fifteen entry points. The
// records they exchange, the status codes and the calling conventions are in
// contract/host_records.h, which the layers below the entry points include on their own.
#pragma once

#include "contract/host_records.h"

extern "C" {
B58_EXPORT int32_t B58_CALL _Open(void);
B58_EXPORT int32_t B58_CALL _Close(void);
B58_EXPORT int32_t B58_CALL SetParameters(ScanParameters* parameters);
B58_EXPORT int32_t B58_CALL GetParameters(ScanParametersInfo* info);
B58_EXPORT int32_t B58_CALL GetVersionInfo(VersionRecord* record);
B58_EXPORT int32_t B58_CALL GetDeviceInfo(DeviceInfoRecord* record);
B58_EXPORT int32_t B58_CALL GetGammaInfo(GammaInfoRecord* record);
B58_EXPORT int32_t B58_CALL CarriageHome(ControlRecord* record);
B58_EXPORT int32_t B58_CALL PowerControl(ControlRecord* record);
B58_EXPORT int32_t B58_CALL GetDeviceStatus(ControlRecord* record);
B58_EXPORT int32_t B58_CALL GetKeyStatus(uint8_t* keyState);
B58_EXPORT int32_t B58_CALL TestEntry(uint16_t code, void* data);
B58_EXPORT int32_t B58_CALL StartScan(ScanStartRecord* record);
B58_EXPORT int32_t B58_CALL ReadScannedData(ReadRequest* request);
B58_EXPORT int32_t B58_CALL StopScan(StopRecord* record);
}

// The fifteen names in the order a host resolves them; the host program and the export
// table test use this list.
inline constexpr const char* kExportNames[] = {
    "_Open",         "_Close",       "SetParameters", "GetParameters",   "GetVersionInfo",
    "GetDeviceInfo", "GetGammaInfo", "CarriageHome",  "PowerControl",    "GetDeviceStatus",
    "GetKeyStatus",  "TestEntry",    "StartScan",     "ReadScannedData", "StopScan",
};

// Entry points whose subsystem has not been built yet fail cleanly: they return 0 and
// touch nothing. Each moves to its own file when its subsystem lands.
#include "api/exports.h"

extern "C" {

B58_EXPORT int32_t B58_CALL _Open(void) { return 0; }
B58_EXPORT int32_t B58_CALL _Close(void) { return 0; }
B58_EXPORT int32_t B58_CALL SetParameters(ScanParameters*) { return 0; }
B58_EXPORT int32_t B58_CALL GetParameters(ScanParametersInfo*) { return 0; }
B58_EXPORT int32_t B58_CALL GetVersionInfo(VersionRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL GetDeviceInfo(DeviceInfoRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL GetGammaInfo(GammaInfoRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL CarriageHome(ControlRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL PowerControl(ControlRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL GetDeviceStatus(ControlRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL GetKeyStatus(uint8_t*) { return 0; }
B58_EXPORT int32_t B58_CALL TestEntry(uint16_t, void*) { return 0; }
B58_EXPORT int32_t B58_CALL StartScan(ScanStartRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL ReadScannedData(ReadRequest*) { return 0; }
B58_EXPORT int32_t B58_CALL StopScan(StopRecord*) { return 0; }

}

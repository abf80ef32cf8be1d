// Not built yet: fails cleanly (returns 0, touches nothing) until its subsystem lands.
#include "api/exports.h"

extern "C" {

B58_EXPORT int32_t B58_CALL GetVersionInfo(VersionRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL GetDeviceInfo(DeviceInfoRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL GetGammaInfo(GammaInfoRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL CarriageHome(ControlRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL PowerControl(ControlRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL GetDeviceStatus(ControlRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL GetKeyStatus(uint8_t*) { return 0; }
B58_EXPORT int32_t B58_CALL TestEntry(uint16_t, void*) { return 0; }

}

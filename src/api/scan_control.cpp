// Not built yet: fails cleanly (returns 0, touches nothing) until its subsystem lands.
#include "api/exports.h"

extern "C" {

B58_EXPORT int32_t B58_CALL StartScan(ScanStartRecord*) { return 0; }
B58_EXPORT int32_t B58_CALL ReadScannedData(ReadRequest*) { return 0; }
B58_EXPORT int32_t B58_CALL StopScan(StopRecord*) { return 0; }

}

// Not built yet: fails cleanly (returns 0, touches nothing) until its subsystem lands.
#include "api/exports.h"

extern "C" {

B58_EXPORT int32_t B58_CALL SetParameters(ScanParameters*) { return 0; }
B58_EXPORT int32_t B58_CALL GetParameters(ScanParametersInfo*) { return 0; }

}

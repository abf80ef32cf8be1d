#include "api/open_state.h"

#include "api/export_guard.h"
#include "state/trace.h"

namespace b58 {

bool HostHoldsScanner(const Driver& driver, const char* entry, void* record) {
    if (driver.HostOpened) return true;
    WriteRecordStatus(record, kStatusNoDevice);
    Trace("%s: the scanner is not open", entry);
    return false;
}

}  // namespace b58

#include "api/export_guard.h"

#include <cstring>

#include "state/trace.h"

namespace b58 {

void WriteRecordStatus(void* record, uint16_t status) noexcept {
    if (record == nullptr) return;
    const uint8_t bytes[2] = {static_cast<uint8_t>(status & 0xFF), static_cast<uint8_t>(status >> 8)};
    std::memcpy(record, bytes, sizeof bytes);
}

void ReportExportFault(const char* entry, void* record, uint16_t status, const char* what) noexcept {
    WriteRecordStatus(record, status);
    try {
        Trace("%s: %s, the call failed", entry, what);
    } catch (...) {
        // Nothing more can be said without memory.
    }
}

}  // namespace b58

// The one barrier every entry point runs its body behind: no C++ exception may reach the
// host, whose frames know nothing of them. An exception ends the call with result 0, the
// record's Status set (46 when memory ran out, 48 for anything else) and one trace line
// naming the entry point.
#pragma once

#include <cstdint>
#include <new>

#include "api/exports.h"

namespace b58 {

// Writes `status` into the 16-bit Status that begins the host record at `record` (packed,
// little-endian, perhaps unaligned); nothing when `record` is null.
void WriteRecordStatus(void* record, uint16_t status) noexcept;

// Writes `status` into the 16-bit Status that begins the record at `record` (if any) and
// traces "<entry>: <what>"; never throws.
void ReportExportFault(const char* entry, void* record, uint16_t status, const char* what) noexcept;

// Runs `body` (returning the export's int32_t result). `record` is the host record whose
// Status receives the fault code, or null for entry points without one.
template <typename Body>
int32_t GuardExport(const char* entry, void* record, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        ReportExportFault(entry, record, kStatusOutOfMemory, "out of memory");
    } catch (...) {
        ReportExportFault(entry, record, kStatusInternalError, "internal fault");
    }
    return 0;
}

}  // namespace b58

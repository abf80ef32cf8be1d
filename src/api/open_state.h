// Whether this process holds the scanner: the entry points that talk to it act only after
// this process's _Open succeeded, so a process that was refused the device cannot drive it
// while another one scans.
#pragma once

#include "api/driver.h"

namespace b58 {

// True after a successful _Open (until _Close). Otherwise writes Status 37 into the record
// at `record` (if any), traces "<entry>: the scanner is not open" and returns false.
bool HostHoldsScanner(const Driver& driver, const char* entry, void* record);

}  // namespace b58

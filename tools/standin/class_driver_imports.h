// The stand-in class driver attached to a loaded driver DLL: its imports that reach the
// still-image class driver (device enumeration, and CreateFileA, DeviceIoControl, ReadFile,
// CancelIo and CloseHandle on device handles) go to the stand-in; everything else, and those
// functions on every other handle or name, stays the system's own.
#pragma once

#include <string>
#include <vector>

#include "import_table.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace b58::standin {

// The imports the stand-in takes over and its replacements (tests call them as the driver does).
const std::vector<ImportBinding>& ClassDriverBindings();

// Rebinds the driver's device-facing imports. False, with a message in *error, when the
// module's import table cannot be rebound or lacks the device functions altogether.
bool AttachClassDriver(HMODULE driver, std::string* error);

}  // namespace b58::standin

// The interface between the stand-in class driver and a backend module: a shared library
// "b58backend-<name>.so" that builds the backend for the device list's "<name>@N" entries.
// The module exports one C function; the class driver passes it the services the backend
// takes from the program that loaded it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

inline constexpr uint32_t kBackendModuleVersion = 1;
inline constexpr const char* kBackendModuleEntry = "b58_backend_module_create";
inline constexpr const char* kBackendModulePrefix = "b58backend-";
inline constexpr const char* kBackendModuleSuffix = ".so";

// What the loading program offers the module.
struct BackendModuleHost {
    uint32_t version = kBackendModuleVersion;
    double (*timeScale)() = nullptr;  // the program's factor for device times (platform::TimeScale)
};

// Builds a backend from the entry's options; null, with a message in `error` (`errorSize`
// bytes, terminated), when the options are refused or the host's version is not the
// module's. The class driver owns the object and deletes it through its virtual destructor.
using BackendModuleCreate = UsbBackend* (*)(const BackendModuleHost* host, const char* options, char* error,
                                            size_t errorSize);

}  // namespace b58::usbscan

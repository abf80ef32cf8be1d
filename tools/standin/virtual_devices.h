// What a Windows host does to scan from the virtual scanner with the shipped driver DLL: the
// stand-in class driver, which carries the virtual scanner as its "sim" backend, is attached
// to the loaded driver in place of the system's still-image class driver. B58_DEVICES then
// names the devices it publishes, as on Linux.
#pragma once

#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace b58::standin {

// Registers the virtual scanner as backend "sim" and rebinds the driver's device-facing
// imports to the stand-in. False, with a message in *error, when the imports cannot be rebound.
bool AttachVirtualDevices(HMODULE driver, std::string* error);

}  // namespace b58::standin

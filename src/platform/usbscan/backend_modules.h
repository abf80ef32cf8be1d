// Finding and loading backend modules by name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

// The folders searched for "b58backend-<name>.so", in order: B58_BACKEND_DIR when set, then
// the folder of the library (or program) the class driver is part of.
std::vector<std::string> BackendModuleFolders();

// Builds a backend with module `name`. Null, with a message in *error, when no module of
// that name is found, it cannot be loaded, or it refuses the options. A module stays loaded
// for the rest of the process.
std::shared_ptr<UsbBackend> CreateModuleBackend(const std::string& name, const std::string& options,
                                                std::string* error);

}  // namespace b58::usbscan

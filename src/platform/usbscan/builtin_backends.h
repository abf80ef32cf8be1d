// The backends built into the class driver, by name (modules add others; see backend_modules.h).
#pragma once

#include <map>
#include <string>

#include "platform/usbscan/device_config.h"

namespace b58::usbscan {

std::map<std::string, BackendFactory> BuiltinBackends();

}  // namespace b58::usbscan

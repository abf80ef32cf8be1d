// The virtual scanner as a device behind the stand-in class driver.
#pragma once

#include <memory>
#include <string>

#include "src/platform/usbscan/usb_backend.h"

namespace b58::sim {

// Builds a virtual scanner from an option string (the part after "sim" in B58_DEVICES, e.g.
// "firmware=running,seed=7"); null, with a message in *error, for options it does not know.
std::shared_ptr<usbscan::UsbBackend> CreateVirtualScanner(const std::string& options, std::string* error);

}  // namespace b58::sim

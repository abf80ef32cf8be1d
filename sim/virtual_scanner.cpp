// First cut: no virtual scanner yet. Replaced by the controller model.
#include "sim/virtual_scanner.h"

namespace b58::sim {

std::shared_ptr<usbscan::UsbBackend> CreateVirtualScanner(const std::string&, std::string* error) {
    if (error != nullptr) *error = "the virtual scanner is not built yet";
    return nullptr;
}

}  // namespace b58::sim

#include "virtual_devices.h"

#include "class_driver_imports.h"
#include "platform/usbscan/device_config.h"
#include "sim/virtual_scanner.h"

namespace b58::standin {

bool AttachVirtualDevices(HMODULE driver, std::string* error) {
    usbscan::RegisterBackendFactory("sim", [](const std::string& options, std::string* why) {
        return sim::CreateVirtualScanner(options, why);
    });
    return AttachClassDriver(driver, error);
}

}  // namespace b58::standin

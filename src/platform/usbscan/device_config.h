// Which devices the stand-in class driver publishes, from the environment (B58_DEVICES; see
// README.md), and whether it captures transfers from the start (B58_CAPTURE).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

// One entry of the device list: "<backend>@<index>[:<options>]".
struct DeviceSpec {
    std::string backend;
    int index = 0;
    std::string options;
};

struct DeviceConfiguration {
    std::vector<DeviceSpec> devices;
    std::vector<std::string> errors;  // one message per entry left out
};

// Reads a device list: entries separated by ';', blanks around them ignored. An entry that
// does not parse, names an index outside 0..9, or repeats an earlier entry's index is left
// out with a message.
DeviceConfiguration ParseDeviceConfiguration(std::string_view text);

// Builds a backend from an entry's options; null, with a message in *error, on failure.
using BackendFactory =
    std::function<std::shared_ptr<UsbBackend>(const std::string& options, std::string* error)>;

// Makes a backend name usable in the device list ("sim", the virtual scanner, is built in).
// Registering an existing name replaces its factory.
void RegisterBackendFactory(const std::string& name, BackendFactory factory);

// Parses `text` and publishes each entry under its index with the interface path of the
// driven model. Every entry left out is reported on the debug channel (and added to
// *messages when given). Returns the number of devices published.
int ApplyDeviceConfiguration(std::string_view text, std::vector<std::string>* messages = nullptr);

// Applies B58_DEVICES and B58_CAPTURE once per process; every lookup calls it first.
void EnsureDevicesConfigured();

}  // namespace b58::usbscan

// The class driver's backend for a real scanner on USB, through libusb-1.0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

// Which device a "usb@N" entry names: "vid=0xVVVV,pid=0xPPPP" (the first such device) or
// "bus=B,address=A" (as lsusb shows them); "timeout_ms=T" sets the control transfers'
// time-out (5000 by default).
struct LibusbDeviceChoice {
    int vendorId = -1;
    int productId = -1;
    int bus = -1;
    int address = -1;
    unsigned timeoutMs = 5000;
};

// False, with a message in *error, for options that do not name one device.
bool ParseLibusbOptions(const std::string& options, LibusbDeviceChoice* choice, std::string* error);

// Opens and claims the device; null, with a message in *error, when it is not there, cannot
// be opened (permissions) or is in use by another program.
std::shared_ptr<UsbBackend> CreateLibusbBackend(const std::string& options, std::string* error);

}  // namespace b58::usbscan

// The stand-in still-image class driver as the rest of the stand-in platform sees it.
#pragma once

#include <memory>

#include "platform/posix/kernel_object.h"
#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

// True when CreateFileA's name is one the class driver serves: "\\.\UsbScanN" or a device
// interface path (with the file-name suffix the caller appended).
bool IsDeviceName(const char* name);

// Opens a published device by either kind of name. Null, with the last error set
// (ERROR_FILE_NOT_FOUND when no device answers to the name), when it cannot be opened.
std::shared_ptr<platform::IoObject> OpenDevice(const char* name, DWORD flagsAndAttributes);

// Publishing. The configuration from the environment is applied once, before the first
// lookup; tests publish and withdraw devices directly.
void Publish(DeviceEntry entry);
void Withdraw(int index);
void WithdrawAll();

}  // namespace b58::usbscan

// First cut: no device is ever published. Replaced by the full stand-in.
#include "platform/usbscan/class_driver.h"

#include <cstring>

namespace b58::usbscan {

bool IsDeviceName(const char* name) {
    return std::strncmp(name, "\\\\.\\", 4) == 0 || std::strncmp(name, "\\\\?\\", 4) == 0;
}

std::shared_ptr<platform::IoObject> OpenDevice(const char*, DWORD) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

void Publish(DeviceEntry) {}
void Withdraw(int) {}
void WithdrawAll() {}

}  // namespace b58::usbscan

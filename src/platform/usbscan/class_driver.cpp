// The stand-in still-image class driver's entry points for the rest of the stand-in platform.
#include "platform/usbscan/class_driver.h"

#include <string>

#include "platform/usbscan/device_handle.h"
#include "platform/usbscan/device_names.h"
#include "platform/usbscan/device_registry.h"

namespace b58::usbscan {

bool IsDeviceName(const char* name) {
    return name != nullptr && IsDeviceNamespaceName(name);
}

std::shared_ptr<platform::IoObject> OpenDevice(const char* name, DWORD flagsAndAttributes) {
    std::shared_ptr<PublishedDevice> device;
    if (name != nullptr) {
        if (std::optional<int> index = ParseFixedDeviceName(name)) {
            device = FindDeviceByIndex(*index);
        } else {
            device = FindDeviceByInterfaceName(name);
        }
    }
    if (!device || !device->Present()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return std::make_shared<DeviceHandle>(std::move(device),
                                          (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0);
}

void Publish(DeviceEntry entry) {
    int index = entry.index;
    if (!PublishDevice(std::move(entry))) {
        std::string message = "usbscan: device " + std::to_string(index) +
                              " not published (index 0 to 9 and a backend needed)\n";
        OutputDebugStringA(message.c_str());
    }
}

void Withdraw(int index) {
    WithdrawDevice(index);
}

void WithdrawAll() {
    WithdrawAllDevices();
}

}  // namespace b58::usbscan

#include "platform/usbscan/device_registry.h"

#include <array>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/usbscan/device_config.h"
#include "platform/usbscan/device_names.h"

namespace b58::usbscan {
namespace {

struct Registry {
    std::mutex lock;
    std::array<std::shared_ptr<PublishedDevice>, kMaxDevices> devices;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // never destroyed: handles may outlive main()
    return *registry;
}

// Marks the device gone and ends the bulk read running on it, if any. A backend may miss a
// cancel that arrives just before its read starts waiting, so it is repeated for a while as
// long as a read still holds the bulk pipe.
void Unplug(const std::shared_ptr<PublishedDevice>& device) {
    device->present.store(false, std::memory_order_release);
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (device->bulkPipe.try_lock()) {
            device->bulkPipe.unlock();
            return;
        }
        device->backend->CancelBulk();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::shared_ptr<PublishedDevice> Take(int index) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    return std::exchange(registry.devices[static_cast<size_t>(index)], nullptr);
}

}  // namespace

bool PublishDevice(DeviceEntry entry) {
    if (entry.index < 0 || entry.index >= kMaxDevices || !entry.backend) return false;
    auto device = std::make_shared<PublishedDevice>(entry.index, std::move(entry.interfacePath),
                                                    std::move(entry.backend));
    std::shared_ptr<PublishedDevice> replaced;
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> hold(registry.lock);
        replaced = std::exchange(registry.devices[static_cast<size_t>(entry.index)], std::move(device));
    }
    if (replaced) Unplug(replaced);
    return true;
}

void WithdrawDevice(int index) {
    if (index < 0 || index >= kMaxDevices) return;
    if (auto device = Take(index)) Unplug(device);
}

void WithdrawAllDevices() {
    for (int index = 0; index < kMaxDevices; ++index) WithdrawDevice(index);
}

std::shared_ptr<PublishedDevice> FindDeviceByIndex(int index) {
    EnsureDevicesConfigured();
    if (index < 0 || index >= kMaxDevices) return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    return registry.devices[static_cast<size_t>(index)];
}

std::shared_ptr<PublishedDevice> FindDeviceByInterfaceName(const std::string& name) {
    EnsureDevicesConfigured();
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    for (const auto& device : registry.devices) {
        if (device && NameSelectsInterface(name, device->interfacePath)) return device;
    }
    return nullptr;
}

std::vector<std::string> InterfacePathSnapshot() {
    EnsureDevicesConfigured();
    std::vector<std::string> paths;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    for (const auto& device : registry.devices) {
        if (device && !device->interfacePath.empty()) paths.push_back(device->interfacePath);
    }
    return paths;
}

}  // namespace b58::usbscan

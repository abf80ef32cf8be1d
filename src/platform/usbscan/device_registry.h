// The devices the stand-in class driver has published, by index (0..9). Every lookup first
// applies the configuration from the environment, once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/usbscan/published_device.h"
#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

inline constexpr int kMaxDevices = 10;

// Publishes a device; one already published under the same index is withdrawn first. False
// (nothing published) for an index outside 0..9 or a missing backend.
bool PublishDevice(DeviceEntry entry);

// Withdraws (unplugs) the device under the index; handles still open on it fail from now on.
void WithdrawDevice(int index);
void WithdrawAllDevices();

// The device under a fixed-name index, or null.
std::shared_ptr<PublishedDevice> FindDeviceByIndex(int index);

// The device whose interface path begins `name` (compared without regard to case, as the
// system's object names are), followed by nothing or by a backslash; null when none does.
std::shared_ptr<PublishedDevice> FindDeviceByInterfaceName(const std::string& name);

// The interface paths of the published devices, in index order (devices published without
// a path are left out).
std::vector<std::string> InterfacePathSnapshot();

}  // namespace b58::usbscan

// How the stand-in class driver reads the names CreateFileA is given.
//
// Fixed names: "\\.\UsbScanN" with N one decimal digit; the "UsbScan" part in any case.
// Interface names: a published device interface path ("\\?\usb#vid_...#{...}"), optionally
// followed by a file name inside the device that starts with a backslash. The path selects
// the device (compared without regard to case); the file name is not interpreted, so the
// names the driver forms by appending "\\\.\USBScan0" ... "\\\.\USBScan4" all open the device.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace b58::usbscan {

// The still-image device interface class.
inline constexpr GUID kStillImageInterfaceClass = {
    0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

// The device index of a fixed name, or nothing when `name` is not one.
std::optional<int> ParseFixedDeviceName(std::string_view name);

// True when `name` is the interface path `path`, alone or followed by a backslash and a file
// name inside the device.
bool NameSelectsInterface(std::string_view name, std::string_view path);

// True for names in the system's device namespaces ("\\.\..." and "\\?\..." other than a
// long-form file path such as "\\?\C:\..." or "\\?\UNC\...").
bool IsDeviceNamespaceName(std::string_view name);

// The interface path under which a configured device of the driven model is published:
// "\\?\usb#vid_1a2b&pid_3c4d#5&2f3a1b&0&<index + 1>#{6bdd1fc6-810f-11d0-bec7-08002be2092f}".
std::string DefaultInterfacePath(int index);

}  // namespace b58::usbscan

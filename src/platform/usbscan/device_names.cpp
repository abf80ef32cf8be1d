#include "platform/usbscan/device_names.h"

#include <cctype>
#include <string>

namespace b58::usbscan {
namespace {

constexpr std::string_view kDeviceNamespace = "\\\\.\\";
constexpr std::string_view kInterfaceNamespace = "\\\\?\\";
constexpr std::string_view kFixedNameStem = "usbscan";

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::optional<int> ParseFixedDeviceName(std::string_view name) {
    if (!name.starts_with(kDeviceNamespace)) return std::nullopt;
    name.remove_prefix(kDeviceNamespace.size());
    if (!StartsWithIgnoringCase(name, kFixedNameStem)) return std::nullopt;
    name.remove_prefix(kFixedNameStem.size());
    if (name.size() != 1 || !std::isdigit(static_cast<unsigned char>(name[0]))) return std::nullopt;
    return name[0] - '0';
}

bool NameSelectsInterface(std::string_view name, std::string_view path) {
    if (path.empty() || !StartsWithIgnoringCase(name, path)) return false;
    return name.size() == path.size() || name[path.size()] == '\\';
}

bool IsDeviceNamespaceName(std::string_view name) {
    if (name.starts_with(kDeviceNamespace)) return name.size() > kDeviceNamespace.size();
    if (!name.starts_with(kInterfaceNamespace)) return false;
    name.remove_prefix(kInterfaceNamespace.size());
    if (name.empty()) return false;
    bool drivePath = name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
    return !drivePath && !StartsWithIgnoringCase(name, "UNC\\");
}

std::string DefaultInterfacePath(int index) {
    return "\\\\?\\usb#vid_1a2b&pid_3c4d#5&2f3a1b&0&" + std::to_string(index + 1) +
           "#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
}

}  // namespace b58::usbscan

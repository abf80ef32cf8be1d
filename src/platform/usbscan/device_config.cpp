#include "platform/usbscan/device_config.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/usbscan/backend_modules.h"
#include "platform/usbscan/builtin_backends.h"
#include "platform/usbscan/device_names.h"
#include "platform/usbscan/device_registry.h"
#include "platform/usbscan/usb_capture.h"
#include "platform/win32.h"

namespace b58::usbscan {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool IsBackendName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    }
    return true;
}

// "<backend>@<index>[:<options>]"; an empty string when it parses, else what is wrong.
std::string ParseEntry(std::string_view entry, DeviceSpec* parsed) {
    size_t at = entry.find('@');
    if (at == std::string_view::npos) return "expected <backend>@<index>";
    std::string_view name = Trim(entry.substr(0, at));
    if (!IsBackendName(name)) return "bad backend name";
    std::string_view rest = entry.substr(at + 1);
    size_t colon = rest.find(':');
    std::string_view indexText = Trim(rest.substr(0, colon));
    if (indexText.size() != 1 || !std::isdigit(static_cast<unsigned char>(indexText[0]))) {
        return "the index must be one digit, 0 to 9";
    }
    parsed->backend = std::string(name);
    parsed->index = indexText[0] - '0';
    parsed->options =
        colon == std::string_view::npos ? std::string() : std::string(Trim(rest.substr(colon + 1)));
    return {};
}

void ReportToDebugChannel(const std::string& message) {
    std::string line = "usbscan: " + message + "\n";
    OutputDebugStringA(line.c_str());
}

struct FactoryTable {
    std::mutex lock;
    std::map<std::string, BackendFactory> factories;
};

FactoryTable& Factories() {
    static FactoryTable* table = [] {
        auto* t = new FactoryTable;  // never destroyed: lookups may run during exit
        for (auto& [name, factory] : BuiltinBackends()) t->factories[name] = std::move(factory);
        return t;
    }();
    return *table;
}

// A registered or built-in backend, else the module of that name.
BackendFactory FindFactory(const std::string& name) {
    FactoryTable& table = Factories();
    std::lock_guard<std::mutex> hold(table.lock);
    auto it = table.factories.find(name);
    if (it != table.factories.end()) return it->second;
    return [name](const std::string& options, std::string* error) {
        return CreateModuleBackend(name, options, error);
    };
}

}  // namespace

DeviceConfiguration ParseDeviceConfiguration(std::string_view text) {
    DeviceConfiguration result;
    bool taken[kMaxDevices] = {};
    while (!text.empty()) {
        size_t end = text.find(';');
        std::string_view entry = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (entry.empty()) continue;

        DeviceSpec parsed;
        std::string problem = ParseEntry(entry, &parsed);
        if (problem.empty() && taken[parsed.index]) problem = "index already used by an earlier entry";
        if (!problem.empty()) {
            result.errors.push_back("B58_DEVICES entry \"" + std::string(entry) + "\" left out: " + problem);
            continue;
        }
        taken[parsed.index] = true;
        result.devices.push_back(std::move(parsed));
    }
    return result;
}

void RegisterBackendFactory(const std::string& name, BackendFactory factory) {
    FactoryTable& table = Factories();
    std::lock_guard<std::mutex> hold(table.lock);
    table.factories[name] = std::move(factory);
}

int ApplyDeviceConfiguration(std::string_view text, std::vector<std::string>* messages) {
    auto report = [messages](const std::string& message) {
        ReportToDebugChannel(message);
        if (messages != nullptr) messages->push_back(message);
    };
    DeviceConfiguration configuration = ParseDeviceConfiguration(text);
    for (const std::string& error : configuration.errors) report(error);

    int published = 0;
    for (const DeviceSpec& parsed : configuration.devices) {
        std::string entry = parsed.backend + "@" + std::to_string(parsed.index);
        BackendFactory factory = FindFactory(parsed.backend);
        std::string error;
        std::shared_ptr<UsbBackend> backend = factory(parsed.options, &error);
        if (!backend) {
            report("B58_DEVICES entry \"" + entry + "\" left out: " +
                   (error.empty() ? std::string("the backend could not be created") : error));
            continue;
        }
        if (PublishDevice(
                DeviceEntry{parsed.index, DefaultInterfacePath(parsed.index), std::move(backend)})) {
            ++published;
        }
    }
    return published;
}

void EnsureDevicesConfigured() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (const char* capture = std::getenv("B58_CAPTURE"); capture != nullptr && *capture != '\0') {
            if (!CaptureActive() && !StartCapture(capture)) {
                ReportToDebugChannel(std::string("B58_CAPTURE: cannot write \"") + capture + "\"");
            }
        }
        if (const char* devices = std::getenv("B58_DEVICES"); devices != nullptr) {
            ApplyDeviceConfiguration(devices);
        }
    });
}

}  // namespace b58::usbscan

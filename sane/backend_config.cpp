#include "backend_config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace b58::sane {
namespace {

constexpr const char kDefaultConfigDir[] = "/etc/sane.d";

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// "sim@3:rate=0" -> "sim3"; empty when the entry is not <backend>@<digit>[:<options>].
std::string DeviceName(const std::string& entry) {
    const size_t at = entry.find('@');
    if (at == 0 || at == std::string::npos || at + 1 >= entry.size()) return {};
    const char index = entry[at + 1];
    if (index < '0' || index > '9') return {};
    if (at + 2 < entry.size() && entry[at + 2] != ':') return {};
    const std::string backend = entry.substr(0, at);
    for (char c : backend) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return {};
    }
    return backend + index;
}

}  // namespace

std::string BackendConfig::DeviceList() const {
    std::string list;
    for (const ConfiguredDevice& device : devices) {
        if (!list.empty()) list += ';';
        list += device.entry;
    }
    return list;
}

const ConfiguredDevice* BackendConfig::Find(const std::string& name) const {
    for (const ConfiguredDevice& device : devices) {
        if (device.name == name) return &device;
    }
    return nullptr;
}

BackendConfig ParseConfig(std::istream& text) {
    BackendConfig config;
    std::string line;
    int number = 0;
    while (std::getline(text, line)) {
        ++number;
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        line = Trim(line);
        if (line.empty()) continue;
        const size_t space = line.find_first_of(" \t");
        const std::string word = line.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : Trim(line.substr(space));
        auto problem = [&](const std::string& why) {
            config.problems.push_back("line " + std::to_string(number) + " \"" + line + "\": " + why);
        };
        if (word == "driver" || word == "firmware-dir") {
            if (value.empty()) {
                problem("needs a path");
                continue;
            }
            (word == "driver" ? config.driverPath : config.firmwareDir) = value;
        } else if (word == "open-timeout") {
            char* end = nullptr;
            const long ms = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || ms < 0 || ms > 600000) {
                problem("needs milliseconds from 0 to 600000");
                continue;
            }
            config.openTimeoutMs = static_cast<int>(ms);
        } else if (!value.empty()) {
            problem("unknown setting");
        } else if (const std::string name = DeviceName(word); name.empty()) {
            problem("not a device such as sim@0");
        } else if (config.Find(name) != nullptr) {
            problem("device " + name + " given twice");
        } else {
            config.devices.push_back({name, word});
        }
    }
    return config;
}

std::vector<std::string> ConfigSearchPath() {
    std::vector<std::string> folders;
    const char* fromEnvironment = std::getenv("SANE_CONFIG_DIR");
    std::string list = fromEnvironment != nullptr ? fromEnvironment : std::string();
    bool appendDefaults = list.empty() || list.back() == ':';
    std::stringstream parts(list);
    std::string part;
    while (std::getline(parts, part, ':')) {
        if (!part.empty()) folders.push_back(part);
    }
    if (appendDefaults) {
        folders.push_back(".");
        folders.push_back(kDefaultConfigDir);
    }
    return folders;
}

BackendConfig LoadConfig() {
    for (const std::string& folder : ConfigSearchPath()) {
        std::ifstream file(folder + "/b58.conf");
        if (file) return ParseConfig(file);
    }
    return BackendConfig{};
}

}  // namespace b58::sane

// b58.conf: where the driver lives and which scanners the backend publishes.
//
//   # comment
//   driver /usr/lib/b58/libb58spi.so     the driver library (its settings file lies beside it)
//   firmware-dir /usr/lib/b58/windows    the folder holding system32/drivers/b58fw.usb
//   open-timeout 1000                    ms sane_open waits before it reports the scanner busy
//   sim@0                                a device: the stand-in's entry, published as b58:sim0
//   sim@1:rate=0                         ... with options for the stand-in
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace b58::sane {

struct ConfiguredDevice {
    std::string name;   // as SANE frontends see it, without the "b58:" prefix: "sim0"
    std::string entry;  // the stand-in's device entry: "sim@0:rate=0"
};

struct BackendConfig {
    std::string driverPath;   // empty: libb58spi.so through the loader's search
    std::string firmwareDir;  // empty: the driver's built-in choice (or B58_WINDOWS_DIR)
    int openTimeoutMs = 750;
    std::vector<ConfiguredDevice> devices;
    std::vector<std::string> problems;  // lines left out, with the reason

    // The entries joined as B58_DEVICES wants them.
    std::string DeviceList() const;
    const ConfiguredDevice* Find(const std::string& name) const;
};

BackendConfig ParseConfig(std::istream& text);

// The folders SANE looks in for configuration files: SANE_CONFIG_DIR (colon-separated; a
// trailing colon appends the defaults), else the current folder and /etc/sane.d.
std::vector<std::string> ConfigSearchPath();

// b58.conf from the first folder of the search path that has one; the defaults (no
// device) when none does.
BackendConfig LoadConfig();

}  // namespace b58::sane

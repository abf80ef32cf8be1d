#include "sim/scanner_options.h"
#include "sim/virtual_scanner.h"

namespace b58::sim {

std::shared_ptr<usbscan::UsbBackend> CreateVirtualScanner(const std::string& options, std::string* error) {
    ScannerConfig config;
    if (!ParseScannerOptions(options, &config, error)) return nullptr;
    return std::make_shared<VirtualScanner>(std::move(config));
}

}  // namespace b58::sim

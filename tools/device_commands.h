// The b58scan commands that talk to the scanner: device information and a trial scan
// request, the front-panel key, the lamp, the carriage and the device status. Each opens the
// scanner with _Open, closes it with _Close, prints what the driver reports, and returns the
// program's exit status.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "driver_entry_points.h"

namespace b58::tools {

using host::DriverEntryPoints;

enum ExitStatus : int {
    kExitOk = 0,
    kExitDriverUnusable = 1,  // the driver cannot be loaded or lacks entry points
    kExitUsage = 2,
    kExitNoScanner = 3,      // no scanner answered
    kExitScannerInUse = 4,   // another program holds the scanner
    kExitCommandFailed = 5,  // the scanner refused or failed the command
};

// The scan request `info` hands to SetParameters.
struct ScanRequestOptions {
    uint16_t resolution = 300;
    uint16_t mode = ModeColor24;
    uint16_t left = 0, top = 0, right = 2550, bottom = 3300;  // 300-dpi units: US letter
    uint8_t source = 0;
};

// Applies one request option ("--resolution", "--mode", "--area", "--source") and its
// value; false with a message in `error` when the name or the value is not understood.
bool ApplyRequestOption(const std::string& name, const std::string& value, ScanRequestOptions& options,
                        std::string& error);

// The four-character identifier in the device information block, or "(none)".
std::string DeviceIdentifier(const uint8_t* block, uint16_t blockSize);

int RunScannerInfo(const DriverEntryPoints& driver, const ScanRequestOptions& request, std::ostream& out,
                   std::ostream& err);
int RunKey(const DriverEntryPoints& driver, std::ostream& out, std::ostream& err);
int RunLamp(const DriverEntryPoints& driver, bool on, std::ostream& out, std::ostream& err);
int RunHome(const DriverEntryPoints& driver, std::ostream& out, std::ostream& err);
int RunStatus(const DriverEntryPoints& driver, std::ostream& out, std::ostream& err);

}  // namespace b58::tools

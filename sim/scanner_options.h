// The virtual scanner's option string: comma-separated key=value pairs (sim/README.md lists
// the keys), e.g. "firmware=running,rate=0,not_taken=2".
#pragma once

#include <string>

#include "sim/scanner_config.h"

namespace b58::sim {

// Applies the options to *config (which keeps its values for keys not given). False, with a
// message in *error, for an unknown key or a value that does not parse; *config is then
// partly changed.
bool ParseScannerOptions(const std::string& text, ScannerConfig* config, std::string* error);

}  // namespace b58::sim

// The host's tone curve as the driver's gamma tables: three sections (red, green, blue) of
// 256 16-bit entries for the 8-bit modes, of 65536 for 48-bit colour.
#pragma once

#include <cstdint>
#include <vector>

#include "scan_request.h"

namespace b58::host {

// Entries per section for a driver mode: 65536 for ModeColor48, else 256 (GetGammaInfo's
// GammaInBits).
size_t GammaEntries(uint16_t driverMode);

// The three sections for `tone`; empty for the identity (the driver then builds its own).
std::vector<uint16_t> BuildGammaTables(const ToneControls& tone, uint16_t driverMode);

}  // namespace b58::host

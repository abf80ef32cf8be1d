// Finding the origin of the scan area (leftbound, TopLine) from a strip at the scanner's
// origin, on the flatbed and on the transparency adapter.
#pragma once

#include <cstdint>

#include "calibration/calibration_types.h"
#include "device/scanner_link.h"
#include "platform/win32.h"

namespace b58 {

// Status 1 when it ran to the end, 0 (with the origin 0, 0) when the scanner failed a step
// (a command refused, the strip not delivered, a transfer failed). A strip that arrived but
// shows no edge gives the fixed origin 72 / 86 and 1. lineTable is the buffer
// ComputeScanGeometry fills (room for 3 x 200 entries at least).
ScanOrigin FindFlatbedBounds(const ScannerLink& link, const AfeValues& afe, uint16_t* lineTable);

// 1 when it ran to the end, 0 when the scanner failed a step (a command refused, a strip
// line short, the data handshake never taken; leftbound is then at least 36, TopLine as it
// was). The origin's leftbound and TopLine go in as the session holds them.
int FindTaBounds(const ScannerLink& link, const TaOriginRequest& request, TaOrigin* origin);

}  // namespace b58

// Calibration strip scans: one complete small scan of the calibration area (lamp, window,
// AFE, start, handshake, line reads, stop, lamp) that leaves the strip in three colour planes.
#pragma once

#include <cstdint>

#include "calibration/calibration_types.h"
#include "device/scanner_link.h"
#include "platform/win32.h"

namespace b58 {

// The 8-bit strip scan. Sets g_state.StripScanOk (1 at the start, 0 when a command fails or
// a line read comes back short) and returns the strip's size.
StripSize ScanCalibrationStrip(const ScannerLink& link, const StripRequest& request,
                               const StripPlanes<uint8_t>& planes);

// The 16-bit twin: always colour line mode (the request's pixel mode and format are not
// used); row n of a plane at sample 2 x n x width.
StripSize ScanCalibrationStrip16(const ScannerLink& link, const StripRequest& request,
                                 const StripPlanes<uint16_t>& planes);

}  // namespace b58

// Calibration strip scans: one complete small scan of the calibration area (lamp, window,
// AFE, start, handshake, line reads, stop, lamp) that leaves the strip in three colour planes.
#pragma once

#include <cstdint>

#include "calibration/calibration_types.h"
#include "device/scanner_link.h"
#include "platform/win32.h"

namespace b58 {

// The strips of one calibration: the scanner they are taken on, and StripScanOk, which each
// strip sets to 1 at its start and to 0 when one of its commands fails or a line read comes
// back short. A calibration makes one for its strips and reads the status between them.
struct StripRun {
    ScannerLink link;
    int32_t StripScanOk = 0;
};

// The 8-bit strip scan. Sets the run's StripScanOk and returns the strip's size.
StripSize ScanCalibrationStrip(StripRun& run, const StripRequest& request,
                               const StripPlanes<uint8_t>& planes);

// The 16-bit twin: always colour line mode (the request's pixel mode and format are not
// used); row n of a plane at sample 2 x n x width.
StripSize ScanCalibrationStrip16(StripRun& run, const StripRequest& request,
                                 const StripPlanes<uint16_t>& planes);

}  // namespace b58

// The commands around a calibration strip's data: lamps, window, AFE values, start and the
// data handshake before it; stop and lamp after it. Every command is judged: a strip taken
// with a window or AFE values the scanner refused would measure the wrong thing, so a
// refused command, a failed transfer or a scanner that stays busy fails the strip.
#pragma once

#include <cstdint>

#include "calibration/calibration_types.h"
#include "calibration/strip_scan.h"
#include "calibration/strip_window.h"
#include "device/command_packets.h"
#include "device/scanner_link.h"
#include "platform/win32.h"

namespace b58 {

bool SendStripLamps(const ScannerLink& link, uint8_t lampMask);

// The shape of a strip's window as far as the request gives it: place, resolution, format
// and option bits.
StripWindowShape StripShapeOf(const StripRequest& request, uint16_t pixelFormatCode, uint16_t dataWidth);

// What both strip scans do before their window: the run's StripScanOk set, the strip's
// lamps, its geometry (sizes into the shape, line table into lineTable). The caller still
// sets the shape's adapter bit and mode field. False, with StripScanOk 0, when the lamp
// command fails, or (the closing lamp lit) when the geometry refuses the strip or it is wider
// than the planes and line buffers hold.
bool PrepareStrip(StripRun& run, StripWindowShape* shape, const StripRequest& request, uint16_t* lineTable);

// Window, AFE values, ready wait, start and data handshake. False at the first that fails:
// the strip then has no data to read, or data the scanner was not set up for.
bool StartStripScan(const ScannerLink& link, const ScanWindowParameters& window, const AfeValues& afe);

// Stop, then light the lamp given (it is off after a dark strip). False when either failed.
bool EndStripScan(const ScannerLink& link, uint8_t closingLampMask);

}  // namespace b58

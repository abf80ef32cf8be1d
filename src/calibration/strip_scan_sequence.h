// The commands around a calibration strip's data: lamps, window, AFE values, start and the
// data handshake before it; stop and lamp after it. Every command is judged: a strip taken
// with a window or AFE values the scanner refused would measure the wrong thing, so a
// refused command, a failed transfer or a scanner that stays busy fails the strip.
#pragma once

#include <cstdint>

#include "calibration/strip_window.h"
#include "device/command_packets.h"
#include "platform/win32.h"

namespace b58 {

struct StripAfeValues {
    uint8_t rOffset = 0;
    uint8_t rGain = 0;
    uint8_t gOffset = 0;
    uint8_t gGain = 0;
    uint8_t bOffset = 0;
    uint8_t bGain = 0;
};

bool SendStripLamps(HANDLE device, uint8_t lampMask);

// What both strip scans do before their window: StripScanOk set, the strip's lamps, its
// geometry (sizes into stripWidth / stripLines, line table into lineTable) and the window
// shape from them. The caller still sets the shape's adapter bit and mode field. False, with
// StripScanOk 0, when the lamp command fails, or (the closing lamp lit) when the geometry
// refuses the strip or it is wider than the planes and line buffers hold.
bool PrepareStrip(HANDLE device, StripWindowShape* shape, uint16_t widthUnits, uint16_t lineCount, bool dark,
                  bool ta, uint16_t* lineTable, uint16_t* stripWidth, uint16_t* stripLines);

// Window, AFE values, ready wait, start and data handshake. False at the first that fails:
// the strip then has no data to read, or data the scanner was not set up for.
bool StartStripScan(HANDLE device, const ScanWindowParameters& window, const StripAfeValues& afe);

// Stop, then light the lamp given (it is off after a dark strip). False when either failed.
bool EndStripScan(HANDLE device, uint8_t closingLampMask);

}  // namespace b58

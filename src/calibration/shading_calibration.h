// Shading calibration: white (and optionally dark) strips turned into per-pixel 256-entry
// maps for 8-bit scans, or 16-bit white and dark references for 48-bit flatbed scans.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace b58 {

// Each returns StripScanOk of its last strip (nonzero for success); a failed strip leaves
// every map and reference as it was.
int CalibrateShading(HANDLE device, uint16_t startLine, uint16_t lineCount, uint8_t rOffset, uint8_t rGain,
                     uint8_t gOffset, uint8_t gGain, uint8_t bOffset, uint8_t bGain, uint8_t* mapsR,
                     uint8_t* mapsG, uint8_t* mapsB, uint16_t xDpi, uint16_t yDpi, int16_t startx,
                     int32_t pixelModeFlag, uint16_t widthUnits, uint16_t pixelFormatCode, uint8_t taMode,
                     uint16_t dataWidth);
int CalibrateShading16(HANDLE device, uint16_t startLine, uint16_t lineCount, uint8_t rOffset, uint8_t rGain,
                       uint8_t gOffset, uint8_t gGain, uint8_t bOffset, uint8_t bGain, uint16_t* whiteR,
                       uint16_t* darkR, uint16_t* whiteG, uint16_t* darkG, uint16_t* whiteB, uint16_t* darkB,
                       uint16_t xDpi, uint16_t yDpi, int16_t startx, int32_t pixelModeFlag, uint16_t widthUnits,
                       uint16_t pixelFormatCode, uint8_t taMode);

}  // namespace b58

// Calibration strip scans: one complete small scan of the calibration area (lamp, window,
// AFE, start, handshake, line reads, stop, lamp) that leaves the strip in three colour planes.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace b58 {

// The 8-bit strip scan. Sets g_state.StripScanOk (1 at the start, 0 when a command fails or
// a line read comes back short) and returns the strip's size in stripWidth / stripLines.
void ScanCalibrationStrip(HANDLE device, uint16_t startLine, uint16_t lineCount, uint8_t* planeR,
                          uint8_t* planeG, uint8_t* planeB, uint8_t rOffset, uint8_t rGain, uint8_t gOffset,
                          uint8_t gGain, uint8_t bOffset, uint8_t bGain, uint16_t xDpi, uint16_t yDpi,
                          uint16_t* stripWidth, uint16_t* stripLines, uint16_t leftEdge, uint8_t darkFlag,
                          int32_t pixelModeFlag, uint16_t widthUnits, uint8_t option20_0, uint8_t option20_1,
                          uint8_t option20_2, uint16_t pixelFormatCode, uint8_t taSelector);

// The 16-bit twin: always colour line mode; row n of a plane at sample 2 x n x stripWidth.
void ScanCalibrationStrip16(HANDLE device, uint16_t startLine, uint16_t lineCount, uint16_t* planeR,
                            uint16_t* planeG, uint16_t* planeB, uint8_t rOffset, uint8_t rGain, uint8_t gOffset,
                            uint8_t gGain, uint8_t bOffset, uint8_t bGain, uint16_t xDpi, uint16_t yDpi,
                            uint16_t* stripWidth, uint16_t* stripLines, uint16_t leftEdge, uint8_t darkFlag,
                            int32_t pixelModeFlag, uint16_t widthUnits, uint8_t option20_0, uint8_t option20_1,
                            uint8_t option20_2, uint16_t pixelFormatCode, uint8_t taSelector);

}  // namespace b58

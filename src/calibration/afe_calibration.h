// AFE offset and gain calibration before every scan: the flatbed three-phase search and the
// transparency adapter's halving search, measured on calibration strips.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace b58 {

struct StripLevels {
    uint16_t MinBlack = 0;
    uint16_t MaxWhite = 0;
    uint16_t MidLevel = 0;
};

// Measures one plane: white bins of 10 pixels over the strip, black bins over the black
// window at the strip's left (by the TA flag and the resolution).
StripLevels MeasureStripLevels(const uint8_t* plane, uint16_t stripWidth, uint16_t stripLines,
                               uint16_t calibrationDpi, int taFlag);

// Both return StripScanOk of the run (nonzero for success); on failure the six values keep
// what they had. On success they and the driver-wide AFE values and black levels are updated.
// The flatbed search ends with a closing strip at 300 dpi: when only that one comes back
// short, the results found are still stored and 0 is returned.
// With a one-plane format only the green plane is scanned; red and blue are measured as
// green, so the three searches move together and settle with it.
int CalibrateAFE(HANDLE device, uint16_t startLine, uint16_t lineCount, uint8_t* rOffset, uint8_t* rGain,
                 uint8_t* gOffset, uint8_t* gGain, uint8_t* bOffset, uint8_t* bGain, int32_t pixelModeFlag,
                 uint16_t calibrationDpi, uint16_t pixelFormatCode);
int CalibrateAFEForTa(HANDLE device, uint16_t startLine, uint16_t lineCount, uint8_t* rOffset, uint8_t* rGain,
                      uint8_t* gOffset, uint8_t* gGain, uint8_t* bOffset, uint8_t* bGain,
                      int32_t pixelModeFlag, uint16_t calibrationDpi, uint16_t pixelFormatCode);

}  // namespace b58

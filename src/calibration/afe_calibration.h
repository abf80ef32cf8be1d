// AFE offset and gain calibration before every scan: the flatbed three-phase search and the
// transparency adapter's halving search, measured on calibration strips.
#pragma once

#include <cstdint>

#include "calibration/calibration_types.h"
#include "device/scanner_link.h"
#include "platform/win32.h"

namespace b58 {

struct StripLevels {
    uint16_t MinBlack = 0;
    uint16_t MaxWhite = 0;
    uint16_t MidLevel = 0;
};

// Measures one plane: white bins of 10 pixels over the strip, black bins over the black
// window at the strip's left (by the adapter lamp and the resolution).
StripLevels MeasureStripLevels(const uint8_t* plane, uint16_t stripWidth, uint16_t stripLines,
                               uint16_t calibrationDpi, int taSelector);

// Both return StripScanOk of their strips as the status (nonzero for success); on failure the
// result holds no values. Found values come with the black levels of the last measurement;
// the caller keeps them for the scan and the next search. The flatbed search ends with a
// closing strip at 300 dpi: when only that one comes back short, the values found are still
// returned, with status 0.
// With a one-plane format only the green plane is scanned; red and blue are measured as
// green, so the three searches move together and settle with it.
CalibrationResult CalibrateAFE(const ScannerLink& link, const AfeSearchRequest& request);
CalibrationResult CalibrateAFEForTa(const ScannerLink& link, const AfeSearchRequest& request);

}  // namespace b58

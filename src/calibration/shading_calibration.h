// Shading calibration: white (and optionally dark) strips turned into per-pixel 256-entry
// maps for 8-bit scans, or 16-bit white and dark references for 48-bit flatbed scans.
#pragma once

#include <cstdint>

#include "calibration/calibration_types.h"
#include "device/scanner_link.h"
#include "platform/win32.h"

namespace b58 {

// Each returns StripScanOk of its last strip (nonzero for success); a failed strip leaves
// every map and reference as it was. The 16-bit calibration is the flatbed's: it ignores the
// request's adapter mode. CalibrateShading builds the 16-bit references (from the white strip
// and the black levels) only for a 48-bit adapter scan, and only when all six are given.
int CalibrateShading(const ScannerLink& link, const ShadingRequest& request, const ShadingMaps& maps,
                     const ShadingReferences& references);
int CalibrateShading16(const ScannerLink& link, const ShadingRequest& request,
                       const ShadingReferences& references);

}  // namespace b58

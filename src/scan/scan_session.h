// One scan request from SetParameters to the next: the configuration derived from the request,
// the source it scans from, what StartScan found on the device and placed the window by, and
// the AFE values. SetParameters replaces the configuration part whole; StartScan fills in the
// rest. The AFE values and the found bounds outlive a request: each calibration starts from
// the values the last one left.
#pragma once

#include <cstdint>

#include "device/afe_values.h"
#include "scan/scan_request.h"

namespace b58 {

struct ScanSession : ScanConfig {
    // ---- source ----------------------------------------------------------------------------
    uint16_t ScanMode = 0;
    uint16_t TaType = 0;  // 0 flatbed; 1, 2, 4 the adapter kind (kept when the source is unknown)
    uint8_t TaMode = 0;   // 1 while the adapter is the source

    // ---- placed by StartScan ---------------------------------------------------------------
    // SWWidth and SWHeight of the configuration are replaced by the geometry's sizes at the
    // start, SWHeight and HWHeight then grow by the pre-roll.
    uint16_t CalibrationDpi = 0;
    uint16_t HWWidth = 0;
    uint16_t HWHeight = 0;
    int16_t myStartx = 0;
    int16_t myStarty = 0;
    uint16_t leftbound = 0;
    int32_t TopLine = 0;
    int32_t Backstep = 0;
    int16_t ShadingStartLine = 0;
    uint16_t WindowStartX = 0;
    uint16_t HeightMinus = 0;

    // ---- AFE -------------------------------------------------------------------------------
    AfeValues Afe{32, 2, 32, 2, 32, 2};
    uint8_t RMinBlack = 0;
    uint8_t GMinBlack = 0;
    uint8_t BMinBlack = 0;

    // A new request's configuration, with everything else of the session kept.
    void TakeConfig(const ScanConfig& config) { static_cast<ScanConfig&>(*this) = config; }
    const ScanConfig& Config() const { return *this; }
};

}  // namespace b58

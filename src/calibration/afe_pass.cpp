#include "calibration/afe_pass.h"

#include "calibration/strip_scan.h"
#include "device/scan_geometry.h"

namespace b58 {

namespace {
constexpr uint16_t kStripWidthUnits = kStripMaxPixels;

uint8_t Low8(int value) {
    return static_cast<uint8_t>(value & 0xFF);
}
}  // namespace

AfeSearchPasses::AfeSearchPasses(const ScannerLink& link, const AfeSearchRequest& request, bool taSelector)
    : run_{link}, request_(request), taSelector_(taSelector) {
    for (auto& plane : planes_) plane.assign(static_cast<size_t>(request.lineCount) * kStripMaxPixels, 0);
}

bool AfeSearchPasses::Run(const ChannelSet& c, uint16_t dpi, bool measure) {
    const uint8_t laterOptions = first_ ? 0 : 1;
    first_ = false;
    const StripRequest strip{.startLine = request_.startLine,
                             .lineCount = request_.lineCount,
                             .widthUnits = kStripWidthUnits,
                             .xDpi = dpi,
                             .yDpi = dpi,
                             .afe = {Low8(c[0].offset), Low8(c[0].gain), Low8(c[1].offset), Low8(c[1].gain),
                                     Low8(c[2].offset), Low8(c[2].gain)},
                             .pixelMode = request_.pixelMode,
                             .pixelFormatCode = request_.pixelFormatCode,
                             .options20 = {1, laterOptions, laterOptions},
                             .taSelector = taSelector_,
                             .taMode = request_.taMode,
                             .taType = request_.taType};
    const auto [width, lines] =
        ScanCalibrationStrip(run_, strip, {planes_[0].data(), planes_[1].data(), planes_[2].data()});
    if (!run_.StripScanOk) return false;
    if (!measure) return true;
    const int taSelector = taSelector_ ? 1 : 0;
    if (request_.pixelFormatCode == kColourPixelFormat) {
        for (size_t i = 0; i < 3; ++i)
            levels_[i] = MeasureStripLevels(planes_[i].data(), width, lines, dpi, taSelector);
    } else {
        // A one-plane strip fills only the green plane: red and blue take its levels, so
        // that their searches follow green's instead of chasing planes nothing wrote.
        levels_[1] = MeasureStripLevels(planes_[1].data(), width, lines, dpi, taSelector);
        levels_[0] = levels_[2] = levels_[1];
    }
    return true;
}

CalibrationResult FinishAfeSearch(const ChannelSet& c, const LevelSet& last) {
    CalibrationResult result;
    result.found = true;
    result.afe = {ClampAfeValue(c[0].offset), ClampAfeValue(c[0].gain),   ClampAfeValue(c[1].offset),
                  ClampAfeValue(c[1].gain),   ClampAfeValue(c[2].offset), ClampAfeValue(c[2].gain)};
    result.black = {static_cast<uint8_t>(last[0].MinBlack & 0xFF),
                    static_cast<uint8_t>(last[1].MinBlack & 0xFF),
                    static_cast<uint8_t>(last[2].MinBlack & 0xFF)};
    return result;
}

bool AllSettled(const ChannelSet& c) {
    return c[0].settled && c[1].settled && c[2].settled;
}

void ClearSettled(ChannelSet& c) {
    for (auto& channel : c) channel.settled = false;
}

}  // namespace b58

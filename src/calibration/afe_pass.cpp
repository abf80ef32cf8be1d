#include "calibration/afe_pass.h"

#include "calibration/strip_scan.h"
#include "device/scan_geometry.h"
#include "state/driver_state.h"

namespace b58 {

namespace {
constexpr uint16_t kStripWidthUnits = kMaxLinePixels;

uint8_t Low8(int value) {
    return static_cast<uint8_t>(value & 0xFF);
}
}  // namespace

AfeSearchPasses::AfeSearchPasses(const ScannerLink& link, const AfeSearchRequest& request, bool taSelector)
    : link_(link), request_(request), taSelector_(taSelector) {
    for (auto& plane : planes_) plane.assign(static_cast<size_t>(request.lineCount) * kMaxLinePixels, 0);
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
                             .taSelector = taSelector_};
    const auto [width, lines] =
        ScanCalibrationStrip(link_, strip, {planes_[0].data(), planes_[1].data(), planes_[2].data()});
    if (!g_state.StripScanOk) return false;
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

AfeValues FinishAfeSearch(const ChannelSet& c, const LevelSet& last) {
    g_state.Session.RMinBlack = static_cast<uint8_t>(last[0].MinBlack & 0xFF);
    g_state.Session.GMinBlack = static_cast<uint8_t>(last[1].MinBlack & 0xFF);
    g_state.Session.BMinBlack = static_cast<uint8_t>(last[2].MinBlack & 0xFF);
    const AfeValues found{ClampAfeValue(c[0].offset), ClampAfeValue(c[0].gain),   ClampAfeValue(c[1].offset),
                          ClampAfeValue(c[1].gain),   ClampAfeValue(c[2].offset), ClampAfeValue(c[2].gain)};
    g_state.Session.ROffset = found.ROffset;
    g_state.Session.RGain = found.RGain;
    g_state.Session.GOffset = found.GOffset;
    g_state.Session.GGain = found.GGain;
    g_state.Session.BOffset = found.BOffset;
    g_state.Session.BGain = found.BGain;
    return found;
}

bool AllSettled(const ChannelSet& c) {
    return c[0].settled && c[1].settled && c[2].settled;
}

void ClearSettled(ChannelSet& c) {
    for (auto& channel : c) channel.settled = false;
}

}  // namespace b58

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

AfeSearchPasses::AfeSearchPasses(HANDLE device, uint16_t startLine, uint16_t lineCount, int32_t pixelModeFlag,
                                 uint16_t pixelFormatCode, uint8_t taSelector)
    : device_(device),
      startLine_(startLine),
      lineCount_(lineCount),
      pixelModeFlag_(pixelModeFlag),
      pixelFormatCode_(pixelFormatCode),
      taSelector_(taSelector) {
    for (auto& plane : planes_) plane.assign(static_cast<size_t>(lineCount) * kMaxLinePixels, 0);
}

bool AfeSearchPasses::Run(const ChannelSet& c, uint16_t dpi, bool measure) {
    const uint8_t laterOptions = first_ ? 0 : 1;
    first_ = false;
    uint16_t width = 0;
    uint16_t lines = 0;
    ScanCalibrationStrip(device_, startLine_, lineCount_, planes_[0].data(), planes_[1].data(),
                         planes_[2].data(), Low8(c[0].offset), Low8(c[0].gain), Low8(c[1].offset),
                         Low8(c[1].gain), Low8(c[2].offset), Low8(c[2].gain), dpi, dpi, &width, &lines, 0, 0,
                         pixelModeFlag_, kStripWidthUnits, 1, laterOptions, laterOptions, pixelFormatCode_,
                         taSelector_);
    if (!g_state.StripScanOk) return false;
    if (!measure) return true;
    const int taFlag = taSelector_ ? 1 : 0;
    if (pixelFormatCode_ == kColourPixelFormat) {
        for (size_t i = 0; i < 3; ++i)
            levels_[i] = MeasureStripLevels(planes_[i].data(), width, lines, dpi, taFlag);
    } else {
        // A one-plane strip fills only the green plane: red and blue take its levels, so
        // that their searches follow green's instead of chasing planes nothing wrote.
        levels_[1] = MeasureStripLevels(planes_[1].data(), width, lines, dpi, taFlag);
        levels_[0] = levels_[2] = levels_[1];
    }
    return true;
}

void FinishAfeSearch(const ChannelSet& c, const LevelSet& last, uint8_t* rOffset, uint8_t* rGain,
                     uint8_t* gOffset, uint8_t* gGain, uint8_t* bOffset, uint8_t* bGain) {
    g_state.Session.RMinBlack = static_cast<uint8_t>(last[0].MinBlack & 0xFF);
    g_state.Session.GMinBlack = static_cast<uint8_t>(last[1].MinBlack & 0xFF);
    g_state.Session.BMinBlack = static_cast<uint8_t>(last[2].MinBlack & 0xFF);
    *rOffset = g_state.Session.ROffset = ClampAfeValue(c[0].offset);
    *rGain = g_state.Session.RGain = ClampAfeValue(c[0].gain);
    *gOffset = g_state.Session.GOffset = ClampAfeValue(c[1].offset);
    *gGain = g_state.Session.GGain = ClampAfeValue(c[1].gain);
    *bOffset = g_state.Session.BOffset = ClampAfeValue(c[2].offset);
    *bGain = g_state.Session.BGain = ClampAfeValue(c[2].gain);
}

bool AllSettled(const ChannelSet& c) {
    return c[0].settled && c[1].settled && c[2].settled;
}

void ClearSettled(ChannelSet& c) {
    for (auto& channel : c) channel.settled = false;
}

}  // namespace b58

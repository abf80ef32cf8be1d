#include "calibration/strip_window.h"
#include "contract/scanner_model.h"

namespace b58 {

namespace {
constexpr uint8_t kLampsOff = Model().lamps.none;
constexpr uint8_t kLampFlatbed = Model().lamps.flatbed;
constexpr uint8_t kLampAdapter = Model().lamps.adapter;
}  // namespace

ScanWindowParameters BuildStripWindow(const StripWindowShape& shape, int32_t deviceKind) {
    ScanWindowParameters w;
    w.myStartx = shape.leftEdge;
    w.myStarty = shape.startLine;
    w.HWWidth = shape.HWWidth;
    w.HWHeight = shape.HWHeight;
    w.RXDPI = shape.xDpi;
    w.SWWidth = shape.SWWidth;
    w.SWHeight = shape.SWHeight;
    w.PixelFormatCode = shape.pixelFormatCode;
    w.DataWidth = shape.dataWidth;
    w.Option10_5 = 0;
    w.Option11_0 = 0;
    w.Option11_1 = 0;
    w.WindowByte = 0;
    w.InterfaceType = static_cast<uint16_t>(deviceKind);
    w.Option11_6 = 0;
    w.Option11_7 = 0;
    w.Option20_0 = shape.options20[0];
    w.Option20_1 = shape.options20[1];
    w.Option20_2 = shape.options20[2];
    w.Option20_3 = 0;
    w.Option20_4Nibble = 0;
    w.TaMode = shape.taModeBit ? 1 : 0;
    w.Option21_1 = 0;
    w.ModeField = shape.modeField;
    w.RYDPI = shape.yDpi;
    w.TrailingWord = 0;
    w.Wide16 = 1;
    w.Unused = 300;
    w.YMAXDPI = 300;
    w.LAMPSTEP = 0;
    return w;
}

bool StripTaModeBit(bool darkStrip, bool taSelector, bool taMode) {
    return darkStrip || taSelector || taMode;
}

uint16_t StripModeField(bool pixelMode, bool taMode, uint16_t taType) {
    return ScanWindowModeField(pixelMode, true, taMode ? TaTypeCode(taType) : 0);
}

uint8_t StripLampMask(bool darkStrip, bool taSelector) {
    if (darkStrip) return kLampsOff;
    return StripClosingLampMask(taSelector);
}

uint8_t StripClosingLampMask(bool taSelector) {
    return taSelector ? kLampAdapter : kLampFlatbed;
}

}  // namespace b58

// The scan window of a calibration strip: every field but the strip's own position, size,
// resolution and option bits is fixed, so the window is built from the geometry's sizes
// alone. Pure, so the values sent can be checked field by field.
#pragma once

#include <cstdint>

#include "device/command_packets.h"

namespace b58 {

struct StripWindowShape {
    uint16_t leftEdge = 0;   // first sensor pixel
    uint16_t startLine = 0;  // first motor line
    uint16_t HWWidth = 0;
    uint16_t HWHeight = 0;
    uint16_t SWWidth = 0;
    uint16_t SWHeight = 0;
    uint16_t xDpi = 0;
    uint16_t yDpi = 0;
    uint16_t pixelFormatCode = 0;
    uint16_t dataWidth = 8;
    uint8_t options20[3] = {};
    bool taModeBit = false;  // the window's adapter bit
    uint16_t modeField = 0;  // pixel mode, no-lamp-step flag and adapter type code
};

ScanWindowParameters BuildStripWindow(const StripWindowShape& shape, int32_t deviceKind);

// The 8-bit strip's adapter bit: a dark strip, the adapter lamp, or an adapter scan.
bool StripTaModeBit(bool darkStrip, bool taSelector, bool taMode);
// The 8-bit strip's mode field: the no-lamp-step flag is always set; the adapter type code
// only while an adapter is the scan source.
uint16_t StripModeField(bool pixelMode, bool taMode, uint16_t taType);
// The lamps a strip is scanned under, and the lamp lit again when it is done.
uint8_t StripLampMask(bool darkStrip, bool taSelector);
uint8_t StripClosingLampMask(bool taSelector);

}  // namespace b58

// What the virtual scanner's controller knows about a scan once the host has programmed it:
// the decoded scan-window packet (command 0x20), the AFE codes (command 0x22) and the lamps.
// The controller decodes; the image model (bed, optics, sensor, front end) turns it into
// the bulk stream.
#pragma once

#include <cstdint>

namespace b58::sim {

struct ScanWindow {
    uint16_t startLine = 0;        // packet bytes 2-3, motor steps (may be "negative" as a 16-bit value)
    uint16_t hwHeight = 0;         // bytes 4-5, motor steps
    uint16_t startPixel = 0;       // bytes 6-7, sensor pixels
    uint16_t hwWidth = 0;          // bytes 8-9, sensor pixels
    uint8_t formatByte = 0;        // byte 10
    uint8_t optionByte = 0;        // byte 11
    uint16_t xDpi = 0;             // bytes 12-13
    uint16_t lineBlocks = 0;       // bytes 14-15
    uint16_t lineBytes = 0;        // bytes 16-17: bytes per delivered line (per colour line in line mode)
    uint16_t linesToDeliver = 0;   // bytes 18-19
    uint8_t options20 = 0;         // byte 20
    uint8_t modeByte = 0;          // byte 21
    uint16_t dataWidth = 0;        // bytes 22-23, bits per sample
    uint16_t trailingWord = 0;     // bytes 24-25

    // Derived from the bytes above.
    uint8_t PixelFormatCode() const { return formatByte & 0x07; }
    bool Colour() const { return PixelFormatCode() == 4; }
    bool TaMode() const { return modeByte & 0x01; }
    bool PixelMode() const { return modeByte & 0x04; }
    bool NoLampStep() const { return modeByte & 0x08; }
    uint8_t TaTypeCode() const { return (modeByte >> 4) & 0x03; }
    bool ResolutionValid() const { return options20 & 0x08; }
};

struct AfeSettings {
    uint8_t offset[3] = {32, 32, 32};  // red, green, blue; codes 0..63
    uint8_t gain[3] = {2, 2, 2};       // as sent on the wire (after the driver's gain mapping)
};

enum LampBits : uint8_t { kLampFlatbed = 0x01, kLampTa = 0x02 };

}  // namespace b58::sim

// The arithmetic of a scan's start: where the hardware window begins across and down, the
// line the shading strip is read from, the window's mode field and the pre-roll that makes
// the controller deliver five extra lines ahead of the image. Pure functions of their inputs.
#pragma once

#include <cstdint>

namespace b58 {

// Lines the controller delivers ahead of the image; the first read discards them.
inline constexpr uint16_t kPrerollLines = 5;
// Lines between the top of the scan area and the start of the shading strip on the flatbed.
inline constexpr int kShadingLinesAboveTop = 73;

struct HorizontalStartInput {
    uint16_t windowLeft = 0;  // 300-dpi units
    uint16_t leftbound = 0;
    uint16_t leftAdd = 0;  // LEFTADD
    bool taMode = false;   // a transparency adapter is the source
    bool scanFromOrigin = false;
    bool pixelMode = false;  // ScanPixelModeFlag
    uint16_t taType = 0;     // 0 flatbed; 1, 2, 4
    uint16_t rxdpi = 0;
    uint16_t pixelFormatCode = 0;
};

struct HorizontalStart {
    int16_t myStartx = 0;
    uint16_t windowStartX = 0;  // the aligned start before the adapter's corrections
};

// In signed 16-bit arithmetic with truncating division: the window's left edge plus the
// found left bound (and LEFTADD on the flatbed, or on the adapter when scanning from the
// origin), rounded to the controller's 6-pixel grid; line mode starts one pixel earlier.
// The adapter kinds 1 and 4 then shift the start by their own sensor offsets.
HorizontalStart ComputeHorizontalStart(const HorizontalStartInput& in);

// TopLine - 73, at least 0.
int16_t ComputeShadingStartLine(int32_t topLine);

struct VerticalStartInput {
    uint16_t windowTop = 0;  // T
    uint16_t taTopAdd = 0;   // A, TATOPADD
    uint16_t topAdd = 0;     // P, TOPADD
    uint16_t lampStep = 0;   // L, LAMPSTEP
    uint16_t kStartY = 0;    // KSTARTY
    uint16_t taType = 0;
    uint16_t rxdpi = 0;
    uint16_t rydpi = 0;
    int32_t topLine = 0;
    int16_t shadingStartLine = 0;
    bool scanCalibrationArea = false;
    bool scanFromOrigin = false;
};

// The first line of the hardware window before the pre-roll, possibly negative (callers
// take a negative start as 0).
int32_t ComputeVerticalStart(const VerticalStartInput& in);

// The scan-window mode field: bit 0 pixel mode; bits 2-3 the adapter type code when an
// adapter is the source, 0 on the flatbed.
uint16_t ComputeScanModeField(bool pixelMode, bool taMode, uint16_t taType);

struct WindowRun {
    int16_t myStarty = 0;
    uint16_t swHeight = 0;
    uint16_t hwHeight = 0;
};

// Moves the window start up by the pre-roll and makes it that many lines longer. False, with
// `run` unchanged, when a height would no longer fit 16 bits. A start that would go above the
// first line is held at 0 (the controller takes a negative start as its home line anyway);
// the image then begins up to five lines higher, which only shows as extra lines discarded.
bool ApplyPreroll(WindowRun& run);

}  // namespace b58

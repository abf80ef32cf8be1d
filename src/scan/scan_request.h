// The scan configuration derived from the host's scan request: resolution normalisation,
// pixel or line mode, the window and line sizes and the routines of the mode. Pure: it reads
// the request and one value of the previous configuration and touches no driver object, so
// SetParameters can check a request completely before it changes anything.
#pragma once

#include <cstdint>

#include "contract/host_records.h"

namespace b58 {

// Which line-processing routine and which reader thread the mode uses.
enum class LineRoutineKind : uint8_t { LineArt, Gray, Color24PixelMode, Color24LineMode, Color48LineMode };
enum class ReaderRoutineKind : uint8_t { Pixel, Plane };

// Every value SetParameters stores, named as in the scan session. 16-bit values hold the
// 32-bit results truncated, as stored; a request is only accepted when none is cut.
struct ScanConfig {
    uint16_t Resolution = 0;  // what the request's Resolution reads afterwards
    uint16_t DataWidth = 0;
    uint16_t WidthUnits = 0;
    uint16_t HeightUnits = 0;
    int32_t HighResMode = 0;
    uint8_t ResolutionValid = 0;
    uint16_t RXDPI = 0;
    uint16_t RYDPI = 0;
    uint16_t YMAXDPI = 0;
    uint16_t LAMPSTEP = 0;
    int32_t ScanPixelModeFlag = 0;
    uint16_t WindowLeft = 0;
    uint16_t WindowTop = 0;
    uint16_t Threshold = 0;
    uint16_t WindowByte = 0;
    uint16_t LinePixels = 0;
    uint16_t ImageLines = 0;
    uint16_t MotorLines = 0;
    uint8_t ColourLag = 0;
    uint16_t SWWidth = 0;
    uint16_t SWHeight = 0;
    uint16_t PixelFormatCode = 0;
    uint16_t LineBytes = 0;
    LineRoutineKind LineRoutine = LineRoutineKind::LineArt;
    ReaderRoutineKind ReaderRoutine = ReaderRoutineKind::Pixel;
    const char* ResolutionTrace = nullptr;  // "Trel-LINEMODE" or "Trel-PIXELMODE"
    const char* ModeTrace = nullptr;        // the colour mode's message, or null
};

// Why a request cannot be scanned.
enum class ScanRequestFault : uint8_t {
    None,
    UnknownMode,       // ScanMode not 0, 1, 2 or 10
    EmptyWindow,       // Right <= Left or Bottom <= Top, or no pixel or no line at the resolution
    TooWide,           // a line wider than the 3700 pixels the maps and ring slots hold, or
                       // one that reaches past the sensor's 3700 pixels
    TooTall,           // more lines than the scan window and line table can describe
    WindowOutOfRange,  // the window's first line does not fit the motor's 16-bit step count
};

struct ScanRequestResult {
    ScanRequestFault fault = ScanRequestFault::None;
    ScanConfig config;  // complete only when fault is None
};

// `resolutionValidBefore` is the ResolutionValid of the previous configuration: a request
// below 50 dpi leaves it as it was.
ScanRequestResult DeriveScanConfig(const ScanParameters& request, uint8_t resolutionValidBefore);

// Whether the window's first line, with the top offsets of the settings and whatever top line
// the boundary search may find, still fits the scan window's signed 16-bit start field
// (`taType` 0 for the flatbed). A start that wraps negative would scan the calibration strip.
bool VerticalStartFits(const ScanConfig& config, uint16_t taType, uint16_t topAdd, uint16_t taTopAdd);

}  // namespace b58

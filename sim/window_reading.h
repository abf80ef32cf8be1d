// How the virtual scanner reads a programmed scan window: which sensor pixels and motor
// lines it delivers, in which layout, and how far each colour lags.
//
// The packet carries the start pixel and line, the hardware width and height, the
// horizontal resolution, the bytes per line, the lines to deliver, the format byte, the
// data width and the mode bits, but not the vertical resolution, the motor's step resolution
// or the colour lag. The device infers them:
//   - a window with the no-lamp-step bit (calibration strips) runs the motor at 300 steps
//     per inch, scans down at the horizontal resolution and has no colour lag;
//   - otherwise, below 300 dpi across it scans down at the horizontal resolution, 300 steps
//     per inch, without lag;
//   - at 300 dpi across every motor step is kept, and the lines asked for beyond the motor
//     steps are the 2 x lag lines a host needs to align its colours: 4 or more extra lines
//     mean the 600-step motor mode (600 dpi down) with a lag of 2, 2 or 3 extra lines a lag
//     of 1, fewer none.
// The start line is counted in 300-dpi lines in both motor modes (a 16-bit two's complement
// value; the carriage cannot go behind its home, so a start before it starts at home); the
// height and the lines in motor steps. A window with the transparency-adapter bit counts its
// lines from the adapter's reference line instead of from the carriage's home.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/scan_window.h"

namespace b58::sim {

// Sensor pixels by which a line-mode window starts before its start pixel.
constexpr int kLineModeLeadPixels = 5;

struct WindowReading {
    bool colour = false;     // three samples per pixel (format code 4)
    bool pixelMode = false;  // colour interleaved in one line; else one line per colour
    bool taFrame = false;    // lines counted from the transparency adapter's reference line
    int bytesPerSample = 1;  // 1, or 2 (least significant byte first) for data widths above 8
    uint32_t lineBytes = 0;  // bytes of one delivered line (of one colour line in line mode)
    uint32_t samples = 0;    // pixels per delivered line
    uint32_t bytesPerScanLine = 0;
    uint32_t lines = 0;  // scan lines delivered
    uint64_t totalBytes = 0;
    int firstPixel = 0;        // sensor pixel of the first delivered pixel
    int xDpi = 300;            // resolution across, 1..300
    bool motor600 = false;     // 600 motor steps per inch
    int yBase = 300;           // motor steps per inch
    int yTarget = 300;         // delivered lines per inch
    int colourLag = 0;         // L, in delivered lines
    std::array<int, 3> lag{};  // lines by which red, green, blue look back
    int startLine = 0;         // signed, 300-dpi lines from the frame's origin
};

WindowReading ReadWindow(const ScanWindow& window);

// Sensor pixel of the k-th delivered pixel.
int64_t SensorPixelOf(const WindowReading& reading, int64_t k);

// The part of the bed one delivered line sees: from top600 (600ths of an inch below the
// carriage's home), height600 high (2 at 300 steps per inch, 1 at 600).
struct LineAperture {
    int64_t top600 = 0;
    int height600 = 2;
};

// Aperture of delivered line `line` (negative lines lie before the window's first line).
LineAperture ApertureOf(const WindowReading& reading, int64_t line);

// Aperture that colour c (0 red, 1 green, 2 blue; 1 for one-plane scans) of delivered line
// `line` sees, its lag applied.
LineAperture ColourApertureOf(const WindowReading& reading, int64_t line, int colour);

}  // namespace b58::sim

// What the driver programs for a host's scan request, worked out the way the driver does
// it: resolution normalisation, the window origin from the boundary values, the vertical
// start table, the pre-roll, the lines rule and the even-spread sizes. The virtual scanner
// does not use this to produce its stream; it serves the offsets table of sim/README.md,
// the ground truth of a request, b58sim and the tests, and marks where the device's reading
// of a window meets the driver's arithmetic.
#pragma once

#include <cstdint>

#include "sim/scan_window.h"

namespace b58::sim {

// A host's request in its own terms (positions in 300-dpi units from the area's corner).
struct HostRequest {
    int source = 0;  // 0 flatbed; 1, 2, 4 the adapter kinds
    int left = 0;
    int top = 0;
    int right = 2550;
    int bottom = 3300;
    int resolution = 300;
    int mode = 2;  // 0 line art, 1 grey, 2 24-bit colour, 10 48-bit colour
};

// The driver's tuning values, at their defaults.
struct DriverSettings {
    int leftAdd = 0;
    int topAdd = 120;
    int kStartY = 0;
    int taTopAdd = 300;
    int taKStartY = 450;
};

// What the boundary strips show (the driver's leftbound and TopLine).
struct BoundaryValues {
    int leftbound = 0;
    int topLine = 0;
};

// The values the virtual scanner's strips produce: flatbed 70 and 84, adapter 372 and 63.
BoundaryValues DeviceBoundaryValues(bool transparencyAdapter);

struct DriverScan {
    int rxDpi = 0;
    int ryDpi = 0;
    int yMaxDpi = 300;
    int lampStep = 1;
    int colourLag = 0;
    bool pixelMode = false;
    int pixelFormat = 4;
    int dataWidth = 8;
    int linePixels = 0;
    int lineBytes = 0;
    int imageLines = 0;
    int swWidth = 0;       // pixels per raw line, from the even-spread sizes of the scan
    int swHeight = 0;      // raw lines read, the pre-roll included
    int windowStartX = 0;  // first delivered sensor pixel as the driver's join arithmetic takes it
    ScanWindow window;
};

DriverScan PlanDriverScan(const HostRequest& request, const DriverSettings& settings,
                          const BoundaryValues& bounds);
// With default settings and the device's boundary values.
DriverScan PlanDriverScan(const HostRequest& request);

// The driver's own even-spread sizes: an accumulator started at base - target, counting one
// position each time it reaches the base.
struct SpreadSizes {
    int hwWidth = 0;
    int hwHeight = 0;
    int swWidth = 0;  // even
    int swHeight = 0;
};
SpreadSizes DriverSpreadSizes(int baseX, int baseY, int targetX, int targetY, int xCount, int yCount);

// The scan-window packet fields the driver sends for these window parameters.
struct WindowParameters {
    int startX = 0;
    int startY = 0;  // may be negative; sent as 16 bits
    int hwWidth = 0;
    int hwHeight = 0;
    int rxDpi = 300;
    int swWidth = 0;
    int swHeight = 0;
    int pixelFormat = 4;
    int dataWidth = 8;
    int windowByte = 0;
    int options20 = 0;  // bits 0-3 (option 20.3 is the resolution-valid flag)
    bool ta = false;
    bool pixelMode = false;
    bool noLampStep = false;
    int taTypeCode = 0;
    int ryDpi = 300;
    int trailingWord = 0;
    bool wide16 = true;
    int yMaxDpi = 300;
    int lampStep = 0;
};
ScanWindow BuildScanWindow(const WindowParameters& p);

// The calibration strip window (AFE, shading) for a strip of `lines` 300-dpi lines and
// `width` sensor pixels at `dpi`.
ScanWindow CalibrationStripWindow(int startLine, int lines, int left, int width, int dpi, bool pixelMode,
                                  int pixelFormat, bool ta, int taTypeCode, int dataWidth);
// The boundary strip window: 512 x 200 on the flatbed, 700 x 200 on the adapter.
ScanWindow BoundaryStripWindow(bool transparencyAdapter, int yMaxDpi, int lampStep);

// Where a scan's first output pixel and line land against the requested area: in output
// pixels and lines, positive when they lie right of or below the requested corner.
struct ScanOffsets {
    double pixels = 0.0;
    double lines = 0.0;
};
ScanOffsets OffsetsOf(const HostRequest& request, const DriverScan& scan);

}  // namespace b58::sim

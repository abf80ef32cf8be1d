// Where the driver's delivered image lies against the corner the host asked for, so that a
// host can crop and pad the image to start exactly at that corner.
//
// The driver places its scan window with its own arithmetic (the device depends on it): the
// left edge is aligned to six sensor pixels, line-mode scans (grey, line art, 48-bit colour
// and every 600-dpi scan) start six sensor pixels further left, each adapter kind has its own
// corrections, and the pre-roll of five lines does not always cover the five lines the driver
// discards. The result is a small, fixed offset per mode, resolution, source and left edge.
// Pure: no driver state; the driver's default tuning values (LEFTADD 0, TOPADD 120, TATOPADD
// 300) and the boundary a sound scanner reports are assumed.
#pragma once

#include <cstdint>

namespace b58::host {

// Scan modes as the driver takes them.
inline constexpr int kModeLineArt = 0;
inline constexpr int kModeGray = 1;
inline constexpr int kModeColor24 = 2;
inline constexpr int kModeColor48 = 10;

struct ImageRequest {
    int mode = kModeColor24;
    int resolution = 300;  // as requested; the driver scans 50, 100, 150, 300 or 600 (300 across)
    int source = 0;        // 0 flatbed; 1, 2, 4 the adapter kinds
    int left = 0;          // the request's corner in 300-dpi units from the area's corner
    int top = 0;
};

struct ImageOffsets {
    // Position of the delivered image's first pixel and first line against the requested
    // corner, in output pixels and output lines; positive when it lies right of or below the
    // corner. Fractions mean the delivered grid falls between the requested one's samples.
    double pixels = 0.0;
    double lines = 0.0;
    // The same in 300-dpi sensor pixels and 600ths of an inch (always whole numbers).
    int sensorPixels = 0;
    int lines600 = 0;
    int xDpi = 300;  // resolution across and down of the delivered image
    int yDpi = 300;
};

ImageOffsets OffsetsOf(const ImageRequest& request);

// Pixels per delivered line for a request `widthUnits` 300-dpi units wide: the width at the
// resolution across, truncated; line art rounds it up to whole bytes of eight pixels, and
// those extra pixels (beyond the requested width) are white. Hosts crop to the requested width
// `widthUnits` x xDpi / 300.
int DeliveredWidth(int mode, int resolution, int widthUnits);

// Columns and rows a host drops from (positive) or pads at (negative) the start of the
// delivered image so that it starts at the requested corner: the offsets rounded to whole
// output pixels and lines, with the sign turned so that "drop" is positive.
struct CornerCorrection {
    int dropColumns = 0;
    int dropRows = 0;
};
CornerCorrection CorrectionOf(const ImageOffsets& offsets);

}  // namespace b58::host

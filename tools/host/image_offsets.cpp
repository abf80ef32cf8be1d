#include "host/image_offsets.h"

#include "corner_offsets.h"

#include <cmath>

namespace b58::host {
namespace {

constexpr int kLeftAdd = 0;
constexpr int kTopAdd = 120;
constexpr int kTaTopAdd = 300;
// The boundary a sound scanner reports: leftbound and TopLine on the glass and on the adapter.
constexpr int kFlatbedLeftbound = 70;
constexpr int kFlatbedTopLine = 84;
constexpr int kAdapterLeftbound = 372;
constexpr int kPrerollLines = 5;        // sent before the window's start and then discarded
constexpr int kLineModeLeadPixels = 5;  // a line-mode window is delivered from 5 pixels early

struct Scan {
    int xDpi, yDpi, yMaxDpi, lampStep;
    bool pixelMode, colour;
};

bool IsAdapter(int source) {
    return source == 1 || source == 2 || source == 4;
}

Scan ScanOf(int mode, int resolution) {
    Scan s{};
    s.colour = mode == kModeColor24 || mode == kModeColor48;
    if (resolution >= 600) return {300, 600, 600, 2, false, s.colour};
    const int dpi = resolution >= 300 ? 300 : resolution >= 150 ? 150 : resolution >= 100 ? 100 : 50;
    return {dpi, dpi, 300, 1, mode == kModeColor24, s.colour};
}

// First sensor pixel the device delivers.
int FirstSensorPixel(const ImageRequest& r, const Scan& s) {
    const bool adapter = IsAdapter(r.source);
    int x = r.left + (adapter ? kAdapterLeftbound : kFlatbedLeftbound + kLeftAdd) + 5;
    x = s.pixelMode ? x / 6 * 6 : x / 6 * 6 - 1;
    if (s.xDpi != 50) {
        if (r.source == 1) x += s.colour ? -3 : 3;
        if (r.source == 4) x += 6;
    }
    return s.pixelMode ? x : x - kLineModeLeadPixels;
}

// Top of the first output line in 600ths of an inch from the carriage's reference line.
int FirstLineTop600(const ImageRequest& r, const Scan& s) {
    const int t = r.top * s.yMaxDpi / 300;
    const int l = s.lampStep;
    int start = 0;
    if (IsAdapter(r.source)) {
        const int a = kTaTopAdd;
        const int at600 = r.source == 1 ? 22 : r.source == 2 ? 31 : 19;
        const int at300 = r.source == 1 ? 19 : r.source == 2 ? 28 : 16;
        const int other = r.source == 1 ? 25 : r.source == 2 ? 24 : 12;
        if (s.yDpi == 50)
            start = t + a - l;
        else if (s.yDpi == 600)
            start = t / 2 + a - l / 2 + at600;
        else if (s.yDpi == 300)
            start = t + a - l + at300;
        else
            start = t + a - l + other;
    } else {
        const int shadingStart = kFlatbedTopLine - 73 < 0 ? 0 : kFlatbedTopLine - 73;
        const int d = kFlatbedTopLine - 40 - shadingStart;
        if (s.yDpi == 600)
            start = t / 2 + kTopAdd + d - l / 2;
        else if (s.yDpi == 50)
            start = t + kTopAdd + (kFlatbedTopLine - 65 - shadingStart) - l;
        else
            start = t + kTopAdd + d - l;
    }
    if (start < 0) start = 0;
    start -= kPrerollLines;
    if (start < 0) start = 0;  // the controller starts a window above home at home
    // Output line 0 is delivered line 5, which the motor reaches after ceil(5 x base / target)
    // of its steps.
    const int steps = (kPrerollLines * s.yMaxDpi + s.yDpi - 1) / s.yDpi;
    return 2 * start + steps * (600 / s.yMaxDpi);
}

}  // namespace

ImageOffsets OffsetsOf(const ImageRequest& request) {
    const Scan scan = ScanOf(request.mode, request.resolution);
    // The area's corner is where the reference scan (24-bit colour, 300 dpi, corner 0, 0; kind
    // 1 on the adapter, whose kinds share one film aperture) starts.
    ImageRequest reference;
    reference.source = IsAdapter(request.source) ? 1 : 0;
    const Scan referenceScan = ScanOf(reference.mode, reference.resolution);

    ImageOffsets o;
    o.xDpi = scan.xDpi;
    o.yDpi = scan.yDpi;
    o.sensorPixels =
        FirstSensorPixel(request, scan) - (FirstSensorPixel(reference, referenceScan) + request.left);
    o.lines600 =
        FirstLineTop600(request, scan) - (FirstLineTop600(reference, referenceScan) + 2 * request.top);
    o.pixels = o.sensorPixels * scan.xDpi / 300.0;
    o.lines = o.lines600 * scan.yDpi / 600.0;
    return o;
}

int DeliveredWidth(int mode, int resolution, int widthUnits) {
    const Scan scan = ScanOf(mode, resolution);
    const int pixels = widthUnits * scan.xDpi / 300;
    return mode == kModeLineArt ? (pixels + 7) / 8 * 8 : pixels;
}

CornerCorrection CorrectionOf(const ImageOffsets& offsets) {
    return {static_cast<int>(std::lround(-offsets.pixels)), static_cast<int>(std::lround(-offsets.lines))};
}

CornerOffset PublishedCornerOffset(const ScanParameters& request) {
    const ImageOffsets o = OffsetsOf({request.ScanMode, request.Resolution, request.ScanSource, request.Left, request.Top});
    return {o.pixels, o.lines};
}

}  // namespace b58::host

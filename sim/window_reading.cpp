#include "sim/window_reading.h"

#include <algorithm>

#include "sim/bed_layout.h"
#include "sim/even_spread.h"

namespace b58::sim {

namespace {

int ColourLagOf(const ScanWindow& w, int xDpi) {
    if (w.NoLampStep() || xDpi < 300) return 0;
    const int extra = static_cast<int>(w.linesToDeliver) - static_cast<int>(w.hwHeight);
    if (extra >= 4) return 2;
    if (extra >= 2) return 1;
    return 0;
}

}  // namespace

WindowReading ReadWindow(const ScanWindow& w) {
    WindowReading r;
    r.colour = w.Colour();
    r.pixelMode = w.PixelMode();
    r.taFrame = w.TaMode();
    r.bytesPerSample = w.dataWidth > 8 ? 2 : 1;
    r.lineBytes = w.lineBytes;
    r.samples = w.lineBytes / static_cast<uint32_t>(r.bytesPerSample);
    r.bytesPerScanLine = r.lineBytes * (r.colour ? 3u : 1u);
    r.lines = w.linesToDeliver;
    r.totalBytes = static_cast<uint64_t>(r.bytesPerScanLine) * r.lines;
    r.xDpi = (w.xDpi >= 1 && w.xDpi <= 300) ? w.xDpi : 300;
    const int start = static_cast<int16_t>(w.startPixel);
    r.firstPixel = r.pixelMode ? start : start - kLineModeLeadPixels;

    r.colourLag = ColourLagOf(w, r.xDpi);
    r.motor600 = r.colourLag == 2;
    r.yBase = r.motor600 ? 600 : 300;
    r.yTarget = r.motor600 ? 600 : r.xDpi;
    r.startLine = static_cast<int16_t>(w.startLine);

    // Lines by which each colour looks back, so that the colours a host combines into one
    // output line all saw the same line of the bed.
    const int L = r.colourLag;
    if (!r.colour) {
        r.lag = {0, 0, 0};
    } else if (r.pixelMode) {
        r.lag = {2 * L, 0, L};  // green of n, blue of n + L, red of n + 2L
    } else if (r.bytesPerSample == 1) {
        r.lag = {2 * L, L, 0};  // blue of n, green of n + L, red of n + 2L
    } else {
        r.lag = {2 * L, 0, L};  // green of n, blue of n + L, red of n + 2L
    }
    return r;
}

int64_t SensorPixelOf(const WindowReading& reading, int64_t k) {
    return reading.firstPixel + EvenSpreadPosition(k, 300, reading.xDpi);
}

LineAperture ApertureOf(const WindowReading& reading, int64_t line) {
    const int64_t step = EvenSpreadPosition(line, reading.yBase, reading.yTarget);
    // The carriage cannot go behind its home: a start before it starts at home.
    const int64_t first =
        std::max<int64_t>(0, int64_t{reading.startLine} + (reading.taFrame ? bed::kTaOriginLine : 0));
    LineAperture a;
    a.height600 = reading.motor600 ? 1 : 2;
    a.top600 = 2 * first + step * a.height600;
    return a;
}

LineAperture ColourApertureOf(const WindowReading& reading, int64_t line, int colour) {
    return ApertureOf(reading, line - reading.lag[static_cast<size_t>(colour)]);
}

}  // namespace b58::sim

// An oracle: an independent copy of the driver's arithmetic from a host's request to the scan
// window it programs (resolution normalisation, window origin, vertical start, pre-roll,
// lines rule, even-spread sizes), kept on purpose to check the driver against. It is written
// from the scanner's side and shares no code with src/; do not replace it with calls into the
// driver. tests/api/sim_oracles_test.cpp holds it against the window the driver programs in
// every mode and source, and tests/sim/driver_geometry_test.cpp its even-spread sizes against
// the driver's geometry routine.
#include "sim/driver_plan.h"

#include <algorithm>

#include "sim/bed_layout.h"
#include "sim/window_reading.h"

namespace b58::sim {

namespace {

constexpr int kPreRollLines = 5;

int TaTypeCode(int source) {
    switch (source) {
        case 1:
            return 1;
        case 2:
            return 2;
        case 4:
            return 3;
        default:
            return 0;
    }
}

// Lines to deliver (bytes 18-19 of the window).
int LinesRule(int swHeight, bool noLampStep, int ryDpi, int lampStep, int yMaxDpi) {
    if (noLampStep || yMaxDpi == 0) return swHeight & 0xFFFF;
    const int q = (ryDpi * lampStep) / yMaxDpi;
    if (q >= 1) return (swHeight + (2 * ryDpi * lampStep) / yMaxDpi) & 0xFFFF;
    return swHeight & 0xFFFF;
}

}  // namespace

BoundaryValues DeviceBoundaryValues(bool transparencyAdapter) {
    // Flatbed: the left search stops one pixel into the white beside the dark block, which
    // line mode delivers five pixels late; the top search two lines above the block's foot.
    // Adapter: the left search stops 13 columns into the lit window, the top search seven
    // lines above the film holder.
    if (transparencyAdapter) {
        return {bed::kTaWindowLeft + kLineModeLeadPixels + 13, bed::kTaHolderTop - 7};
    }
    return {bed::kDarkBlockRight + kLineModeLeadPixels + 1, bed::kDarkBlockBottom - 2};
}

SpreadSizes DriverSpreadSizes(int baseX, int baseY, int targetX, int targetY, int xCount, int yCount) {
    SpreadSizes s;
    int acc = baseX - targetX;
    int count = 0;
    for (int i = 0; i < xCount; ++i) {
        acc += targetX;
        if (acc >= baseX) {
            ++count;
            acc -= baseX;
        }
    }
    if (count % 2 != 0) ++count;
    s.swWidth = count;
    s.hwWidth = count * (baseX / targetX);
    acc = baseY - targetY;
    count = 0;
    for (int i = 0; i < yCount; ++i) {
        acc += targetY;
        if (acc >= baseY) {
            ++count;
            acc -= baseY;
        }
    }
    s.hwHeight = yCount;
    s.swHeight = count;
    return s;
}

ScanWindow BuildScanWindow(const WindowParameters& p) {
    ScanWindow w;
    w.startLine = static_cast<uint16_t>(p.startY);
    w.hwHeight = static_cast<uint16_t>(p.hwHeight);
    w.startPixel = static_cast<uint16_t>(p.startX);
    w.hwWidth = static_cast<uint16_t>(p.hwWidth);
    int formatBits = 0x80;
    int effectiveBits = p.dataWidth;
    if (p.dataWidth == 16) {
        formatBits = (p.wide16 ? 0x80 : 0) | 0x20;
        effectiveBits = 16;
    }
    w.formatByte = static_cast<uint8_t>(formatBits | (p.pixelFormat & 0x07));
    w.optionByte = static_cast<uint8_t>(((p.windowByte & 1) << 2) | (4 << 3));
    w.xDpi = static_cast<uint16_t>(p.rxDpi);
    w.lineBytes = static_cast<uint16_t>(p.swWidth * effectiveBits / 8);
    w.lineBlocks = static_cast<uint16_t>(w.lineBytes * (p.pixelFormat == 4 ? 3 : 1) / 64);
    w.linesToDeliver =
        static_cast<uint16_t>(LinesRule(p.swHeight, p.noLampStep, p.ryDpi, p.lampStep, p.yMaxDpi));
    w.options20 = static_cast<uint8_t>(p.options20 & 0x0F);
    w.modeByte = static_cast<uint8_t>((p.ta ? 1 : 0) | (p.pixelMode ? 4 : 0) | (p.noLampStep ? 8 : 0) |
                                      ((p.taTypeCode & 3) << 4));
    w.dataWidth = static_cast<uint16_t>(p.dataWidth);
    w.trailingWord = static_cast<uint16_t>(p.trailingWord);
    return w;
}

ScanWindow CalibrationStripWindow(int startLine, int lines, int left, int width, int dpi, bool pixelMode,
                                  int pixelFormat, bool ta, int taTypeCode, int dataWidth) {
    const SpreadSizes s = DriverSpreadSizes(300, 300, dpi, dpi, width, lines);
    WindowParameters p;
    p.startX = left;
    p.startY = startLine;
    p.hwWidth = s.hwWidth;
    p.hwHeight = s.hwHeight;
    p.rxDpi = dpi;
    p.swWidth = s.swWidth;
    p.swHeight = s.swHeight;
    p.pixelFormat = pixelFormat;
    p.dataWidth = dataWidth;
    p.options20 = 0x07;
    p.ta = ta;
    p.pixelMode = pixelMode;
    p.noLampStep = true;
    p.taTypeCode = ta ? taTypeCode : 0;
    p.ryDpi = dpi;
    return BuildScanWindow(p);
}

ScanWindow BoundaryStripWindow(bool transparencyAdapter, int yMaxDpi, int lampStep) {
    const int width = transparencyAdapter ? 700 : 512;
    const SpreadSizes s = DriverSpreadSizes(300, 300, 300, 300, width, 200);
    WindowParameters p;
    p.hwWidth = s.hwWidth;
    p.hwHeight = s.hwHeight;
    p.swWidth = s.swWidth;
    p.swHeight = s.swHeight;
    p.pixelFormat = 2;
    p.dataWidth = 8;
    p.options20 = 0x03;
    p.ta = transparencyAdapter;
    p.wide16 = false;
    p.yMaxDpi = transparencyAdapter ? yMaxDpi : 300;
    p.lampStep = transparencyAdapter ? lampStep : 0;
    return BuildScanWindow(p);
}

DriverScan PlanDriverScan(const HostRequest& request, const DriverSettings& settings,
                          const BoundaryValues& bounds) {
    DriverScan d;
    const bool ta = request.source == 1 || request.source == 2 || request.source == 4;
    d.dataWidth = request.mode == 10 ? 16 : 8;
    const int r = request.resolution;
    const bool highRes = r >= 600;
    const int normalised = r >= 300 ? 300 : r >= 150 ? 150 : r >= 100 ? 100 : 50;
    const bool resolutionValid = r >= 50;
    if (highRes) {
        d.rxDpi = 300;
        d.ryDpi = 600;
        d.yMaxDpi = 600;
        d.lampStep = 2;
        d.pixelMode = false;
    } else {
        d.rxDpi = d.ryDpi = normalised;
        d.yMaxDpi = 300;
        d.lampStep = 1;
        d.pixelMode = d.dataWidth != 16;
    }
    if (request.mode == 0 || request.mode == 1) d.pixelMode = false;
    d.pixelFormat = request.mode == 0 || request.mode == 1 ? 2 : 4;

    int widthUnits = (request.right - request.left) & 0xFFFF;
    const int heightUnits = (request.bottom - request.top) & 0xFFFF;
    const int windowLeft = request.left;
    const int windowTop = request.top * d.yMaxDpi / 300;
    d.linePixels = widthUnits * d.rxDpi / 300;
    d.imageLines = heightUnits * d.ryDpi / 300;
    const int motorLines = heightUnits * (d.yMaxDpi / 300) + 2 * d.lampStep + 1;
    d.colourLag = d.lampStep * d.ryDpi / d.yMaxDpi;
    if (request.mode == 0) {
        widthUnits = (widthUnits + 7) / 8 * 8;
        d.linePixels = (d.linePixels + 7) / 8 * 8;
        d.lineBytes = d.linePixels / 8;
    } else {
        d.lineBytes = d.linePixels * (request.mode == 1 ? 1 : request.mode == 2 ? 3 : 6);
    }

    // Horizontal start.
    int x = windowLeft + bounds.leftbound + (ta ? 0 : settings.leftAdd) + 5;
    if (d.pixelMode) {
        x = x / 6 * 6;
        d.windowStartX = x;
    } else {
        x = x / 6 * 6 - 1;
        d.windowStartX = x - 5;
    }
    if (ta && d.rxDpi != 50) {
        if (request.source == 1) x += d.pixelFormat == 4 ? -3 : 3;
        if (request.source == 4) x += 6;
    }
    const int startX = static_cast<int16_t>(x);

    const SpreadSizes s =
        DriverSpreadSizes(300, d.yMaxDpi, d.rxDpi, d.ryDpi, widthUnits, motorLines + d.lampStep);

    // Vertical start.
    const int T = windowTop;
    const int L = d.lampStep;
    int startY = 0;
    if (ta) {
        const int A = settings.taTopAdd;
        int add600 = 22, add300 = 19, addOther = 25;
        if (request.source == 2) add600 = 31, add300 = 28, addOther = 24;
        if (request.source == 4) add600 = 19, add300 = 16, addOther = 12;
        if (d.ryDpi == 50 && d.rxDpi == 50) {
            startY = T + A - L;
        } else if (d.ryDpi == 600) {
            startY = T / 2 + A - L / 2 + add600;
        } else if (d.ryDpi == 300) {
            startY = T + A - L + add300;
        } else {
            startY = T + A - L + addOther;
        }
    } else {
        const int shadingStart = std::max(0, bounds.topLine - 73);
        const int D = bounds.topLine - 40 - shadingStart;
        const int P = settings.topAdd;
        if (d.ryDpi == 600 && d.rxDpi == 300) {
            startY = T / 2 + P + D - L / 2;
        } else if (d.ryDpi == 50 && d.rxDpi == 50) {
            startY = T + P + (bounds.topLine - 65 - shadingStart) - L;
        } else {
            startY = T + P + D - L;
        }
    }
    startY = static_cast<int16_t>(startY);
    if (startY < 0) startY = 0;

    WindowParameters p;
    p.startX = startX;
    p.startY = startY - kPreRollLines;
    p.hwWidth = s.hwWidth;
    p.hwHeight = s.hwHeight + kPreRollLines;
    p.rxDpi = d.rxDpi;
    p.swWidth = s.swWidth;
    p.swHeight = s.swHeight + kPreRollLines;
    p.pixelFormat = d.pixelFormat;
    p.dataWidth = d.dataWidth;
    p.options20 = 0x02 | (resolutionValid ? 0x08 : 0);
    p.ta = ta;
    p.pixelMode = d.pixelMode;
    p.taTypeCode = TaTypeCode(request.source);
    p.ryDpi = d.ryDpi;
    p.trailingWord = 60;
    p.yMaxDpi = d.yMaxDpi;
    p.lampStep = d.lampStep;
    d.window = BuildScanWindow(p);
    d.swWidth = p.swWidth;
    d.swHeight = p.swHeight;
    return d;
}

DriverScan PlanDriverScan(const HostRequest& request) {
    const bool ta = request.source == 1 || request.source == 2 || request.source == 4;
    return PlanDriverScan(request, DriverSettings{}, DeviceBoundaryValues(ta));
}

ScanOffsets OffsetsOf(const HostRequest& request, const DriverScan& scan) {
    const bool ta = request.source == 1 || request.source == 2 || request.source == 4;
    const WindowReading reading = ReadWindow(scan.window);
    const int areaLeft = ta ? bed::kFilmLeft : bed::kGlassLeft;
    const int areaTop = ta ? bed::kTaOriginLine + bed::kFilmTop : bed::kGlassTop;
    // The driver discards the first five delivered lines; output line 0 is delivered line 5.
    const LineAperture first = ApertureOf(reading, kPreRollLines);
    ScanOffsets o;
    o.pixels = static_cast<double>(reading.firstPixel - (areaLeft + request.left)) * scan.rxDpi / 300.0;
    o.lines = static_cast<double>(first.top600 - 2 * static_cast<int64_t>(areaTop + request.top)) *
              scan.ryDpi / 600.0;
    return o;
}

}  // namespace b58::sim

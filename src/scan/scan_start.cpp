#include "scan/scan_start.h"

#include "device/command_packets.h"

namespace b58 {

HorizontalStart ComputeHorizontalStart(const HorizontalStartInput& in) {
    int16_t x = static_cast<int16_t>(in.windowLeft + in.leftbound);
    if (!in.taMode || in.scanFromOrigin) x = static_cast<int16_t>(x + in.leftAdd);
    x = static_cast<int16_t>(x + 5);

    HorizontalStart out;
    if (in.pixelMode) {
        x = static_cast<int16_t>((x / 6) * 6);
        out.windowStartX = static_cast<uint16_t>(x);
    } else {
        x = static_cast<int16_t>((x / 6) * 6 - 1);
        out.windowStartX = static_cast<uint16_t>(x - 5);
    }

    if (in.taType == 1 && in.rxdpi != 50) {
        x = static_cast<int16_t>(in.pixelFormatCode == 4 ? x - 3 : x + 3);
    } else if (in.taType == 4 && in.rxdpi != 50) {
        x = static_cast<int16_t>(x + 6);
    }
    out.myStartx = x;
    return out;
}

int16_t ComputeShadingStartLine(int32_t topLine) {
    const int32_t line = topLine - kShadingLinesAboveTop;
    return static_cast<int16_t>(line < 0 ? 0 : line);
}

namespace {

// The adapter's extra lines below its top, by resolution: 600, 300 and any other (50 dpi
// has none).
struct AdapterTopAdds {
    int at600;
    int at300;
    int other;
};

AdapterTopAdds AdapterTopAddsFor(uint16_t taType) {
    switch (taType) {
        case 1:
            return {22, 19, 25};
        case 2:
            return {31, 28, 24};
        default:
            return {19, 16, 12};  // 4
    }
}

}  // namespace

int32_t ComputeVerticalStart(const VerticalStartInput& in) {
    if (in.scanCalibrationArea) return in.kStartY;
    if (in.scanFromOrigin) return 0;

    const int t = in.windowTop;
    const int l = in.lampStep;
    if (in.taType != 0) {
        const int a = in.taTopAdd;
        const AdapterTopAdds adds = AdapterTopAddsFor(in.taType);
        if (in.rydpi == 50 && in.rxdpi == 50) return t + a - l;
        if (in.rydpi == 600) return t / 2 + a - l / 2 + adds.at600;
        if (in.rydpi == 300) return t + a - l + adds.at300;
        return t + a - l + adds.other;
    }

    const int p = in.topAdd;
    const int d = in.topLine - 40 - in.shadingStartLine;
    if (in.rydpi == 600 && in.rxdpi == 300) return t / 2 + p + d - l / 2;
    if (in.rydpi == 50 && in.rxdpi == 50) return t + p + (in.topLine - 65 - in.shadingStartLine) - l;
    return t + p + d - l;
}

uint16_t ComputeScanModeField(bool pixelMode, bool taMode, uint16_t taType) {
    return ScanWindowModeField(pixelMode, false, taMode ? TaTypeCode(taType) : 0);
}

bool ApplyPreroll(WindowRun& run) {
    if (run.swHeight > UINT16_MAX - kPrerollLines || run.hwHeight > UINT16_MAX - kPrerollLines) return false;
    const int start = run.myStarty - kPrerollLines;
    run.myStarty = static_cast<int16_t>(start < 0 ? 0 : start);
    run.swHeight = static_cast<uint16_t>(run.swHeight + kPrerollLines);
    run.hwHeight = static_cast<uint16_t>(run.hwHeight + kPrerollLines);
    return true;
}

}  // namespace b58

#include "scan/scan_request.h"

#include "contract/scanner_model.h"
#include "device/scan_geometry.h"
#include "scan/scan_run.h"
#include "scan/scan_start.h"

namespace b58 {
namespace {

constexpr uint32_t kBaseDpi = Model().sensor.baseDpi;
constexpr uint32_t kHighResDpi = Model().sensor.fineMotorDpi;
constexpr int32_t kLargestStartTopLine = Model().bed.largestStartTopLine;

struct Normalised {
    uint16_t dpi;
    int32_t highRes;
    bool valid;  // false: ResolutionValid keeps its previous value
};

Normalised NormaliseResolution(uint16_t requested) {
    if (requested >= 600) return {600, 1, true};
    if (requested >= 300) return {300, 0, true};
    if (requested >= 150) return {150, 0, true};
    if (requested >= 100) return {100, 0, true};
    if (requested >= 50) return {50, 0, true};
    return {50, 0, false};
}

bool KnownMode(uint16_t mode) {
    return mode == ModeLineArt || mode == ModeGray || mode == ModeColor24 || mode == ModeColor48;
}

uint32_t RoundUp(uint32_t value, uint32_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

ScanRequestResult DeriveScanConfig(const ScanParameters& request, uint8_t resolutionValidBefore) {
    ScanRequestResult result;
    if (!KnownMode(request.ScanMode)) {
        result.fault = ScanRequestFault::UnknownMode;
        return result;
    }
    if (request.Right <= request.Left || request.Bottom <= request.Top) {
        result.fault = ScanRequestFault::EmptyWindow;
        return result;
    }

    ScanConfig& c = result.config;
    c.DataWidth = request.ScanMode == ModeColor48 ? 16 : 8;
    uint32_t widthUnits = static_cast<uint32_t>(request.Right - request.Left);
    const uint32_t heightUnits = static_cast<uint32_t>(request.Bottom - request.Top);

    const Normalised n = NormaliseResolution(request.Resolution);
    c.HighResMode = n.highRes;
    c.ResolutionValid = n.valid ? 1 : resolutionValidBefore;

    // 600 dpi scans 300 across and 600 down with the colour planes two motor lines apart;
    // pixel mode only for 8-bit samples below 600 dpi.
    if (c.HighResMode) {
        c.RXDPI = 300;
        c.RYDPI = 600;
        c.YMAXDPI = 600;
        c.LAMPSTEP = 2;
        c.Resolution = 300;
        c.ScanPixelModeFlag = 0;
        c.ResolutionTrace = "Trel-LINEMODE";
    } else {
        c.RXDPI = n.dpi;
        c.RYDPI = n.dpi;
        c.YMAXDPI = 300;
        c.LAMPSTEP = 1;
        c.Resolution = n.dpi;
        c.ScanPixelModeFlag = c.DataWidth == 16 ? 0 : 1;
        c.ResolutionTrace = c.ScanPixelModeFlag ? "Trel-PIXELMODE" : "Trel-LINEMODE";
    }

    // 32-bit products and truncating divisions; each value is checked before it is stored.
    const uint32_t windowTop = request.Top * static_cast<uint32_t>(c.YMAXDPI) / kBaseDpi;
    c.WindowLeft = request.Left;
    c.Threshold = request.Threshold;
    c.WindowByte = request.WindowByte;
    uint32_t linePixels = widthUnits * c.Resolution / kBaseDpi;
    const uint32_t imageLines = heightUnits * c.RYDPI / kBaseDpi;
    const uint32_t motorLines = heightUnits * (c.YMAXDPI / kBaseDpi) + 2u * c.LAMPSTEP + 1u;
    c.ColourLag = static_cast<uint8_t>(static_cast<uint32_t>(c.LAMPSTEP) * c.RYDPI / c.YMAXDPI);
    uint32_t swWidth = RoundUp(linePixels, 2);
    const uint32_t swHeight = imageLines + 2u * c.ColourLag + 1u;

    uint32_t lineBytes = 0;
    switch (request.ScanMode) {
        case ModeLineArt:
            // Whole bytes of eight pixels: the window grows to match.
            widthUnits = RoundUp(widthUnits, 8);
            linePixels = RoundUp(linePixels, 8);
            swWidth = RoundUp(linePixels, 2);
            c.PixelFormatCode = 2;
            c.ScanPixelModeFlag = 0;
            lineBytes = linePixels / 8;
            c.LineRoutine = LineRoutineKind::LineArt;
            c.ReaderRoutine = ReaderRoutineKind::Pixel;
            break;
        case ModeGray:
            c.PixelFormatCode = 2;
            c.ScanPixelModeFlag = 0;
            lineBytes = linePixels;
            c.LineRoutine = LineRoutineKind::Gray;
            c.ReaderRoutine = ReaderRoutineKind::Pixel;
            break;
        case ModeColor24:
            c.PixelFormatCode = 4;
            lineBytes = 3 * linePixels;
            c.LineRoutine =
                c.ScanPixelModeFlag ? LineRoutineKind::Color24PixelMode : LineRoutineKind::Color24LineMode;
            c.ReaderRoutine = c.ScanPixelModeFlag ? ReaderRoutineKind::Pixel : ReaderRoutineKind::Plane;
            c.ModeTrace = "Trel 24bit Color Mode";
            break;
        default:  // ModeColor48
            c.PixelFormatCode = 4;
            c.ScanPixelModeFlag = 0;
            lineBytes = 6 * linePixels;
            c.LineRoutine = LineRoutineKind::Color48LineMode;
            c.ReaderRoutine = ReaderRoutineKind::Plane;
            c.ModeTrace = "Trel 48bit Color Mode";
            break;
    }

    // A window that delivers nothing would start a scan with no line to read.
    if (linePixels == 0 || imageLines == 0 || lineBytes == 0) {
        result.fault = ScanRequestFault::EmptyWindow;
        return result;
    }
    if (windowTop > UINT16_MAX) {
        result.fault = ScanRequestFault::WindowOutOfRange;
        return result;
    }
    // The window's pixels are sensor pixels from Left on: past the sensor there is no image.
    if (linePixels > kMaxLinePixels || swWidth > kMaxLinePixels ||
        request.Left + widthUnits > static_cast<uint32_t>(kMaxLinePixels)) {
        result.fault = ScanRequestFault::TooWide;
        return result;
    }
    // The scan start asks the geometry for this window; it must accept it, and the width it
    // gives the scan must still fit a ring slot.
    const uint32_t motorCount = motorLines + c.LAMPSTEP;
    if (motorCount > kGeometryMaxYCount) {
        result.fault = ScanRequestFault::TooTall;
        return result;
    }
    const ScanGeometry geometry = ComputeScanGeometry({.colourOrderCode = kGeometrySizesOnly,
                                                       .planeLineOffset = static_cast<uint8_t>(c.LAMPSTEP),
                                                       .pixelFormatCode = c.PixelFormatCode,
                                                       .baseX = kBaseDpi,
                                                       .baseY = c.YMAXDPI,
                                                       .targetX = c.RXDPI,
                                                       .targetY = c.RYDPI,
                                                       .xCount = static_cast<uint16_t>(widthUnits),
                                                       .yCount = static_cast<uint16_t>(motorCount)},
                                                      nullptr);
    if (geometry.status == 0) {
        result.fault = ScanRequestFault::TooTall;
        return result;
    }
    if (geometry.SWWidth > kMaxLinePixels) {
        result.fault = ScanRequestFault::TooWide;
        return result;
    }

    // Everything below fits 16 bits now: image lines and the output height never exceed the
    // motor lines, which the geometry accepted.
    c.WidthUnits = static_cast<uint16_t>(widthUnits);
    c.HeightUnits = static_cast<uint16_t>(heightUnits);
    c.WindowTop = static_cast<uint16_t>(windowTop);
    c.LinePixels = static_cast<uint16_t>(linePixels);
    c.ImageLines = static_cast<uint16_t>(imageLines);
    c.MotorLines = static_cast<uint16_t>(motorLines);
    c.SWWidth = static_cast<uint16_t>(swWidth);
    c.SWHeight = static_cast<uint16_t>(swHeight);
    c.LineBytes = static_cast<uint16_t>(lineBytes);
    return result;
}

bool VerticalStartFits(const ScanConfig& c, uint16_t taType, uint16_t topAdd, uint16_t taTopAdd) {
    // The found top line enters the flatbed start only through TopLine - 40 - ShadingStartLine,
    // which is largest (33) for any top line of 73 or more.
    VerticalStartInput in;
    in.windowTop = c.WindowTop;
    in.taTopAdd = taTopAdd;
    in.topAdd = topAdd;
    in.lampStep = c.LAMPSTEP;
    in.taType = taType;
    in.rxdpi = c.RXDPI;
    in.rydpi = c.RYDPI;
    in.topLine = kLargestStartTopLine;
    in.shadingStartLine = ComputeShadingStartLine(in.topLine);
    return ComputeVerticalStart(in) <= INT16_MAX;
}

}  // namespace b58

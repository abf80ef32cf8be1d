#include "calibration/shading_calibration.h"

#include <vector>

#include "calibration/shading_maps.h"
#include "calibration/strip_scan.h"
#include "device/command_packets.h"
#include "device/command_set.h"
#include "state/driver_state.h"

namespace b58 {
namespace {

// Room for 50 rows of the widest strip: 8-bit rows lie StripWidth samples apart, 16-bit rows
// 2 x StripWidth.
constexpr size_t kPlaneSamples8 = 50 * kMaxLinePixels;
constexpr size_t kPlaneSamples16 = 2 * 50 * kMaxLinePixels;
constexpr DWORD kLampOffSettleMs = 1000;
constexpr uint16_t kPlaneRows = 50;
constexpr uint16_t kReferenceRows = 40;
constexpr uint16_t kGreyPixelFormat = 2;

template <typename Sample>
struct Planes {
    explicit Planes(size_t samples) : r(samples), g(samples), b(samples) {}
    std::vector<Sample> r, g, b;
};

// A strip is 40 300-dpi lines, read at the scan's resolution: 40 rows at 300 dpi but only 7 at
// 50 dpi, where the trimmed mean keeps 3 samples per pixel and their noise becomes a streak
// through the whole scan. Below 300 dpi the strip is therefore taken again, each time one
// 300-dpi line further down, so that the passes together read the lines a 300-dpi strip reads
// and every reference rests on about 40 rows. `scanOnce(startLine, firstRow, &lines)` takes
// one strip into the planes from row `firstRow` on; the rows taken in all, or 0 when a strip
// failed.
template <typename ScanOnce>
uint16_t ScanStripRows(uint16_t startLine, ScanOnce scanOnce) {
    uint16_t rows = 0;
    for (uint16_t pass = 0;; ++pass) {
        uint16_t lines = 0;
        scanOnce(static_cast<uint16_t>(startLine + pass), rows, &lines);
        if (g_state.StripScanOk == 0) return 0;
        rows = static_cast<uint16_t>(rows + lines);
        if (lines == 0 || rows >= kReferenceRows || rows + lines > kPlaneRows) return rows;
    }
}

bool LampsOff(HANDLE device) {
    uint8_t block[kMiscControlDataSize] = {};  // LampMask 0
    return ProcessCommandMiscControl(nullptr, kReportSilent, device, g_state.DeviceKind, kCmdLampControl,
                                     block, block) != 0;
}

bool HaveReferences() {
    const DriverState& s = g_state;
    return s.WhiteRefR && s.WhiteRefG && s.WhiteRefB && s.DarkRefR && s.DarkRefG && s.DarkRefB;
}

// References for a 48-bit scan taken without a dark strip: white from the strip, dark from
// the front end's black levels.
void ReferencesFromBlackLevels(const Planes<uint16_t>& white, uint16_t stripWidth, uint16_t stripLines,
                               uint16_t* whiteR, uint16_t* darkR, uint16_t* whiteG, uint16_t* darkG,
                               uint16_t* whiteB, uint16_t* darkB) {
    const DriverState& s = g_state;
    BuildReferences16FromBlackLevel(white.r.data(), stripWidth, stripLines, s.RMinBlack, whiteR, darkR);
    BuildReferences16FromBlackLevel(white.g.data(), stripWidth, stripLines, s.GMinBlack, whiteG, darkG);
    BuildReferences16FromBlackLevel(white.b.data(), stripWidth, stripLines, s.BMinBlack, whiteB, darkB);
}

}  // namespace

int CalibrateShading(HANDLE device, uint16_t startLine, uint16_t lineCount, uint8_t rOffset, uint8_t rGain,
                     uint8_t gOffset, uint8_t gGain, uint8_t bOffset, uint8_t bGain, uint8_t* mapsR,
                     uint8_t* mapsG, uint8_t* mapsB, uint16_t xDpi, uint16_t yDpi, int16_t startx,
                     int32_t pixelModeFlag, uint16_t widthUnits, uint16_t pixelFormatCode, uint8_t taMode,
                     uint16_t dataWidth) {
    DriverState& s = g_state;
    const bool wide = dataWidth == 16;
    const uint16_t left = static_cast<uint16_t>(startx);
    Planes<uint8_t> white(kPlaneSamples8), dark(kPlaneSamples8);
    Planes<uint16_t> white16(wide ? kPlaneSamples16 : 0);
    uint16_t stripWidth = 0, stripLines = 0;

    // The adapter's strips come from its clear calibration area at its first line, whatever the
    // sample width: the start line handed in lies over the film holder, and a white reference
    // taken there would be the film's content.
    const uint16_t whiteStart = taMode ? 0 : startLine;
    if (wide) {
        stripLines = ScanStripRows(whiteStart, [&](uint16_t line, uint16_t row, uint16_t* lines) {
            const size_t at = 2 * size_t{row} * stripWidth;
            ScanCalibrationStrip16(device, line, lineCount, white16.r.data() + at, white16.g.data() + at,
                                   white16.b.data() + at, rOffset, rGain, gOffset, gGain, bOffset, bGain,
                                   xDpi, yDpi, &stripWidth, lines, left, 0, pixelModeFlag, widthUnits, 1, 1,
                                   0, pixelFormatCode, taMode);
        });
    } else {
        stripLines = ScanStripRows(whiteStart, [&](uint16_t line, uint16_t row, uint16_t* lines) {
            const size_t at = size_t{row} * stripWidth;
            ScanCalibrationStrip(device, line, lineCount, white.r.data() + at, white.g.data() + at,
                                 white.b.data() + at, rOffset, rGain, gOffset, gGain, bOffset, bGain, xDpi,
                                 yDpi, &stripWidth, lines, left, 0, pixelModeFlag, widthUnits, 1, taMode, 0,
                                 pixelFormatCode, taMode);
        });
    }
    if (s.StripScanOk == 0) return 0;

    const bool darkStrip = s.BLACKSHADING != 0 && taMode == 0;
    if (darkStrip) {
        if (!LampsOff(device)) return 0;
        Sleep(kLampOffSettleMs);
        // Each dark strip turns the lamp off again itself.
        stripLines = ScanStripRows(startLine, [&](uint16_t line, uint16_t row, uint16_t* lines) {
            const size_t at = size_t{row} * stripWidth;
            ScanCalibrationStrip(device, line, lineCount, dark.r.data() + at, dark.g.data() + at,
                                 dark.b.data() + at, rOffset, rGain, gOffset, gGain, bOffset, bGain, xDpi,
                                 yDpi, &stripWidth, lines, left, 1, pixelModeFlag, widthUnits, 0, 1, 1,
                                 pixelFormatCode, taMode);
        });
        if (s.StripScanOk == 0) return 0;
    }
    if (s.RAWDATA != 0) return s.StripScanOk;

    if (wide) {
        // A 48-bit adapter scan is shaded through the 16-bit references, which no dark strip
        // serves: they come from the white strip and the black levels. The byte maps are not
        // used by it and stay as they are.
        if (HaveReferences())
            ReferencesFromBlackLevels(white16, stripWidth, stripLines, s.WhiteRefR, s.DarkRefR, s.WhiteRefG,
                                      s.DarkRefG, s.WhiteRefB, s.DarkRefB);
        return s.StripScanOk;
    }

    // A one-plane strip fills only green, and one-plane scans use only the green maps.
    const bool colour = pixelFormatCode != kGreyPixelFormat;
    struct Colour {
        const std::vector<uint8_t>& white;
        const std::vector<uint8_t>& dark;
        uint8_t black;
        uint8_t* maps;
        bool wanted;
    };
    const Colour colours[] = {{white.r, dark.r, s.RMinBlack, mapsR, colour},
                              {white.g, dark.g, s.GMinBlack, mapsG, true},
                              {white.b, dark.b, s.BMinBlack, mapsB, colour}};
    for (const Colour& c : colours) {
        if (!c.wanted || c.maps == nullptr) continue;
        if (darkStrip)
            BuildMapsFromDarkStrip(c.white.data(), c.dark.data(), stripWidth, stripLines, c.maps);
        else if (taMode != 0 && s.BLACKSHADING != 0)
            BuildTaMapsFromBlackLevel(c.white.data(), stripWidth, stripLines, c.black, c.maps);
        else
            BuildMapsFromBlackLevel(c.white.data(), stripWidth, stripLines, c.black, s.FACTOR, c.maps);
    }
    return s.StripScanOk;
}

int CalibrateShading16(HANDLE device, uint16_t startLine, uint16_t lineCount, uint8_t rOffset, uint8_t rGain,
                       uint8_t gOffset, uint8_t gGain, uint8_t bOffset, uint8_t bGain, uint16_t* whiteR,
                       uint16_t* darkR, uint16_t* whiteG, uint16_t* darkG, uint16_t* whiteB, uint16_t* darkB,
                       uint16_t xDpi, uint16_t yDpi, int16_t startx, int32_t pixelModeFlag,
                       uint16_t widthUnits, uint16_t pixelFormatCode, uint8_t /*taMode*/) {
    DriverState& s = g_state;
    const uint16_t left = static_cast<uint16_t>(startx);
    Planes<uint16_t> white(kPlaneSamples16);
    uint16_t stripWidth = 0, stripLines = 0;

    stripLines = ScanStripRows(startLine, [&](uint16_t line, uint16_t row, uint16_t* lines) {
        const size_t at = 2 * size_t{row} * stripWidth;
        ScanCalibrationStrip16(device, line, lineCount, white.r.data() + at, white.g.data() + at,
                               white.b.data() + at, rOffset, rGain, gOffset, gGain, bOffset, bGain, xDpi,
                               yDpi, &stripWidth, lines, left, 0, pixelModeFlag, widthUnits, 1, 0, 0,
                               pixelFormatCode, 0);
    });
    if (s.StripScanOk == 0) return 0;

    if (s.BLACKSHADING == 0) {
        // No dark strip: the references still have to be defined before the scan divides by
        // them, so the black levels stand in for the dark strip.
        if (s.RAWDATA == 0)
            ReferencesFromBlackLevels(white, stripWidth, stripLines, whiteR, darkR, whiteG, darkG, whiteB,
                                      darkB);
        return s.StripScanOk;
    }

    // The strip scan turns the lamp off for the dark strip itself.
    Planes<uint16_t> dark(kPlaneSamples16);
    stripLines = ScanStripRows(startLine, [&](uint16_t line, uint16_t row, uint16_t* lines) {
        const size_t at = 2 * size_t{row} * stripWidth;
        ScanCalibrationStrip16(device, line, lineCount, dark.r.data() + at, dark.g.data() + at,
                               dark.b.data() + at, rOffset, rGain, gOffset, gGain, bOffset, bGain, xDpi, yDpi,
                               &stripWidth, lines, left, 1, pixelModeFlag, widthUnits, 1, 1, 1,
                               pixelFormatCode, 0);
    });
    if (s.StripScanOk == 0) return 0;
    if (s.RAWDATA != 0) return s.StripScanOk;

    BuildReferences16(white.r.data(), dark.r.data(), stripWidth, stripLines, whiteR, darkR);
    BuildReferences16(white.g.data(), dark.g.data(), stripWidth, stripLines, whiteG, darkG);
    BuildReferences16(white.b.data(), dark.b.data(), stripWidth, stripLines, whiteB, darkB);
    return s.StripScanOk;
}

}  // namespace b58

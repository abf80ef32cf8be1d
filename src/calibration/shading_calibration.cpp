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
constexpr uint16_t kGreyPixelFormat = 2;

template <typename Sample>
struct Planes {
    explicit Planes(size_t samples) : r(samples), g(samples), b(samples) {}
    std::vector<Sample> r, g, b;
};

bool LampsOff(HANDLE device) {
    uint8_t block[kMiscControlDataSize] = {};  // LampMask 0
    return ProcessCommandMiscControl(nullptr, kReportSilent, device, g_state.DeviceKind, kCmdLampControl,
                                     block, block) != 0;
}

bool HaveReferences() {
    const DriverState& s = g_state;
    return s.Run.WhiteRefR() && s.Run.WhiteRefG() && s.Run.WhiteRefB() && s.Run.DarkRefR() &&
           s.Run.DarkRefG() && s.Run.DarkRefB();
}

// References for a 48-bit scan taken without a dark strip: white from the strip, dark from
// the front end's black levels.
void ReferencesFromBlackLevels(const Planes<uint16_t>& white, uint16_t stripWidth, uint16_t stripLines,
                               uint16_t* whiteR, uint16_t* darkR, uint16_t* whiteG, uint16_t* darkG,
                               uint16_t* whiteB, uint16_t* darkB) {
    const DriverState& s = g_state;
    BuildReferences16FromBlackLevel(white.r.data(), stripWidth, stripLines, s.Session.RMinBlack, whiteR,
                                    darkR);
    BuildReferences16FromBlackLevel(white.g.data(), stripWidth, stripLines, s.Session.GMinBlack, whiteG,
                                    darkG);
    BuildReferences16FromBlackLevel(white.b.data(), stripWidth, stripLines, s.Session.BMinBlack, whiteB,
                                    darkB);
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
    if (wide) {
        ScanCalibrationStrip16(device, taMode ? 0 : startLine, lineCount, white16.r.data(), white16.g.data(),
                               white16.b.data(), rOffset, rGain, gOffset, gGain, bOffset, bGain, xDpi, yDpi,
                               &stripWidth, &stripLines, left, 0, pixelModeFlag, widthUnits, 1, 1, 0,
                               pixelFormatCode, taMode);
    } else {
        ScanCalibrationStrip(device, taMode ? 0 : startLine, lineCount, white.r.data(), white.g.data(),
                             white.b.data(), rOffset, rGain, gOffset, gGain, bOffset, bGain, xDpi, yDpi,
                             &stripWidth, &stripLines, left, 0, pixelModeFlag, widthUnits, 1, taMode, 0,
                             pixelFormatCode, taMode);
    }
    if (s.StripScanOk == 0) return 0;

    const bool darkStrip = s.BLACKSHADING != 0 && taMode == 0;
    if (darkStrip) {
        if (!LampsOff(device)) return 0;
        Sleep(kLampOffSettleMs);
        ScanCalibrationStrip(device, startLine, lineCount, dark.r.data(), dark.g.data(), dark.b.data(),
                             rOffset, rGain, gOffset, gGain, bOffset, bGain, xDpi, yDpi, &stripWidth,
                             &stripLines, left, 1, pixelModeFlag, widthUnits, 0, 1, 1, pixelFormatCode,
                             taMode);
        if (s.StripScanOk == 0) return 0;
    }
    if (s.RAWDATA != 0) return s.StripScanOk;

    if (wide) {
        // A 48-bit adapter scan is shaded through the 16-bit references, which no dark strip
        // serves: they come from the white strip and the black levels. The byte maps are not
        // used by it and stay as they are.
        if (HaveReferences())
            ReferencesFromBlackLevels(white16, stripWidth, stripLines, s.Run.WhiteRefR(), s.Run.DarkRefR(),
                                      s.Run.WhiteRefG(), s.Run.DarkRefG(), s.Run.WhiteRefB(),
                                      s.Run.DarkRefB());
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
    const Colour colours[] = {{white.r, dark.r, s.Session.RMinBlack, mapsR, colour},
                              {white.g, dark.g, s.Session.GMinBlack, mapsG, true},
                              {white.b, dark.b, s.Session.BMinBlack, mapsB, colour}};
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

    ScanCalibrationStrip16(device, startLine, lineCount, white.r.data(), white.g.data(), white.b.data(),
                           rOffset, rGain, gOffset, gGain, bOffset, bGain, xDpi, yDpi, &stripWidth,
                           &stripLines, left, 0, pixelModeFlag, widthUnits, 1, 0, 0, pixelFormatCode, 0);
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
    ScanCalibrationStrip16(device, startLine, lineCount, dark.r.data(), dark.g.data(), dark.b.data(), rOffset,
                           rGain, gOffset, gGain, bOffset, bGain, xDpi, yDpi, &stripWidth, &stripLines, left,
                           1, pixelModeFlag, widthUnits, 1, 1, 1, pixelFormatCode, 0);
    if (s.StripScanOk == 0) return 0;
    if (s.RAWDATA != 0) return s.StripScanOk;

    BuildReferences16(white.r.data(), dark.r.data(), stripWidth, stripLines, whiteR, darkR);
    BuildReferences16(white.g.data(), dark.g.data(), stripWidth, stripLines, whiteG, darkG);
    BuildReferences16(white.b.data(), dark.b.data(), stripWidth, stripLines, whiteB, darkB);
    return s.StripScanOk;
}

}  // namespace b58

#include "calibration/shading_calibration.h"

#include <vector>

#include "calibration/shading_maps.h"
#include "calibration/strip_scan.h"
#include "contract/scanner_model.h"
#include "device/command_packets.h"
#include "device/command_set.h"

namespace b58 {
namespace {

// Room for the shading rows of the widest strip: 8-bit rows lie StripWidth samples apart,
// 16-bit rows 2 x StripWidth.
constexpr DWORD kLampOffSettleMs = 1000;
constexpr uint16_t kPlaneRows = Model().strips.shadingRows;
constexpr uint16_t kReferenceRows = 40;  // rows a reference should rest on
constexpr size_t kPlaneSamples8 = size_t{kPlaneRows} * kStripMaxPixels;
constexpr size_t kPlaneSamples16 = 2 * size_t{kPlaneRows} * kStripMaxPixels;
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
// and every reference rests on about 40 rows. `scanOnce(startLine, sofar)` takes one strip into
// the planes after the `sofar.lines` rows already taken and returns its size; the result is
// the width and the rows taken in all, no rows when a strip of the run failed.
template <typename ScanOnce>
StripSize ScanStripRows(const StripRun& run, uint16_t startLine, ScanOnce scanOnce) {
    StripSize total;
    for (uint16_t pass = 0;; ++pass) {
        const StripSize taken = scanOnce(static_cast<uint16_t>(startLine + pass), total);
        if (run.StripScanOk == 0) return {taken.width, 0};
        total.width = taken.width;
        total.lines = static_cast<uint16_t>(total.lines + taken.lines);
        if (taken.lines == 0 || total.lines >= kReferenceRows || total.lines + taken.lines > kPlaneRows)
            return total;
    }
}

bool LampsOff(const ScannerLink& link) {
    uint8_t block[kMiscControlDataSize] = {};  // LampMask 0
    return ProcessCommandMiscControl(nullptr, kReportSilent, link, kCmdLampControl, block, block) != 0;
}

bool HaveReferences(const ShadingReferences& refs) {
    return refs.whiteR && refs.whiteG && refs.whiteB && refs.darkR && refs.darkG && refs.darkB;
}

// References for a 48-bit scan taken without a dark strip: white from the strip, dark from
// the front end's black levels.
void ReferencesFromBlackLevels(const Planes<uint16_t>& white, StripSize strip, const BlackLevels& black,
                               const ShadingReferences& refs) {
    BuildReferences16FromBlackLevel(white.r.data(), strip.width, strip.lines, black.RMinBlack, refs.whiteR,
                                    refs.darkR);
    BuildReferences16FromBlackLevel(white.g.data(), strip.width, strip.lines, black.GMinBlack, refs.whiteG,
                                    refs.darkG);
    BuildReferences16FromBlackLevel(white.b.data(), strip.width, strip.lines, black.BMinBlack, refs.whiteB,
                                    refs.darkB);
}

// The strip of a shading calibration: the request's place, size and values, the lamps and
// option bits given.
StripRequest ShadingStrip(const ShadingRequest& request, uint16_t startLine, bool dark, StripOptions options,
                          bool taSelector) {
    return StripRequest{.startLine = startLine,
                        .lineCount = request.lineCount,
                        .leftEdge = request.leftEdge,
                        .widthUnits = request.widthUnits,
                        .xDpi = request.xDpi,
                        .yDpi = request.yDpi,
                        .afe = request.afe,
                        .dark = dark,
                        .pixelMode = request.pixelMode,
                        .pixelFormatCode = request.pixelFormatCode,
                        .options20 = options,
                        .taSelector = taSelector,
                        .taMode = request.taMode,
                        .taType = request.taType};
}

}  // namespace

int CalibrateShading(const ScannerLink& link, const ShadingRequest& request, const ShadingMaps& maps,
                     const ShadingReferences& references) {
    StripRun run{link};
    const uint8_t taMode = request.taMode;
    const bool wide = request.dataWidth == 16;
    Planes<uint8_t> white(kPlaneSamples8), dark(kPlaneSamples8);
    Planes<uint16_t> white16(wide ? kPlaneSamples16 : 0);
    StripSize strip;

    // The adapter's strips come from its clear calibration area at its first line, whatever the
    // sample width: the start line handed in lies over the film holder, and a white reference
    // taken there would be the film's content.
    const uint16_t whiteLine = taMode ? 0 : request.startLine;
    if (wide) {
        strip = ScanStripRows(run, whiteLine, [&](uint16_t line, StripSize sofar) {
            const size_t at = 2 * size_t{sofar.lines} * sofar.width;
            return ScanCalibrationStrip16(
                run, ShadingStrip(request, line, false, {1, 1, 0}, taMode != 0),
                {white16.r.data() + at, white16.g.data() + at, white16.b.data() + at});
        });
    } else {
        strip = ScanStripRows(run, whiteLine, [&](uint16_t line, StripSize sofar) {
            const size_t at = size_t{sofar.lines} * sofar.width;
            return ScanCalibrationStrip(run, ShadingStrip(request, line, false, {1, taMode, 0}, taMode != 0),
                                        {white.r.data() + at, white.g.data() + at, white.b.data() + at});
        });
    }
    if (run.StripScanOk == 0) return 0;

    const bool darkStrip = request.BLACKSHADING != 0 && taMode == 0;
    if (darkStrip) {
        if (!LampsOff(link)) return 0;
        Sleep(kLampOffSettleMs);
        // Each dark strip turns the lamp off again itself.
        strip = ScanStripRows(run, request.startLine, [&](uint16_t line, StripSize sofar) {
            const size_t at = size_t{sofar.lines} * sofar.width;
            return ScanCalibrationStrip(run, ShadingStrip(request, line, true, {0, 1, 1}, taMode != 0),
                                        {dark.r.data() + at, dark.g.data() + at, dark.b.data() + at});
        });
        if (run.StripScanOk == 0) return 0;
    }
    if (request.RAWDATA != 0) return run.StripScanOk;

    if (wide) {
        // A 48-bit adapter scan is shaded through the 16-bit references, which no dark strip
        // serves: they come from the white strip and the black levels. The byte maps are not
        // used by it and stay as they are.
        if (HaveReferences(references)) ReferencesFromBlackLevels(white16, strip, request.black, references);
        return run.StripScanOk;
    }

    // A one-plane strip fills only green, and one-plane scans use only the green maps.
    const bool colour = request.pixelFormatCode != kGreyPixelFormat;
    struct Colour {
        const std::vector<uint8_t>& white;
        const std::vector<uint8_t>& dark;
        uint8_t black;
        uint8_t* maps;
        bool wanted;
    };
    const Colour colours[] = {{white.r, dark.r, request.black.RMinBlack, maps.r, colour},
                              {white.g, dark.g, request.black.GMinBlack, maps.g, true},
                              {white.b, dark.b, request.black.BMinBlack, maps.b, colour}};
    for (const Colour& c : colours) {
        if (!c.wanted || c.maps == nullptr) continue;
        if (darkStrip)
            BuildMapsFromDarkStrip(c.white.data(), c.dark.data(), strip.width, strip.lines, c.maps);
        else if (taMode != 0 && request.BLACKSHADING != 0)
            BuildTaMapsFromBlackLevel(c.white.data(), strip.width, strip.lines, c.black, c.maps);
        else
            BuildMapsFromBlackLevel(c.white.data(), strip.width, strip.lines, c.black, request.FACTOR,
                                    c.maps);
    }
    return run.StripScanOk;
}

int CalibrateShading16(const ScannerLink& link, const ShadingRequest& request,
                       const ShadingReferences& references) {
    StripRun run{link};
    Planes<uint16_t> white(kPlaneSamples16);
    StripSize strip = ScanStripRows(run, request.startLine, [&](uint16_t line, StripSize sofar) {
        const size_t at = 2 * size_t{sofar.lines} * sofar.width;
        return ScanCalibrationStrip16(run, ShadingStrip(request, line, false, {1, 0, 0}, false),
                                      {white.r.data() + at, white.g.data() + at, white.b.data() + at});
    });
    if (run.StripScanOk == 0) return 0;

    if (request.BLACKSHADING == 0) {
        // No dark strip: the references still have to be defined before the scan divides by
        // them, so the black levels stand in for the dark strip.
        if (request.RAWDATA == 0) ReferencesFromBlackLevels(white, strip, request.black, references);
        return run.StripScanOk;
    }

    // The strip scan turns the lamp off for the dark strip itself.
    Planes<uint16_t> dark(kPlaneSamples16);
    strip = ScanStripRows(run, request.startLine, [&](uint16_t line, StripSize sofar) {
        const size_t at = 2 * size_t{sofar.lines} * sofar.width;
        return ScanCalibrationStrip16(run, ShadingStrip(request, line, true, {1, 1, 1}, false),
                                      {dark.r.data() + at, dark.g.data() + at, dark.b.data() + at});
    });
    if (run.StripScanOk == 0) return 0;
    if (request.RAWDATA != 0) return run.StripScanOk;

    const ShadingReferences& refs = references;
    BuildReferences16(white.r.data(), dark.r.data(), strip.width, strip.lines, refs.whiteR, refs.darkR);
    BuildReferences16(white.g.data(), dark.g.data(), strip.width, strip.lines, refs.whiteG, refs.darkG);
    BuildReferences16(white.b.data(), dark.b.data(), strip.width, strip.lines, refs.whiteB, refs.darkB);
    return run.StripScanOk;
}

}  // namespace b58

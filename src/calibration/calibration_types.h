// The values calibration hands between its steps: what a calibration strip is asked for and
// what it gives back, and the requests and results of the AFE search, the shading calibration
// and the origin search.
#pragma once

#include <array>
#include <cstdint>

#include "contract/scanner_model.h"
#include "device/afe_values.h"
#include "settings/settings.h"

namespace b58 {

// The widest strip line, in samples: the sensor's pixels. Strip planes and line buffers are
// sized by it.
inline constexpr int kStripMaxPixels = Model().sensor.linePixels;

// The front end's black level of each colour, as the last measurement of an AFE search
// found it.
struct BlackLevels {
    uint8_t RMinBlack = 0;
    uint8_t GMinBlack = 0;
    uint8_t BMinBlack = 0;
};

// The option bits 20.0-20.2 of a strip's window.
using StripOptions = std::array<uint8_t, 3>;

// One calibration strip: a small scan of the calibration area.
struct StripRequest {
    uint16_t startLine = 0;   // first motor line
    uint16_t lineCount = 0;   // motor lines, at 300 dpi
    uint16_t leftEdge = 0;    // first sensor pixel
    uint16_t widthUnits = 0;  // sensor pixels across, at 300 dpi
    uint16_t xDpi = 0;
    uint16_t yDpi = 0;
    AfeValues afe;
    bool dark = false;       // lamps off: the dark strip
    bool pixelMode = false;  // samples interleaved per pixel rather than a line per colour
    uint16_t pixelFormatCode = 0;
    StripOptions options20{};  // the window's option bits 20.0-20.2
    bool taSelector = false;   // under the adapter's lamp
    uint8_t taMode = 0;        // the scan's source is the adapter (its window carries that)
    uint16_t taType = 0;       // the adapter kind the scan's window names
};

// Where a strip's colour planes go; rows lie the strip's width apart (twice that for 16 bits).
template <typename Sample>
struct StripPlanes {
    Sample* r = nullptr;
    Sample* g = nullptr;
    Sample* b = nullptr;
};

// The size a strip came back with: samples across and rows.
struct StripSize {
    uint16_t width = 0;
    uint16_t lines = 0;
};

// An AFE search: its strips and the resolution it measures them at.
struct AfeSearchRequest {
    uint16_t startLine = 0;
    uint16_t lineCount = 0;
    bool pixelMode = false;
    uint16_t calibrationDpi = 0;
    uint16_t pixelFormatCode = 0;
    uint8_t taMode = 0;
    uint16_t taType = 0;
};

// What an AFE search ends with. `status` is StripScanOk of the run (nonzero for success);
// `found` tells that the search ran through its phases and `afe` and `black` hold its values
// and the black levels of its last measurement, which is also so when only the flatbed
// search's closing strip came back short (status 0).
struct CalibrationResult {
    int status = 0;
    bool found = false;
    AfeValues afe;
    BlackLevels black;
    ShadingSettings shading;  // as read for this run, whatever its outcome
};

// A shading calibration: the strips' place, size and front-end values, and the scan's format.
struct ShadingRequest {
    uint16_t startLine = 0;
    uint16_t lineCount = 0;
    AfeValues afe;
    uint16_t xDpi = 0;
    uint16_t yDpi = 0;
    uint16_t leftEdge = 0;  // the scan's first sensor pixel (myStartx)
    bool pixelMode = false;
    uint16_t widthUnits = 0;
    uint16_t pixelFormatCode = 0;
    uint8_t taMode = 0;
    uint16_t taType = 0;
    uint16_t dataWidth = 8;
    BlackLevels black;  // what the AFE search left: the dark end when no dark strip is taken
    // The settings that shape it: a dark strip (BLACKSHADING), the strips only and no maps
    // (RAWDATA), and the white's scale in percent (FACTOR).
    uint16_t BLACKSHADING = 0;
    uint16_t RAWDATA = 0;
    uint16_t FACTOR = 100;
};

// The per-pixel 256-entry maps of each colour, for 8-bit scans; a null colour is not built.
struct ShadingMaps {
    uint8_t* r = nullptr;
    uint8_t* g = nullptr;
    uint8_t* b = nullptr;
};

// The 16-bit white and dark references of each colour, for 48-bit scans.
struct ShadingReferences {
    uint16_t* whiteR = nullptr;
    uint16_t* darkR = nullptr;
    uint16_t* whiteG = nullptr;
    uint16_t* darkG = nullptr;
    uint16_t* whiteB = nullptr;
    uint16_t* darkB = nullptr;
};

// An origin search on the adapter: the AFE values its strip is taken with, and the session's
// motor resolution and plane line offset, which its window carries.
struct TaOriginRequest {
    AfeValues afe;
    uint16_t YMAXDPI = 0;
    uint16_t LAMPSTEP = 0;
};

// The origin of the scan area on the adapter: leftbound and TopLine go in as they are and come
// out as found; the strip's window sizes, when its geometry gave them.
struct TaOrigin {
    uint16_t leftbound = 0;
    int32_t TopLine = 0;
    bool sized = false;
    uint16_t HWWidth = 0;
    uint16_t HWHeight = 0;
};

// The origin of the scan area found on the flatbed; status 1 when the search ran to its end.
struct ScanOrigin {
    int status = 0;
    uint16_t leftbound = 0;
    int32_t TopLine = 0;
};

}  // namespace b58

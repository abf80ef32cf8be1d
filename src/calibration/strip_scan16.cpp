#include <vector>

#include "calibration/strip_scan.h"
#include "calibration/strip_scan_sequence.h"
#include "calibration/strip_window.h"
#include "device/image_reader.h"
#include "device/scan_geometry.h"

namespace b58 {

namespace {

constexpr size_t kLineTableBytes = 3276800;
constexpr size_t kLineBufferBytes = 2 * kStripMaxPixels;
constexpr uint32_t kBlockBytes = 30720;
constexpr uint8_t kColourRed = 3;
constexpr uint8_t kColourGreen = 2;
constexpr uint8_t kColourBlue = 1;

}  // namespace

StripSize ScanCalibrationStrip16(StripRun& run, const StripRequest& request,
                                 const StripPlanes<uint16_t>& planes) {
    const ScannerLink& link = run.link;
    std::vector<uint16_t> lineTable(kLineTableBytes / sizeof(uint16_t));
    std::vector<uint8_t> lineBuffer(kLineBufferBytes);
    const bool ta = request.taSelector;
    uint16_t* const planeR = planes.r;
    uint16_t* const planeG = planes.g;
    uint16_t* const planeB = planes.b;

    // 16-bit samples always come in line mode, in three planes.
    StripWindowShape shape = StripShapeOf(request, kColourPixelFormat, 16);
    if (!PrepareStrip(run, &shape, request, lineTable.data())) return {shape.SWWidth, shape.SWHeight};
    shape.taModeBit = request.dark || ta;
    shape.modeField = ScanWindowModeField(false, true, 0);
    const uint16_t width = shape.SWWidth;
    const uint16_t lines = shape.SWHeight;

    if (!StartStripScan(link, BuildStripWindow(shape, link.kind), request.afe)) {
        run.StripScanOk = 0;
        return {width, lines};
    }

    OpenImageReader(link, static_cast<uint32_t>(width) * lines * 6, kBlockBytes, 1);
    const uint32_t lineBytes = 2u * width;
    const uint32_t rawLines = 3u * lines;
    for (uint32_t k = 0; k < rawLines; ++k) {
        uint32_t delivered = 0;
        if (!ReadImageBytes(link, lineBuffer.data(), lineBytes, &delivered) || delivered != lineBytes) {
            run.StripScanOk = 0;
            break;
        }
        uint16_t row = 0;
        uint8_t colourCode = 0;
        GetLineTableEntry(k, lineTable.data(), &row, &colourCode);
        uint16_t* plane = colourCode == kColourRed     ? planeR
                          : colourCode == kColourGreen ? planeG
                          : colourCode == kColourBlue  ? planeB
                                                       : nullptr;
        if (plane == nullptr || row >= lines) continue;
        // Each row fills the first half of a slot of two rows' samples; the stream's samples
        // are least significant byte first.
        uint16_t* out = plane + 2 * static_cast<size_t>(row) * width;
        for (uint32_t x = 0; x < width; ++x)
            out[x] = static_cast<uint16_t>(lineBuffer[2 * x] | (lineBuffer[2 * x + 1] << 8));
    }

    if (run.StripScanOk && !EndStripScan(link, StripClosingLampMask(ta))) run.StripScanOk = 0;
    CloseImageReader(link);
    return {width, lines};
}

}  // namespace b58

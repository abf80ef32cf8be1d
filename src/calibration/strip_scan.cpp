#include "calibration/strip_scan.h"

#include <cstring>
#include <vector>

#include "calibration/strip_scan_sequence.h"
#include "calibration/strip_window.h"
#include "device/image_reader.h"
#include "device/scan_geometry.h"

namespace b58 {

namespace {

constexpr size_t kLineTableBytes = 262144;
constexpr size_t kLineModeBufferBytes = kStripMaxPixels;
constexpr size_t kPixelModeBufferBytes = 3 * kStripMaxPixels;
constexpr uint32_t kLineBlockBytes = 5120;
constexpr uint8_t kColourRed = 3;
constexpr uint8_t kColourGreen = 2;
constexpr uint8_t kColourBlue = 1;

// One read of the strip's stream; false when fewer bytes than asked came.
bool ReadStripLine(const ScannerLink& link, uint8_t* line, uint32_t bytes) {
    uint32_t delivered = 0;
    return ReadImageBytes(link, line, bytes, &delivered) != 0 && delivered == bytes;
}

}  // namespace

StripSize ScanCalibrationStrip(StripRun& run, const StripRequest& request,
                               const StripPlanes<uint8_t>& planes) {
    const ScannerLink& link = run.link;
    std::vector<uint16_t> lineTable(kLineTableBytes / sizeof(uint16_t));
    std::vector<uint8_t> lineBuffer(kLineModeBufferBytes);
    std::vector<uint8_t> pixelBuffer(kPixelModeBufferBytes);
    const bool ta = request.taSelector;
    const bool pixelMode = request.pixelMode;
    uint8_t* const planeR = planes.r;
    uint8_t* const planeG = planes.g;
    uint8_t* const planeB = planes.b;

    StripWindowShape shape = StripShapeOf(request, request.pixelFormatCode, 8);
    if (!PrepareStrip(run, &shape, request, lineTable.data())) return {shape.SWWidth, shape.SWHeight};
    shape.taModeBit = StripTaModeBit(request.dark, ta, request.taMode != 0);
    shape.modeField = StripModeField(pixelMode, request.taMode != 0, request.taType);
    const uint16_t width = shape.SWWidth;
    const uint16_t lines = shape.SWHeight;

    if (!StartStripScan(link, BuildStripWindow(shape, link.kind), request.afe)) {
        run.StripScanOk = 0;
        return {width, lines};
    }

    const bool colour = request.pixelFormatCode == kColourPixelFormat;
    const uint32_t planeCount = colour ? 3 : 1;
    OpenImageReader(link, static_cast<uint32_t>(width) * lines * planeCount, planeCount * kLineBlockBytes, 1);

    if (pixelMode) {
        const uint32_t lineBytes = 3u * width;
        for (uint32_t row = 0; row < lines; ++row) {
            if (!ReadStripLine(link, pixelBuffer.data(), lineBytes)) {
                run.StripScanOk = 0;
                break;
            }
            const uint8_t* triple = pixelBuffer.data();
            const size_t at = static_cast<size_t>(row) * width;
            for (uint32_t x = 0; x < width; ++x, triple += 3) {
                planeR[at + x] = triple[0];
                planeG[at + x] = triple[1];
                planeB[at + x] = triple[2];
            }
        }
    } else if (!colour) {
        for (uint32_t row = 0; row < lines; ++row) {
            if (!ReadStripLine(link, lineBuffer.data(), width)) {
                run.StripScanOk = 0;
                break;
            }
            std::memcpy(planeG + static_cast<size_t>(row) * width, lineBuffer.data(), width);
        }
    } else {
        const uint32_t rawLines = 3u * lines;
        for (uint32_t k = 0; k < rawLines; ++k) {
            if (!ReadStripLine(link, lineBuffer.data(), width)) {
                run.StripScanOk = 0;
                break;
            }
            uint16_t row = 0;
            uint8_t colourCode = 0;
            GetLineTableEntry(k, lineTable.data(), &row, &colourCode);
            uint8_t* plane = colourCode == kColourRed     ? planeR
                             : colourCode == kColourGreen ? planeG
                             : colourCode == kColourBlue  ? planeB
                                                          : nullptr;
            if (plane == nullptr || row >= lines) continue;
            std::memcpy(plane + static_cast<size_t>(row) * width, lineBuffer.data(), width);
        }
    }

    if (run.StripScanOk && !EndStripScan(link, StripClosingLampMask(ta))) run.StripScanOk = 0;
    CloseImageReader(link);
    return {width, lines};
}

}  // namespace b58

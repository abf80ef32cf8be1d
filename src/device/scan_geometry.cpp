#include "device/scan_geometry.h"

#include <cstring>
#include <vector>

namespace b58 {
namespace {

constexpr uint8_t kPlaneColours[5][3] = {{3, 2, 1}, {3, 1, 2}, {2, 3, 1}, {2, 1, 3}, {1, 3, 2}};
constexpr uint8_t kDefaultPlaneColours[3] = {1, 2, 3};
constexpr int32_t kNotKept = -1;

const uint8_t* PlaneColours(uint8_t orderCode) {
    return orderCode < 5 ? kPlaneColours[orderCode] : kDefaultPlaneColours;
}

// Counts the output pixels of an even spread of `target` over `base` across `count` base
// pixels: the accumulator starts at base - target so that the first pixel is always taken.
uint32_t SpreadCount(uint32_t base, uint32_t target, uint32_t count) {
    uint32_t accumulator = base - target;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        accumulator += target;
        if (accumulator >= base) {
            ++kept;
            accumulator -= base;
        }
    }
    return kept;
}

}  // namespace

ScanGeometry ComputeScanGeometry(const GeometryRequest& request, uint16_t* lineTable) {
    const auto [colourOrderCode, planeLineOffset, pixelFormatCode, baseX, baseY, targetX, targetY, xCount,
                yCount] = request;
    ScanGeometry result;
    const bool sizesOnly = (colourOrderCode & kGeometrySizesOnly) != 0;
    if (targetX == 0 || targetX > baseX || targetY == 0 || targetY > baseY || xCount > kGeometryMaxXCount ||
        yCount > kGeometryMaxYCount || (!sizesOnly && lineTable == nullptr)) {
        return result;
    }

    uint32_t outputPixels = SpreadCount(baseX, targetX, xCount);
    if (outputPixels % 2 != 0) ++outputPixels;
    const uint32_t sensorPixels = outputPixels * (baseX / targetX);

    // Output line index of every raw line, or kNotKept.
    std::vector<int32_t> outputLineOf(yCount, kNotKept);
    uint32_t accumulator = static_cast<uint32_t>(baseY - targetY);
    int32_t outputLines = 0;
    for (uint32_t i = 0; i < yCount; ++i) {
        accumulator += targetY;
        if (accumulator >= baseY) {
            outputLineOf[i] = outputLines++;
            accumulator -= baseY;
        }
    }

    result.sized = true;
    result.HWWidth = static_cast<uint16_t>(sensorPixels);
    result.HWHeight = yCount;
    result.SWWidth = static_cast<uint16_t>(outputPixels);
    result.SWHeight = static_cast<uint16_t>(outputLines);
    if (outputLines > kGeometryMaxOutputLines) return result;
    result.status = 1;
    if (sizesOnly) return result;

    // Raw line i + c*g carries plane c of the output line kept at raw line i; within one raw
    // line the planes are ordered 0, 1, 2. One mark per (arrival line, plane).
    const uint32_t g = planeLineOffset;
    std::vector<uint8_t> marks(3 * (static_cast<size_t>(yCount) + 2 * g), 0);
    for (uint32_t i = 0; i < yCount; ++i) {
        if (outputLineOf[i] == kNotKept) continue;
        for (uint32_t c = 0; c < 3; ++c) marks[3 * (i + c * g) + c] = 1;
    }

    std::memset(lineTable, 0, sizeof(uint16_t) * 3 * static_cast<size_t>(outputLines));
    const bool colour = pixelFormatCode == kColourPixelFormat;
    const uint8_t* planeColours = PlaneColours(colourOrderCode);
    const uint32_t onePlaneColour = pixelFormatCode == 1 ? 1 : 2;
    size_t entries = 0;
    for (size_t p = 0; p < marks.size(); ++p) {
        if (marks[p] == 0) continue;
        const uint32_t plane = p % 3;
        if (colour) {
            const size_t rawLine = p / 3 - plane * g;
            lineTable[entries++] =
                static_cast<uint16_t>(outputLineOf[rawLine] + (planeColours[plane] << kLineTableColourShift));
        } else if (plane == 0) {
            lineTable[entries++] =
                static_cast<uint16_t>(outputLineOf[p / 3] + (onePlaneColour << kLineTableColourShift));
        }
    }
    return result;
}

uint8_t GetLineTableEntry(uint32_t entryIndex, const uint16_t* lineTable, uint16_t* lineIndex,
                          uint8_t* colourCode) {
    const uint16_t entry = lineTable[entryIndex];
    *lineIndex = entry & kLineTableIndexMask;
    *colourCode = static_cast<uint8_t>(entry >> kLineTableColourShift);
    return 1;
}

}  // namespace b58

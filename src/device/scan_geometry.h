// Scan-window geometry: how many sensor pixels and motor lines a window must cover so that,
// after dropping pixels and lines evenly, exactly the requested output pixels and lines
// remain; and, for colour, the line table that names the output line and colour of every
// raw line the controller delivers (the three colour planes of one output line arrive g raw
// lines apart).
#pragma once

#include <cstdint>

#include "contract/scanner_model.h"

namespace b58 {

inline constexpr uint16_t kGeometryMaxXCount = Model().sensor.maxBaseXCount;
inline constexpr uint16_t kGeometryMaxYCount = Model().sensor.maxBaseYCount;
inline constexpr uint16_t kGeometryMaxOutputLines = Model().sensor.maxOutputLines;
inline constexpr uint8_t kGeometrySizesOnly = 0x80;      // colour order code bit: no line table
inline constexpr uint16_t kColourPixelFormat = 4;        // PixelFormatCode of a three-plane scan
inline constexpr uint16_t kLineTableIndexMask = 0x3FFF;  // entry bits 0-13: output line
inline constexpr int kLineTableColourShift = 14;         // entry bits 14-15: colour code 1..3

// What the geometry is asked for:
//   colourOrderCode  0..4 choose the colour code of planes 0, 1, 2 (0: 3 2 1, 1: 3 1 2,
//                    2: 2 3 1, 3: 2 1 3, 4: 1 3 2); any other value 1 2 3; with
//                    kGeometrySizesOnly set, no line table is built
//   planeLineOffset  g, raw lines between the colour planes of one output line
//   pixelFormatCode  4 = three planes; 1 = one plane with colour code 1; else one plane, code 2
//   targetX/targetY  1 to baseX/baseY; xCount <= 14400, yCount <= 28800
struct GeometryRequest {
    uint8_t colourOrderCode = 0;
    uint8_t planeLineOffset = 0;
    uint16_t pixelFormatCode = 0;
    uint16_t baseX = 0;
    uint16_t baseY = 0;
    uint16_t targetX = 0;
    uint16_t targetY = 0;
    uint16_t xCount = 0;
    uint16_t yCount = 0;
};

// The window sizes: sensor pixels and motor lines (HW), output pixels and lines (SW).
// `sized` is false when an input was out of range and nothing was computed; `status` is 1
// when the window is usable, 0 when it is not (also when sized but over 14400 output lines).
struct ScanGeometry {
    uint8_t status = 0;
    bool sized = false;
    uint16_t HWWidth = 0;
    uint16_t HWHeight = 0;
    uint16_t SWWidth = 0;
    uint16_t SWHeight = 0;
};

// Computes the window sizes and, unless the request has kGeometrySizesOnly set, the line
// table (room for 3 x SWHeight entries; it may be null with the sizes-only bit, and without
// it a null table refuses the request).
ScanGeometry ComputeScanGeometry(const GeometryRequest& request, uint16_t* lineTable);

// Splits one line-table entry into its output line index and colour code. Always 1.
uint8_t GetLineTableEntry(uint32_t entryIndex, const uint16_t* lineTable, uint16_t* lineIndex,
                          uint8_t* colourCode);

}  // namespace b58

// Pure searches for the scan area's origin in a grey strip taken at the scanner's origin:
// rows of `width` 8-bit samples one after another (row r, column c at r x width + c).
#pragma once

#include <cstdint>

#include "contract/scanner_model.h"

namespace b58 {

// Fixed origin used when the flatbed strip shows no usable edge, or one out of range.
inline constexpr uint16_t kFlatbedDefaultLeft = Model().bed.defaultLeft;
inline constexpr int32_t kFlatbedDefaultTop = Model().bed.defaultTop;
// Fixed origin used when the adapter strip shows no edge.
inline constexpr uint16_t kTaDefaultLeft = Model().adapter.defaultLeft;
inline constexpr int32_t kTaDefaultTop = Model().adapter.defaultTop;
// The adapter's lit window never starts further left than this.
inline constexpr uint16_t kTaMinimumLeftbound = Model().adapter.minimumLeftbound;

// Flatbed left edge: the first column x, from width - 1 down to 3, whose mean over rows
// 6, 8, 10, 12, 14 differs by more than 40 from that of column x - 2. 2 when there is none
// (also for a strip too small to search).
int FindFlatbedLeftEdge(const uint8_t* strip, int width, int height);

// Flatbed top edge below the left edge x (x >= 10): the first row y, from 10 up to
// height - 3, whose mean over columns x - 7 .. x - 3 differs by more than 40 from that of
// row y + 2. height - 2 when there is none.
int FindFlatbedTopEdge(const uint8_t* strip, int width, int height, int x);

// The flatbed origin from a strip: the searches when the strip arrived (null: it did not),
// the fixed values when the left edge lies too close to the strip's start, then the range
// checks (11..149 across, 11..159 down), each out-of-range value traced and replaced.
void FlatbedOriginFromStrip(const uint8_t* strip, int width, int height, uint16_t* left, int32_t* top);

// Adapter left edge: the first column j, from width - 60 down to 15, whose mean over rows
// 0..4 is more than 50 above that of column j - 14. kTaDefaultLeft when there is none.
int FindTaLeftEdge(const uint8_t* strip, int width, int height);

// Adapter top edge right of the left edge: the first row k, from 0 up to height - 8, whose
// mean over pixels left + 40 .. left + 59 differs by more than 50 from that of row k + 7.
// kTaDefaultTop when there is none or those pixels lie outside the strip.
int FindTaTopEdge(const uint8_t* strip, int width, int height, int left);

}  // namespace b58

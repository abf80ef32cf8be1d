#include "calibration/edge_search.h"

#include <cstdlib>

#include "state/trace.h"

namespace b58 {
namespace {

constexpr int kFlatbedContrast = 40;
constexpr int kTaContrast = 50;
constexpr int kFlatbedFirstTopRow = 10;
constexpr int kFlatbedMinimumLeft = 10;  // a left edge nearer the strip's start is not trusted
constexpr int kFlatbedLastRowUsed = 14;
constexpr int kTaRowsAveraged = 5;
constexpr int kTaColumnGap = 14;
constexpr int kTaRowGap = 7;
constexpr int kTaTopFirstPixel = 40;  // right of the left edge
constexpr int kTaTopPixels = 20;

int At(const uint8_t* strip, int width, int row, int column) {
    return strip[static_cast<long>(row) * width + column];
}

// Mean of rows 6, 8, 10, 12 and 14 of one column.
int FlatbedColumnMean(const uint8_t* strip, int width, int column) {
    int sum = 0;
    for (int row = 6; row <= kFlatbedLastRowUsed; row += 2) sum += At(strip, width, row, column);
    return sum / 5;
}

// Mean of columns x - 7 .. x - 3 of one row.
int FlatbedRowMean(const uint8_t* strip, int width, int row, int x) {
    int sum = 0;
    for (int column = x - 7; column <= x - 3; ++column) sum += At(strip, width, row, column);
    return sum / 5;
}

int TaColumnMean(const uint8_t* strip, int width, int column) {
    int sum = 0;
    for (int row = 0; row < kTaRowsAveraged; ++row) sum += At(strip, width, row, column);
    return sum / kTaRowsAveraged;
}

int TaRowMean(const uint8_t* strip, int width, int row, int left) {
    int sum = 0;
    for (int i = 0; i < kTaTopPixels; ++i) sum += At(strip, width, row, left + kTaTopFirstPixel + i);
    return sum / kTaTopPixels;
}

}  // namespace

int FindFlatbedLeftEdge(const uint8_t* strip, int width, int height) {
    if (height <= kFlatbedLastRowUsed) return 2;
    for (int x = width - 1; x >= 3; --x) {
        const int a = FlatbedColumnMean(strip, width, x);
        const int b = FlatbedColumnMean(strip, width, x - 2);
        if (std::abs(b - a) > kFlatbedContrast) return x;
    }
    return 2;
}

int FindFlatbedTopEdge(const uint8_t* strip, int width, int height, int x) {
    if (x < 7 || x > width) return height - 2;
    for (int y = kFlatbedFirstTopRow; y <= height - 3; ++y) {
        const int a = FlatbedRowMean(strip, width, y, x);
        const int b = FlatbedRowMean(strip, width, y + 2, x);
        if (std::abs(a - b) > kFlatbedContrast) return y;
    }
    return height - 2;
}

void FlatbedOriginFromStrip(const uint8_t* strip, int width, int height, uint16_t* left, int32_t* top) {
    int l = kFlatbedDefaultLeft;
    int t = kFlatbedDefaultTop;
    if (strip != nullptr) {
        const int x = FindFlatbedLeftEdge(strip, width, height);
        // Left of column 10 the top search would reach before the row's start; the origin
        // falls back to the fixed values anyway, so it is not searched.
        if (x >= kFlatbedMinimumLeft) {
            l = x;
            t = FindFlatbedTopEdge(strip, width, height, x);
        }
    }
    if (t >= 160 || t <= 10) {
        Trace("the top boundary is over,so use default value");
        t = kFlatbedDefaultTop;
    }
    if (l >= 150 || l <= 10) {
        Trace("the left boundary is over ,so use default value");
        l = kFlatbedDefaultLeft;
    }
    *left = static_cast<uint16_t>(l);
    *top = t;
}

int FindTaLeftEdge(const uint8_t* strip, int width, int height) {
    if (height < kTaRowsAveraged) return kTaDefaultLeft;
    for (int j = width - 60; j >= 15; --j) {
        const int a = TaColumnMean(strip, width, j);
        const int b = TaColumnMean(strip, width, j - kTaColumnGap);
        if (a - b > kTaContrast) return j;
    }
    return kTaDefaultLeft;
}

int FindTaTopEdge(const uint8_t* strip, int width, int height, int left) {
    if (left < 0 || left + kTaTopFirstPixel + kTaTopPixels > width) return kTaDefaultTop;
    for (int k = 0; k <= height - 8; ++k) {
        const int a = TaRowMean(strip, width, k, left);
        const int b = TaRowMean(strip, width, k + kTaRowGap, left);
        if (std::abs(a - b) > kTaContrast) return k;
    }
    return kTaDefaultTop;
}

}  // namespace b58

// Where the driver's first delivered pixel and line land against the requested corner, per
// request. The host shifts, crops or pads by it so that the image is exactly the area asked.
#pragma once

#include <functional>

#include "api/exports.h"

namespace b58::host {

struct CornerOffset {
    // In delivered pixels across (the driver's RXDPI) and delivered lines down (RYDPI);
    // positive: right of or below the requested corner.
    double pixels = 0;
    double lines = 0;
};

// Given the request exactly as it goes to SetParameters (Resolution as asked, before the
// driver rewrites it).
using CornerOffsets = std::function<CornerOffset(const ScanParameters& request)>;

// No correction: the driver's corner is taken as the requested one.
inline CornerOffset ZeroCornerOffset(const ScanParameters&) {
    return {};
}

}  // namespace b58::host

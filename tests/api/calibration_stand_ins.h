// Stand-ins for the calibration routines the scan start calls, for tests of the scan start
// on its own: each records its call and answers what the test set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace b58::testing {

struct CalibrationScript {
    int afeResult = 1;
    int shadingResult = 1;
    uint16_t leftbound = 0;
    int32_t topLine = 100;
    std::vector<std::string> calls;       // routine names in call order
    std::vector<uint16_t> startLines;     // the start line each strip routine was given
    const uint16_t* whiteRefR = nullptr;  // CalibrateShading16's first reference
};

// The script the stand-ins follow; reset it per test.
CalibrationScript& Calibration();

}  // namespace b58::testing

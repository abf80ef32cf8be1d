#include "calibration_stand_ins.h"

#include "calibration/afe_calibration.h"
#include "calibration/boundary_detection.h"
#include "calibration/shading_calibration.h"

namespace b58 {

namespace testing {
CalibrationScript& Calibration() {
    static CalibrationScript script;
    return script;
}
}  // namespace testing

using testing::Calibration;

int CalibrateAFE(HANDLE, uint16_t startLine, uint16_t, uint8_t*, uint8_t*, uint8_t*, uint8_t*, uint8_t*,
                 uint8_t*, int32_t, uint16_t, uint16_t) {
    Calibration().calls.push_back("CalibrateAFE");
    Calibration().startLines.push_back(startLine);
    return Calibration().afeResult;
}

int CalibrateAFEForTa(HANDLE, uint16_t startLine, uint16_t, uint8_t*, uint8_t*, uint8_t*, uint8_t*, uint8_t*,
                      uint8_t*, int32_t, uint16_t, uint16_t) {
    Calibration().calls.push_back("CalibrateAFEForTa");
    Calibration().startLines.push_back(startLine);
    return Calibration().afeResult;
}

int FindFlatbedBounds(HANDLE, int32_t, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                      const uint8_t*, const uint8_t*, uint16_t* leftbound, int32_t* topLine, uint16_t*) {
    Calibration().calls.push_back("FindFlatbedBounds");
    *leftbound = Calibration().leftbound;
    *topLine = Calibration().topLine;
    return 1;
}

int FindTaBounds(uint16_t* leftbound, int32_t* topLine) {
    Calibration().calls.push_back("FindTaBounds");
    *leftbound = Calibration().leftbound;
    *topLine = Calibration().topLine;
    return 1;
}

int CalibrateShading(HANDLE, uint16_t startLine, uint16_t, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t,
                     uint8_t, uint8_t*, uint8_t*, uint8_t*, uint16_t, uint16_t, int16_t, int32_t, uint16_t,
                     uint16_t, uint8_t, uint16_t) {
    Calibration().calls.push_back("CalibrateShading");
    Calibration().startLines.push_back(startLine);
    return Calibration().shadingResult;
}

int CalibrateShading16(HANDLE, uint16_t startLine, uint16_t, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t,
                       uint8_t, uint16_t* whiteR, uint16_t*, uint16_t*, uint16_t*, uint16_t*, uint16_t*,
                       uint16_t, uint16_t, int16_t, int32_t, uint16_t, uint16_t, uint8_t) {
    Calibration().calls.push_back("CalibrateShading16");
    Calibration().startLines.push_back(startLine);
    Calibration().whiteRefR = whiteR;
    return Calibration().shadingResult;
}

}  // namespace b58

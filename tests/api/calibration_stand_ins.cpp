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

CalibrationResult CalibrateAFE(const ScannerLink&, const AfeSearchRequest& request) {
    Calibration().calls.push_back("CalibrateAFE");
    Calibration().startLines.push_back(request.startLine);
    return {Calibration().afeResult, false, {}, {}, {}};
}

CalibrationResult CalibrateAFEForTa(const ScannerLink&, const AfeSearchRequest& request) {
    Calibration().calls.push_back("CalibrateAFEForTa");
    Calibration().startLines.push_back(request.startLine);
    return {Calibration().afeResult, false, {}, {}, {}};
}

ScanOrigin FindFlatbedBounds(const ScannerLink&, const AfeValues&, uint16_t*) {
    Calibration().calls.push_back("FindFlatbedBounds");
    return {1, Calibration().leftbound, Calibration().topLine};
}

int FindTaBounds(const ScannerLink&, const TaOriginRequest&, TaOrigin* origin) {
    Calibration().calls.push_back("FindTaBounds");
    origin->leftbound = Calibration().leftbound;
    origin->TopLine = Calibration().topLine;
    return 1;
}

int CalibrateShading(const ScannerLink&, const ShadingRequest& request, const ShadingMaps&,
                     const ShadingReferences&) {
    Calibration().calls.push_back("CalibrateShading");
    Calibration().startLines.push_back(request.startLine);
    return Calibration().shadingResult;
}

int CalibrateShading16(const ScannerLink&, const ShadingRequest& request,
                       const ShadingReferences& references) {
    Calibration().calls.push_back("CalibrateShading16");
    Calibration().startLines.push_back(request.startLine);
    Calibration().whiteRefR = references.whiteR;
    return Calibration().shadingResult;
}

}  // namespace b58

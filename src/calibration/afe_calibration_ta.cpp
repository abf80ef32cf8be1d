#include "calibration/afe_calibration.h"
#include "calibration/afe_pass.h"
#include "contract/scanner_model.h"
#include "settings/settings.h"

namespace b58 {

namespace {

constexpr int kOffsetPasses = 6;
constexpr int kGainPasses = 7;  // the last only measures
constexpr int kFinePasses = 6;

CalibrationResult Search(const ScannerLink& link, const AfeSearchRequest& request,
                         const CalibrationSettings& settings) {
    AfeSearchPasses passes(link, request, true);
    const uint16_t calibrationDpi = request.calibrationDpi;
    ChannelSet c;
    for (size_t i = 0; i < 3; ++i) {
        c[i].offset = Model().afe.initialOffset;
        c[i].gain = settings.GAIN_INIT[i] & 0xFF;
    }

    // Offsets by halving steps: the middle of black and white into 124..131.
    int step = Model().afe.initialOffset;
    for (int pass = 0; pass < kOffsetPasses; ++pass) {
        step /= 2;
        if (!passes.Run(c, calibrationDpi)) return {};
        for (size_t i = 0; i < 3; ++i) TaOffsetRule(passes.Levels()[i], step, c[i]);
    }

    // Gains by halving steps: the span from black to white into the L1 band.
    for (auto& channel : c) channel.gain = Model().afe.adapterGainStart;
    step = Model().afe.adapterGainStart;
    for (int pass = 0; pass < kGainPasses; ++pass) {
        step = (step + 1) / 2;
        if (step < 1) step = 1;
        if (!passes.Run(c, calibrationDpi)) return {};
        if (pass == kGainPasses - 1) break;
        for (size_t i = 0; i < 3; ++i)
            TaGainRule(passes.Levels()[i], step, settings.L1_W_MIN[i], settings.L1_W_MAX[i], c[i]);
    }

    if (settings.LEVEL2DONE != 0) {
        for (size_t i = 0; i < 3; ++i) TaMidLevelRule(passes.Levels()[i], c[i]);
        for (int pass = 0; pass < kFinePasses; ++pass) {
            if (!passes.Run(c, calibrationDpi)) return {};
            for (size_t i = 0; i < 3; ++i)
                TaFineGainRule(passes.Levels()[i], settings.L2_W_MIN[i], settings.L2_W_MAX[i], c[i]);
        }
    }

    CalibrationResult result = FinishAfeSearch(c, passes.Levels());
    result.status = passes.StripScanOk();
    return result;
}

}  // namespace

CalibrationResult CalibrateAFEForTa(const ScannerLink& link, const AfeSearchRequest& request) {
    const CalibrationSettings settings = ReadCalibrationSettings(false);
    CalibrationResult result = Search(link, request, settings);
    result.shading = settings.Kept();
    return result;
}

}  // namespace b58

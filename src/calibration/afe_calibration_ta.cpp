#include "calibration/afe_calibration.h"
#include "calibration/afe_pass.h"
#include "settings/settings.h"
#include "state/driver_state.h"

namespace b58 {

namespace {

constexpr int kInitialOffset = 32;
constexpr int kOffsetPasses = 6;
constexpr int kGainStart = 24;
constexpr int kGainPasses = 7;  // the last only measures
constexpr int kFinePasses = 6;

}  // namespace

int CalibrateAFEForTa(HANDLE device, uint16_t startLine, uint16_t lineCount, uint8_t* rOffset, uint8_t* rGain,
                      uint8_t* gOffset, uint8_t* gGain, uint8_t* bOffset, uint8_t* bGain,
                      int32_t pixelModeFlag, uint16_t calibrationDpi, uint16_t pixelFormatCode) {
    const CalibrationSettings settings = ReadCalibrationSettings(false);
    AfeSearchPasses passes(device, startLine, lineCount, pixelModeFlag, pixelFormatCode, 1);
    ChannelSet c;
    for (size_t i = 0; i < 3; ++i) {
        c[i].offset = kInitialOffset;
        c[i].gain = settings.GAIN_INIT[i] & 0xFF;
    }

    // Offsets by halving steps: the middle of black and white into 124..131.
    int step = kInitialOffset;
    for (int pass = 0; pass < kOffsetPasses; ++pass) {
        step /= 2;
        if (!passes.Run(c, calibrationDpi)) return 0;
        for (size_t i = 0; i < 3; ++i) TaOffsetRule(passes.Levels()[i], step, c[i]);
    }

    // Gains by halving steps: the span from black to white into the L1 band.
    for (auto& channel : c) channel.gain = kGainStart;
    step = kGainStart;
    for (int pass = 0; pass < kGainPasses; ++pass) {
        step = (step + 1) / 2;
        if (step < 1) step = 1;
        if (!passes.Run(c, calibrationDpi)) return 0;
        if (pass == kGainPasses - 1) break;
        for (size_t i = 0; i < 3; ++i)
            TaGainRule(passes.Levels()[i], step, settings.L1_W_MIN[i], settings.L1_W_MAX[i], c[i]);
    }

    if (settings.LEVEL2DONE != 0) {
        for (size_t i = 0; i < 3; ++i) TaMidLevelRule(passes.Levels()[i], c[i]);
        for (int pass = 0; pass < kFinePasses; ++pass) {
            if (!passes.Run(c, calibrationDpi)) return 0;
            for (size_t i = 0; i < 3; ++i)
                TaFineGainRule(passes.Levels()[i], settings.L2_W_MIN[i], settings.L2_W_MAX[i], c[i]);
        }
    }

    FinishAfeSearch(c, passes.Levels(), rOffset, rGain, gOffset, gGain, bOffset, bGain);
    return g_state.StripScanOk;
}

}  // namespace b58

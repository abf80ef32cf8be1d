#include "calibration/afe_calibration.h"

#include "calibration/afe_pass.h"
#include "contract/scanner_model.h"
#include "settings/settings.h"
#include "state/trace.h"

namespace b58 {

namespace {

constexpr int kCoarsePassLimit = 15;
constexpr int kGainPassCounterLimit = 50;  // the counter reaching it ends the phase: 49 passes
constexpr int kFinePassLimit = 60;
constexpr int kHeadroomPassLimit = 30;

void TraceValues(const ChannelSet& c) {
    Trace("ROffset=%d,RGain,=%d,GOffset=%d,GGain,=%d,BOffset=%d,BGain,=%d", c[0].offset, c[0].gain,
          c[1].offset, c[1].gain, c[2].offset, c[2].gain);
}

void TraceLevels(const char* phase, const LevelSet& l) {
    Trace("%s RMinBlack=%d,RMaxWhite=%d,GMinBlack=%d,GMaxWhite=%d,BMinBlack=%d,BMaxWhite=%d", phase,
          l[0].MinBlack, l[0].MaxWhite, l[1].MinBlack, l[1].MaxWhite, l[2].MinBlack, l[2].MaxWhite);
}

CalibrationResult Search(const ScannerLink& link, const AfeSearchRequest& request,
                         const CalibrationSettings& settings) {
    AfeSearchPasses passes(link, request, false);
    const uint16_t calibrationDpi = request.calibrationDpi;
    ChannelSet c;
    for (size_t i = 0; i < 3; ++i) {
        c[i].offset = Model().afe.initialOffset;
        c[i].gain = settings.GAIN_INIT[i] & 0xFF;
    }

    // Coarse offset: the middle of black and white into 100..109.
    for (int pass = 0; pass < kCoarsePassLimit; ++pass) {
        if (!passes.Run(c, calibrationDpi)) return {};
        TraceValues(c);
        TraceLevels("first==offset", passes.Levels());
        for (size_t i = 0; i < 3; ++i) CoarseOffsetRule(passes.Levels()[i], c[i]);
        if (AllSettled(c)) break;
    }

    // Gain: the span from black to white into the L1 band.
    for (auto& channel : c) channel.gain = Model().afe.flatbedGainStart;
    ClearSettled(c);
    for (int counter = 0;;) {
        if (AllSettled(c)) break;
        if (++counter == kGainPassCounterLimit) break;
        if (!passes.Run(c, calibrationDpi)) return {};
        TraceValues(c);
        TraceLevels("####GAIN", passes.Levels());
        for (size_t i = 0; i < 3; ++i)
            GainRule(passes.Levels()[i], settings.L1_W_MIN[i], settings.L1_W_MAX[i], settings.L2_W_MAX[i],
                     c[i]);
    }

    // Fine offset: the black into MIN_DARK..MAX_DARK-1.
    ClearSettled(c);
    for (int pass = 0; pass < kFinePassLimit; ++pass) {
        if (!passes.Run(c, calibrationDpi)) return {};
        TraceValues(c);
        TraceLevels("second===offset", passes.Levels());
        for (size_t i = 0; i < 3; ++i)
            FineOffsetRule(passes.Levels()[i], settings.MIN_DARK, settings.MAX_DARK, c[i]);
        if (AllSettled(c)) break;
    }

    // White headroom. The gain phase puts the white MaxWhite - MinBlack above the black of
    // that phase, and the fine offset then lifts the black by some 35 codes, which takes the
    // brightest bin past full scale. Where that bin is the glass's own white (below 300 dpi
    // the 10-pixel bins average away the brighter end of the lamp) the whole shading strip
    // clips and shading cannot correct the pixels, so the gain comes down until the brightest
    // bin stays below the ceiling, with the black held in its band.
    ClearSettled(c);
    for (int pass = 0; pass < kHeadroomPassLimit; ++pass) {
        if (!passes.Run(c, calibrationDpi)) return {};
        TraceValues(c);
        TraceLevels("third===white", passes.Levels());
        for (size_t i = 0; i < 3; ++i)
            HeadroomRule(passes.Levels()[i], settings.MIN_DARK, settings.MAX_DARK, c[i]);
        if (AllSettled(c)) break;
    }

    // A closing strip with the final values; a short one still keeps the results found.
    const LevelSet last = passes.Levels();
    const bool closed = passes.Run(c, Model().strips.closingDpi, false);
    CalibrationResult result = FinishAfeSearch(c, last);
    result.status = closed ? passes.StripScanOk() : 0;
    return result;
}

}  // namespace

CalibrationResult CalibrateAFE(const ScannerLink& link, const AfeSearchRequest& request) {
    const CalibrationSettings settings = ReadCalibrationSettings(true);
    CalibrationResult result = Search(link, request, settings);
    result.shading = settings.Kept();
    return result;
}

}  // namespace b58

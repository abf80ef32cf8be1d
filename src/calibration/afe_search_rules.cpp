#include "calibration/afe_search_rules.h"

#include <algorithm>

namespace b58 {

namespace {
constexpr AfeFacts kAfe = Model().afe;
constexpr int kCoarseStep = kAfe.coarseStep;
constexpr int kCoarseLow = kAfe.coarseLow;
constexpr int kCoarseHigh = kAfe.coarseHigh;
constexpr int kTaMidLow = kAfe.adapterMidLow;
constexpr int kTaMidHigh = kAfe.adapterMidHigh;
constexpr int kTaMidTarget = kAfe.adapterMidTarget;
constexpr int kTaMidTolerance = kAfe.adapterMidTolerance;
constexpr int kTaWhiteCeiling = kWhiteCeiling;
constexpr int kTaBlackCeiling = kAfe.adapterBlackCeiling;

int RangeOf(const StripLevels& levels) {
    return static_cast<int>(levels.MaxWhite) - static_cast<int>(levels.MinBlack);
}
}  // namespace

void CoarseOffsetRule(const StripLevels& levels, ChannelSearch& channel) {
    const int mid = levels.MidLevel;
    if (mid < kCoarseLow)
        channel.offset += kCoarseStep;
    else if (mid < kCoarseHigh)
        channel.settled = true;
    else
        channel.offset -= kCoarseStep;
}

void GainRule(const StripLevels& levels, uint16_t l1Min, uint16_t l1Max, uint16_t l2Max,
              ChannelSearch& channel) {
    const int range = RangeOf(levels);
    if (range < l1Min) {
        if (levels.MaxWhite > l2Max) {
            if (channel.offset >= 1) channel.offset -= 1;
        } else if (channel.gain <= kAfeMax - 1) {
            channel.gain += 1;
        }
    } else if (range < l1Max) {
        channel.settled = true;
    } else if (channel.gain >= 1) {
        channel.gain -= 1;
    }
}

void FineOffsetRule(const StripLevels& levels, uint16_t minDark, uint16_t maxDark, ChannelSearch& channel) {
    if (levels.MinBlack < minDark) {
        if (channel.offset >= kAfeMax)
            channel.settled = true;
        else
            channel.offset += 1;
    } else if (levels.MinBlack < maxDark) {
        channel.settled = true;
    } else if (channel.offset <= 0) {
        channel.settled = true;
    } else {
        channel.offset -= 1;
    }
}

void HeadroomRule(const StripLevels& levels, uint16_t minDark, uint16_t maxDark, ChannelSearch& channel) {
    const bool whiteDone = levels.MaxWhite < kWhiteCeiling || channel.gain <= 0;
    if (!whiteDone) channel.gain -= 1;
    bool blackDone = true;
    if (levels.MinBlack < minDark && channel.offset < kAfeMax) {
        channel.offset += 1;
        blackDone = false;
    } else if (levels.MinBlack >= maxDark && channel.offset > 0) {
        channel.offset -= 1;
        blackDone = false;
    }
    channel.settled = whiteDone && blackDone;
}

void TaOffsetRule(const StripLevels& levels, int step, ChannelSearch& channel) {
    if (levels.MidLevel < kTaMidLow)
        channel.offset += step;
    else if (levels.MidLevel >= kTaMidHigh)
        channel.offset -= step;
}

void TaGainRule(const StripLevels& levels, int step, uint16_t l1Min, uint16_t l1Max, ChannelSearch& channel) {
    const int range = RangeOf(levels);
    if (range < l1Min) {
        if (levels.MaxWhite <= kTaWhiteCeiling)
            channel.gain += step;
        else
            channel.offset -= 1;
    } else if (range >= l1Max) {
        channel.gain -= step;
    } else if (levels.MinBlack > kTaBlackCeiling) {
        channel.offset -= 1;
    }
}

void TaMidLevelRule(const StripLevels& levels, ChannelSearch& channel) {
    const int away = static_cast<int>(levels.MidLevel) - kTaMidTarget;
    if (away > kTaMidTolerance)
        channel.offset -= 1;
    else if (away < -kTaMidTolerance)
        channel.offset += 1;
}

void TaFineGainRule(const StripLevels& levels, uint16_t l2Min, uint16_t l2Max, ChannelSearch& channel) {
    if (levels.MaxWhite < l2Min)
        channel.gain += 1;
    else if (levels.MaxWhite >= l2Max)
        channel.gain -= 1;
}

uint8_t ClampAfeValue(int value) {
    return static_cast<uint8_t>(std::clamp(value, 0, kAfeMax));
}

}  // namespace b58

// The per-pass rules of the AFE searches: how one colour's offset and gain move after one
// measurement. Pure, so each band edge can be checked directly; the search routines only
// scan, measure and apply them to red, green and blue in turn.
#pragma once

#include <cstdint>

#include "calibration/afe_calibration.h"
#include "contract/scanner_model.h"

namespace b58 {

// One colour's search state. Values are signed: the adapter's search may leave 0..63 for
// a while (the strip is sent the low 8 bits) and only the finish clamps.
struct ChannelSearch {
    int offset = 0;
    int gain = 0;
    bool settled = false;  // cleared at the start of a phase; once set it stays set
};

inline constexpr int kAfeMax = Model().afe.maxValue;

// Flatbed, coarse offset: MidLevel band 100..109, steps of 2.
void CoarseOffsetRule(const StripLevels& levels, ChannelSearch& channel);
// Flatbed, gain: range (MaxWhite - MinBlack) band l1Min..l1Max-1; a short range with a white
// above l2Max lowers the offset instead of raising the gain. Values stay within 0..63.
void GainRule(const StripLevels& levels, uint16_t l1Min, uint16_t l1Max, uint16_t l2Max,
              ChannelSearch& channel);
// Flatbed, fine offset: MinBlack band minDark..maxDark-1, steps of 1, settled at 0 or 63.
void FineOffsetRule(const StripLevels& levels, uint16_t minDark, uint16_t maxDark, ChannelSearch& channel);

// Flatbed, white headroom (after the fine offset): the gain comes down while MaxWhite reaches
// kWhiteCeiling, and the offset keeps the black in minDark..maxDark-1 as the gain moves it.
// Settled (recomputed every pass) when both hold or can move no further.
inline constexpr int kWhiteCeiling = Model().afe.whiteCeiling;
void HeadroomRule(const StripLevels& levels, uint16_t minDark, uint16_t maxDark, ChannelSearch& channel);

// Adapter, offset halving: MidLevel band 124..131.
void TaOffsetRule(const StripLevels& levels, int step, ChannelSearch& channel);
// Adapter, gain halving (range band l1Min..l1Max-1).
void TaGainRule(const StripLevels& levels, int step, uint16_t l1Min, uint16_t l1Max, ChannelSearch& channel);
// Adapter, the offset nudge before the fine pass: MidLevel more than 2 from 128.
void TaMidLevelRule(const StripLevels& levels, ChannelSearch& channel);
// Adapter, fine pass: MaxWhite band l2Min..l2Max-1, gain steps of 1.
void TaFineGainRule(const StripLevels& levels, uint16_t l2Min, uint16_t l2Max, ChannelSearch& channel);

// The value as it is kept after calibration.
uint8_t ClampAfeValue(int value);

}  // namespace b58

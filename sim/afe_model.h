// The analogue front end: one offset and one gain register per colour, six bits each (the
// device takes the low six bits of the codes the AFE command carries).
//
// Transfer curve, in 8-bit output units before clipping:
//     y = Gain(g) x (v - kReferenceLevel) + kOffsetStep x (o - kOffsetCentre)
// where v is the sensor's output in input codes (its dark output is about 6), g the gain
// code and o the offset code. The reference sits above the sensor's dark output, so a dark
// pixel reads below zero until the offset lifts it. Gain(g) = 1 + 0.04 x GainIndex(g),
// with GainIndex(g) = (g & 31) + 20 when bit 5 is set: codes 0..31 give indices 0..31,
// codes 44..63 continue with 32..51 and codes 32..43 repeat 20..31, so the driver's gain
// mapping (search values above 31 sent as value + 12) reaches a smooth 1.0x .. 3.04x.
// An 8-bit sample is floor(y) clipped to 0..255; a 16-bit sample floor(256 y) clipped to
// 0..65535, so its high byte is the 8-bit sample.
#pragma once

#include <cstdint>

namespace b58::sim::afe {

constexpr double kReferenceLevel = 40.0;
constexpr double kOffsetStep = 5.0;
constexpr int kOffsetCentre = 32;
constexpr double kGainPerIndex = 0.04;

int GainIndex(uint8_t gainCode);
double Gain(uint8_t gainCode);
double OffsetOutput(uint8_t offsetCode);

// y for sensor output v.
double Transfer(double v, uint8_t offsetCode, uint8_t gainCode);

uint8_t Quantise8(double y);
uint16_t Quantise16(double y);

}  // namespace b58::sim::afe

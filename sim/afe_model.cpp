#include "sim/afe_model.h"

#include <cmath>

namespace b58::sim::afe {

int GainIndex(uint8_t gainCode) {
    const int code = gainCode & 0x3F;
    return (code & 31) + ((code & 32) != 0 ? 20 : 0);
}

double Gain(uint8_t gainCode) {
    return 1.0 + kGainPerIndex * GainIndex(gainCode);
}

double OffsetOutput(uint8_t offsetCode) {
    return kOffsetStep * ((offsetCode & 0x3F) - kOffsetCentre);
}

double Transfer(double v, uint8_t offsetCode, uint8_t gainCode) {
    return Gain(gainCode) * (v - kReferenceLevel) + OffsetOutput(offsetCode);
}

uint8_t Quantise8(double y) {
    if (!(y >= 0.0)) return 0;
    if (y >= 255.0) return 255;
    return static_cast<uint8_t>(y);
}

uint16_t Quantise16(double y) {
    const double z = y * 256.0;
    if (!(z >= 0.0)) return 0;
    if (z >= 65535.0) return 65535;
    return static_cast<uint16_t>(z);
}

}  // namespace b58::sim::afe

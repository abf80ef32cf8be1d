// The analogue front end's offset and gain of each colour, as SetAFEParameters sends them to
// the scanner (0..63 once calibrated).
#pragma once

#include <cstdint>

namespace b58 {

struct AfeValues {
    uint8_t ROffset = 0;
    uint8_t RGain = 0;
    uint8_t GOffset = 0;
    uint8_t GGain = 0;
    uint8_t BOffset = 0;
    uint8_t BGain = 0;

    friend bool operator==(const AfeValues&, const AfeValues&) = default;
};

}  // namespace b58

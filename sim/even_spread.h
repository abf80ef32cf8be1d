// The even spread by which the device drops sensor pixels and motor lines to reach a lower
// resolution: of the base positions 0, 1, 2, ... it keeps the k-th at ceil(k x base / target).
// At whole ratios (300 over 150, 100 or 50) that is every second, third or sixth position,
// starting with the first; at other ratios the gaps alternate.
#pragma once

#include <cstdint>

namespace b58::sim {

// Base position of the k-th kept position; k may be negative (positions before the first,
// where a lagging colour still looks). base and target are at least 1.
int64_t EvenSpreadPosition(int64_t k, int base, int target);

}  // namespace b58::sim

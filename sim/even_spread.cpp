#include "sim/even_spread.h"

namespace b58::sim {

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace

int64_t EvenSpreadPosition(int64_t k, int base, int target) {
    // ceil(k * base / target) = -floor(-k * base / target)
    return -FloorDiv(-k * base, target);
}

}  // namespace b58::sim

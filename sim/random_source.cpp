#include "sim/random_source.h"

#include <cmath>

namespace b58::sim {

double RandomSource::Normal() {
    const double u1 = 1.0 - Uniform();  // (0, 1]
    const double u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.14159265358979323846 * u2);
}

uint64_t MixSeed(uint64_t seed, uint64_t value) {
    RandomSource r(seed ^ (value * 0xD6E8FEB86659FD93ull));
    return r.Next();
}

}  // namespace b58::sim

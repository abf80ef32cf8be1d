// Seeded pseudo-random numbers for the virtual scanner: the same seed gives the same device
// (pixel response, dark signal) and the same noise, on every machine.
#pragma once

#include <cstdint>

namespace b58::sim {

// splitmix64: a full-period 64-bit generator, also used to spread a seed.
class RandomSource {
  public:
    explicit RandomSource(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    // Standard normal (Box-Muller).
    double Normal();

  private:
    uint64_t state_;
};

// Mixes values into a seed.
uint64_t MixSeed(uint64_t seed, uint64_t value);

}  // namespace b58::sim

// How fast a raw line becomes a host line: conversion through maps and gamma (or the 16-bit
// shading) plus the segment join repair, for an A4-wide line at 300 dpi.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "scan/join_repair.h"
#include "scan/line_conversion.h"

namespace {

using namespace b58;

constexpr int kPixels = 2550;

std::vector<uint8_t> Ramp(size_t bytes) {
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(90 + i % 40);
    return v;
}

void Colour24Line(benchmark::State& state) {
    const auto raw = Ramp(kPixels * 3);
    std::vector<uint8_t> maps(static_cast<size_t>(kPixels) * 256);
    for (size_t i = 0; i < maps.size(); ++i) maps[i] = static_cast<uint8_t>(i);
    std::vector<uint16_t> gamma(768);
    for (size_t i = 0; i < gamma.size(); ++i) gamma[i] = static_cast<uint16_t>(i % 256);
    std::vector<uint8_t> out(kPixels * 3);
    JoinRandom random;
    const JoinGeometry geometry{1, 300, kPixels, kPixels * 3, 0, 1, 2};
    for (auto _ : state) {
        ConvertColor24({{raw.data(), 3, kPixels}, {raw.data() + 1, 3, kPixels}, {raw.data() + 2, 3, kPixels}},
                       kPixels, {maps.data(), maps.data(), maps.data()}, gamma.data(), {0, 1, 2}, out.data());
        RepairLineJoins(out.data(), geometry, JoinLayout::Color24, random);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void Colour48Line(benchmark::State& state) {
    const auto raw = Ramp(kPixels * 2);
    std::vector<uint16_t> white(kPixels, 60000), dark(kPixels, 2000);
    const ShadingReferences refs[3] = {
        {white.data(), dark.data()}, {white.data(), dark.data()}, {white.data(), dark.data()}};
    std::vector<uint16_t> gamma(3 * 65536);
    for (size_t i = 0; i < gamma.size(); ++i) gamma[i] = static_cast<uint16_t>(i);
    std::vector<uint8_t> out(kPixels * 6);
    JoinRandom random;
    const JoinGeometry geometry{1, 300, kPixels, kPixels * 6, 0, 1, 2};
    for (auto _ : state) {
        ConvertColor48({{raw.data(), 2, kPixels}, {raw.data(), 2, kPixels}, {raw.data(), 2, kPixels}},
                       kPixels, refs, gamma.data(), {0, 1, 2}, out.data());
        RepairLineJoins(out.data(), geometry, JoinLayout::Color48, random);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(Colour24Line)->Unit(benchmark::kMicrosecond);
BENCHMARK(Colour48Line)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

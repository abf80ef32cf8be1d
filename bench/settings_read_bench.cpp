// What a large settings file costs a scan: the calibration reads some twenty keys at every
// StartScan. A file that has not changed is read once, not once per key; one written just
// before the reads (so not yet known to be unchanged) is read for every key.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/win32.h"

namespace {

constexpr const char* kKeys[] = {"MIN_DARK",   "MAX_DARK",   "BLACKSHADING", "RAWDATA",    "FACTOR",
                                 "LEVEL2DONE", "L1_R_W_MAX", "L1_G_W_MAX",   "L1_B_W_MAX", "L1_R_W_MIN",
                                 "L1_G_W_MIN", "L1_B_W_MIN", "L2_R_W_MAX",   "L2_G_W_MAX", "L2_B_W_MAX",
                                 "L2_R_W_MIN", "L2_G_W_MIN", "L2_B_W_MIN",   "RGAIN_INIT", "GGAIN_INIT",
                                 "BGAIN_INIT"};

// About 20 MB of comment lines, then the section with one key.
std::string WriteLargeSettings(const char* name) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string filler = "; " + std::string(78, 'x') + "\n";
    for (int i = 0; i < 20 * 1024 * 1024 / 81; ++i) file << filler;
    file << "[ZTK]\nFACTOR=110\n";
    return path;
}

void ReadKeys(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        UINT sum = 0;
        for (const char* key : kKeys) sum += GetPrivateProfileIntA("ZTK", key, 1, path.c_str());
        benchmark::DoNotOptimize(sum);
    }
}

void CalibrationKeysFromAnUnchangedFile(benchmark::State& state) {
    static const std::string path = [] {
        std::string p = WriteLargeSettings("b58-bench-settled.ini");
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // until its times are settled
        return p;
    }();
    ReadKeys(state, path);
}
BENCHMARK(CalibrationKeysFromAnUnchangedFile)->Unit(benchmark::kMillisecond);

void CalibrationKeysFromAFileJustWritten(benchmark::State& state) {
    const std::string path = WriteLargeSettings("b58-bench-fresh.ini");
    ReadKeys(state, path);
}
BENCHMARK(CalibrationKeysFromAFileJustWritten)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

// How fast the virtual scanner produces the image stream of a whole-bed scan, on one core.
#include <benchmark/benchmark.h>

#include <vector>

#include "sim/driver_plan.h"
#include "sim/scanner_model.h"

namespace {

using namespace b58::sim;

void StreamWholeBed(benchmark::State& state, int mode, int dpi) {
    auto model = ScannerModel::WithTestCharts(1);
    HostRequest request;
    request.mode = mode;
    request.resolution = dpi;
    request.right = 2550;
    request.bottom = 3508;
    const ScanWindow window = PlanDriverScan(request).window;
    AfeSettings afe;
    for (size_t c = 0; c < 3; ++c) {
        afe.offset[c] = 51;
        afe.gain[c] = 12;
    }
    std::vector<uint8_t> block(30720);  // the driver's block size
    uint64_t bytes = 0;
    for (auto _ : state) {
        auto stream = MakeImageStream(model, window, afe, kLampFlatbed);
        while (const size_t n = stream->Produce(block.data(), block.size())) {
            benchmark::DoNotOptimize(block.data());
            bytes += n;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

BENCHMARK_CAPTURE(StreamWholeBed, colour24_300dpi_pixel_mode, 2, 300)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StreamWholeBed, colour48_300dpi_line_mode, 10, 300)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StreamWholeBed, grey_300dpi, 1, 300)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StreamWholeBed, colour24_600dpi_line_mode, 2, 600)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

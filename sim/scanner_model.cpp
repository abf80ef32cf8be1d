#include "sim/scanner_model.h"

#include <utility>

#include "sim/bed_layout.h"
#include "sim/image_stream.h"
#include "sim/test_chart.h"

namespace b58::sim {

ScannerModel::ScannerModel(uint64_t seed, BedContents contents)
    : seed_(seed), sensor_(seed), contents_(std::move(contents)) {}

BedContents TestChartContents() {
    BedContents contents;
    contents.document.document = MakeTestChart(bed::kGlassWidth, 3300);
    contents.film.document = MakeTestChart(bed::kFilmWidth, 1200);
    return contents;
}

std::shared_ptr<const ScannerModel> ScannerModel::WithTestCharts(uint64_t seed) {
    return std::make_shared<const ScannerModel>(seed, TestChartContents());
}

std::unique_ptr<StreamSource> MakeImageStream(std::shared_ptr<const ScannerModel> model,
                                              const ScanWindow& window, const AfeSettings& afe,
                                              uint8_t lamps) {
    return std::make_unique<ImageStream>(std::move(model), window, afe, lamps);
}

StreamFactory MakeImageStreamFactory(std::shared_ptr<const ScannerModel> model) {
    return [model = std::move(model)](const ScanWindow& window, const AfeSettings& afe, uint8_t lamps) {
        return MakeImageStream(model, window, afe, lamps);
    };
}

}  // namespace b58::sim

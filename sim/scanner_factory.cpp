#include <exception>

#include "sim/bed_layout.h"
#include "sim/png_io.h"
#include "sim/scanner_model.h"
#include "sim/scanner_options.h"
#include "sim/test_chart.h"
#include "sim/virtual_scanner.h"

namespace b58::sim {

namespace {

// The image model for the options: the documents they name, else the built-in charts.
std::shared_ptr<const ScannerModel> ImageModel(const ScannerConfig& config) {
    BedContents contents;
    contents.document.document = config.image.document.empty()
                                     ? std::shared_ptr<const Document>(MakeTestChart(bed::kGlassWidth, 3300))
                                     : LoadPngDocument(config.image.document, config.image.documentDpi);
    contents.document.left = config.image.documentX;
    contents.document.top = config.image.documentY;
    contents.film.document = config.image.film.empty()
                                 ? std::shared_ptr<const Document>(MakeTestChart(bed::kFilmWidth, 1200))
                                 : LoadPngDocument(config.image.film, config.image.filmDpi);
    return std::make_shared<const ScannerModel>(config.seed, std::move(contents));
}

}  // namespace

std::shared_ptr<usbscan::UsbBackend> CreateVirtualScanner(const std::string& options, std::string* error) {
    ScannerConfig config;
    if (!ParseScannerOptions(options, &config, error)) return nullptr;
    if (!config.streamFactory && !config.image.placeholder) {
        try {
            config.streamFactory = MakeImageStreamFactory(ImageModel(config));
        } catch (const std::exception& e) {
            if (error != nullptr) *error = std::string("virtual scanner: ") + e.what();
            return nullptr;
        }
    }
    return std::make_shared<VirtualScanner>(std::move(config));
}

}  // namespace b58::sim

#include <exception>

#include "sim/png_io.h"
#include "sim/scanner_model.h"
#include "sim/scanner_options.h"
#include "sim/virtual_scanner.h"

namespace b58::sim {

namespace {

// The image model for the options: the documents they name, else the built-in charts.
std::shared_ptr<const ScannerModel> ImageModel(const ScannerConfig& config) {
    BedContents contents = TestChartContents();
    if (!config.image.document.empty()) {
        contents.document.document = LoadPngDocument(config.image.document, config.image.documentDpi);
    }
    contents.document.left = config.image.documentX;
    contents.document.top = config.image.documentY;
    if (!config.image.film.empty())
        contents.film.document = LoadPngDocument(config.image.film, config.image.filmDpi);
    return std::make_shared<const ScannerModel>(config.seed, std::move(contents));
}

}  // namespace

std::unique_ptr<VirtualScanner> MakeVirtualScanner(const std::string& options, std::string* error) {
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
    return std::make_unique<VirtualScanner>(std::move(config));
}

std::shared_ptr<usbscan::UsbBackend> CreateVirtualScanner(const std::string& options, std::string* error) {
    return MakeVirtualScanner(options, error);
}

}  // namespace b58::sim

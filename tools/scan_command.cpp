#include "scan_command.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "scan_runner.h"
#include "scanner_session.h"

namespace b58::tools {
namespace {

constexpr int kBarWidth = 40;

bool ParseUnsigned(const std::string& text, uint32_t max, uint32_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    return value <= max;
}

}  // namespace

bool PaperSize(const std::string& name, uint16_t& width, uint16_t& height) {
    struct Paper {
        const char* name;
        uint16_t width, height;
    };
    static constexpr Paper kPapers[] = {
        {"a4", 2480, 3508},     {"a5", 1748, 2480},    {"a6", 1240, 1748},    {"b5", 2079, 2953},
        {"letter", 2550, 3300}, {"legal", 2550, 4200}, {"photo", 1200, 1800},  // 4 x 6 in
    };
    for (const Paper& paper : kPapers) {
        if (name == paper.name) {
            width = paper.width;
            height = paper.height;
            return true;
        }
    }
    return false;
}

bool ApplyScanOption(const std::string& name, const std::string& value, ScanCommandOptions& options,
                     std::string& error) {
    if (name == "--size") {
        uint16_t width = 0, height = 0;
        if (!PaperSize(value, width, height)) {
            error = "size '" + value + "' is not a4, a5, a6, b5, letter, legal or photo";
            return false;
        }
        options.request.left = 0;
        options.request.top = 0;
        options.request.right = width;
        options.request.bottom = height;
    } else if (name == "--threshold") {
        uint32_t threshold = 0;
        if (!ParseUnsigned(value, 255, threshold)) {
            error = "threshold '" + value + "' is not a number from 0 to 255";
            return false;
        }
        options.threshold = static_cast<uint16_t>(threshold);
    } else if (name == "--output") {
        if (ImageFormatForPath(value).empty()) {
            error = "output '" + value + "' does not end in .png, .tif, .tiff, .pnm, .pbm, .pgm or .ppm";
            return false;
        }
        options.output = value;
    } else {
        return ApplyRequestOption(name, value, options.request, error);
    }
    return true;
}

ScannedImage ImageForRequest(uint16_t mode, uint32_t lineBytes, uint32_t xDpi, uint32_t yDpi) {
    ScannedImage image;
    image.xDpi = xDpi;
    image.yDpi = yDpi;
    switch (mode) {
        case ModeLineArt:
            image.kind = PixelKind::Bilevel;
            image.width = lineBytes * 8;
            break;
        case ModeColor24:
            image.kind = PixelKind::Rgb24;
            image.width = lineBytes / 3;
            break;
        case ModeColor48:
            image.kind = PixelKind::Rgb48;
            image.width = lineBytes / 6;
            break;
        default:
            image.kind = PixelKind::Gray8;
            image.width = lineBytes;
            break;
    }
    return image;
}

namespace {

// Collects the scan's lines for the image file writers.
class ImageCollector : public host::LineSink {
  public:
    explicit ImageCollector(ScannedImage& image) : image_(image) {}
    bool Begin(const host::ImageFormat& format, std::string&) override {
        image_.kind = format.kind;
        image_.width = format.width;
        image_.xDpi = format.xDpi;
        image_.yDpi = format.yDpi;
        image_.pixels.reserve(host::RowBytes(format) * format.height);
        return true;
    }
    bool WriteLine(const uint8_t* row, std::string&) override {
        image_.pixels.insert(image_.pixels.end(), row, row + image_.RowBytes());
        return true;
    }
    bool End(uint32_t lines, std::string&) override {
        image_.height = lines;
        return true;
    }

  private:
    ScannedImage& image_;
};

host::ScanDescription Describe(const ScanCommandOptions& options) {
    const ScanRequestOptions& r = options.request;
    host::ScanDescription d;
    d.mode = r.mode == ModeLineArt ? host::ColorMode::Lineart
             : r.mode == ModeGray  ? host::ColorMode::Gray
                                   : host::ColorMode::Color;
    d.depth = r.mode == ModeLineArt ? 1 : r.mode == ModeColor48 ? 16 : 8;
    d.resolution = r.resolution;
    d.source = static_cast<host::ScanSource>(r.source);
    const double mm = host::kMmPerInch / host::kAreaUnitsPerInch;
    d.area = {r.left * mm, r.top * mm, (r.right - r.left) * mm, (r.bottom - r.top) * mm};
    d.threshold = options.threshold;
    return d;
}

}  // namespace

int RunScan(const DriverEntryPoints& driver, const ScanCommandOptions& options,
            const std::atomic<bool>& cancel, std::ostream& out, std::ostream& progress) {
    ScannerSession session(driver);
    if (int status = session.Open(progress); status != kExitOk) return status;

    host::ScanCancel stopper;
    int shownPercent = -1;
    host::ScanHooks hooks;
    hooks.progress = [&](uint32_t lines, uint32_t total) {
        if (cancel.load()) stopper.Request();
        const int percent =
            static_cast<int>(std::min<uint64_t>(100, uint64_t{lines} * 100 / std::max(1u, total)));
        if (percent == shownPercent) return;
        shownPercent = percent;
        const int filled = percent * kBarWidth / 100;
        progress << "\rscanning [" << std::string(filled, '#') << std::string(kBarWidth - filled, ' ') << "] "
                 << percent << "% " << lines << "/" << total << " lines" << std::flush;
    };
    if (cancel.load()) stopper.Request();
    ScannedImage image;
    ImageCollector collector(image);
    const host::ScanOutcome outcome = host::RunScan(driver, Describe(options), collector, stopper, hooks);
    if (outcome.end == host::ScanEnd::Refused || outcome.end == host::ScanEnd::SinkFailed) {
        progress << "b58scan: " << outcome.message << "\n";
        return kExitCommandFailed;
    }
    progress << "\n";
    const bool cancelled = outcome.end == host::ScanEnd::Cancelled;
    if (outcome.lines == 0) {
        progress << "b58scan: no lines were scanned" << (cancelled ? " (cancelled)" : "") << "\n";
        return cancelled ? kExitCancelled : kExitCommandFailed;
    }
    std::string error;
    if (!WriteImageFile(image, options.output, error)) {
        progress << "b58scan: " << error << "\n";
        return kExitCommandFailed;
    }
    out << "image: " << options.output << " (" << image.width << " x " << image.height << " pixels, "
        << image.xDpi << " x " << image.yDpi << " dpi)\n";
    if (cancelled) {
        progress << "b58scan: cancelled after " << outcome.lines << " of " << outcome.format.height
                 << " lines\n";
        return kExitCancelled;
    }
    if (outcome.end == host::ScanEnd::Failed) {
        progress << "b58scan: " << outcome.message << "\n";
        return kExitCommandFailed;
    }
    return kExitOk;
}

}  // namespace b58::tools

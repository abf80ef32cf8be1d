#include "scan_command.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "scanner_session.h"

namespace b58::tools {
namespace {

// Lines asked for per ReadScannedData call: the driver calls the progress routine at the
// first line of each call, so cancelling takes effect within this many lines.
constexpr uint16_t kLinesPerRead = 100;
constexpr int kBarWidth = 40;

// What the progress routine sees; the driver's routine takes no context, and one scan runs
// at a time.
struct ProgressState {
    const std::atomic<bool>* cancel = nullptr;
    std::ostream* bar = nullptr;
    uint32_t linesBefore = 0;  // delivered by earlier ReadScannedData calls
    uint32_t imageLines = 0;
    int shownPercent = -1;
};
ProgressState g_progress;

void ShowProgress(uint32_t lines) {
    ProgressState& p = g_progress;
    if (p.bar == nullptr || p.imageLines == 0) return;
    const int percent = static_cast<int>(std::min<uint64_t>(100, uint64_t{lines} * 100 / p.imageLines));
    if (percent == p.shownPercent) return;
    p.shownPercent = percent;
    const int filled = percent * kBarWidth / 100;
    *p.bar << "\rscanning [" << std::string(filled, '#') << std::string(kBarWidth - filled, ' ') << "] "
           << percent << "% " << lines << "/" << p.imageLines << " lines" << std::flush;
}

int32_t B58_CALLBACK OnProgress(int32_t linesDone) {
    ShowProgress(g_progress.linesBefore + static_cast<uint32_t>(linesDone));
    return g_progress.cancel != nullptr && g_progress.cancel->load() ? 0 : 1;
}

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

int RunScan(const DriverEntryPoints& driver, const ScanCommandOptions& options,
            const std::atomic<bool>& cancel, std::ostream& out, std::ostream& progress) {
    ScannerSession session(driver);
    if (int status = session.Open(progress); status != kExitOk) return status;

    const ScanRequestOptions& request = options.request;
    ScanParameters parameters = {};
    parameters.Left = request.left;
    parameters.Top = request.top;
    parameters.Right = request.right;
    parameters.Bottom = request.bottom;
    parameters.Resolution = request.resolution;
    parameters.ScanMode = request.mode;
    parameters.Threshold = options.threshold;
    parameters.ScanSource = request.source;
    if (driver.setParameters(&parameters) == 0) {
        if (parameters.Status == kStatusDeviceFailed)
            progress << "b58scan: the scanner does not answer (status " << parameters.Status << ")\n";
        else
            progress << "b58scan: the driver did not accept the request (status " << parameters.Status
                     << ")\n";
        return kExitCommandFailed;
    }
    ScanParametersInfo info = {};
    driver.getParameters(&info);
    ScannedImage image = ImageForRequest(request.mode, info.LineBytes, info.RXDPI, info.RYDPI);
    const uint32_t lineBytes = info.LineBytes;
    if (lineBytes == 0 || image.width == 0 || info.ImageLines == 0) {
        progress << "b58scan: the driver reports an empty image\n";
        StopRecord stop = {};
        driver.stopScan(&stop);
        return kExitCommandFailed;
    }
    image.pixels.resize(size_t{lineBytes} * info.ImageLines);

    g_progress = ProgressState{};
    g_progress.cancel = &cancel;
    g_progress.bar = &progress;
    g_progress.imageLines = info.ImageLines;

    ScanStartRecord start = {};
    start.ProgressCallback = OnProgress;
    if (driver.startScan(&start) == 0) {
        StopRecord stop = {};
        driver.stopScan(&stop);  // frees what the request allocated
        if (start.Status == kStatusDeviceFailed)
            progress << "b58scan: the scanner does not answer (status " << start.Status << ")\n";
        else
            progress << "b58scan: the scan did not start (status " << start.Status << ")\n";
        return kExitCommandFailed;
    }

    uint32_t lines = 0;
    bool cancelled = false, failed = false;
    while (lines < info.ImageLines) {
        ReadRequest read = {};
        read.LinesWanted = static_cast<uint16_t>(std::min<uint32_t>(kLinesPerRead, info.ImageLines - lines));
        read.Buffer = image.pixels.data() + size_t{lines} * lineBytes;
        g_progress.linesBefore = lines;
        const int32_t result = driver.readScannedData(&read);
        lines += read.LinesDone;
        ShowProgress(lines);
        if (result == 0 || read.Status == kStatusNoFurtherLine) {
            failed = lines < info.ImageLines;
            break;
        }
        if (read.Status == kStatusStoppedByHost) {
            cancelled = true;
            break;
        }
    }
    StopRecord stop = {};
    driver.stopScan(&stop);
    progress << "\n";
    g_progress = ProgressState{};

    image.height = lines;
    image.pixels.resize(size_t{lines} * lineBytes);
    if (lines == 0) {
        progress << "b58scan: no lines were scanned" << (cancelled ? " (cancelled)" : "") << "\n";
        return cancelled ? kExitCancelled : kExitCommandFailed;
    }
    std::string error;
    if (!WriteImageFile(image, options.output, error)) {
        progress << "b58scan: " << error << "\n";
        return kExitCommandFailed;
    }
    out << "image: " << options.output << " (" << image.width << " x " << image.height << " pixels, "
        << info.RXDPI << " x " << info.RYDPI << " dpi)\n";
    if (cancelled) {
        progress << "b58scan: cancelled after " << lines << " of " << info.ImageLines << " lines\n";
        return kExitCancelled;
    }
    if (failed) {
        progress << "b58scan: the scanner delivered only " << lines << " of " << info.ImageLines
                 << " lines\n";
        return kExitCommandFailed;
    }
    return kExitOk;
}

}  // namespace b58::tools

#include "scan_runner.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "line_shaper.h"
#include "tone_curve.h"

namespace b58::host {
namespace {

// The driver's progress routine takes no context; one scan runs at a time.
std::atomic<const ScanCancel*> g_activeCancel{nullptr};

int32_t B58_CALLBACK OnDriverProgress(int32_t) {
    const ScanCancel* cancel = g_activeCancel.load(std::memory_order_acquire);
    return cancel != nullptr && cancel->Requested() ? 0 : 1;
}

struct ActiveScan {
    explicit ActiveScan(const ScanCancel& cancel) {
        g_activeCancel.store(&cancel, std::memory_order_release);
    }
    ~ActiveScan() { g_activeCancel.store(nullptr, std::memory_order_release); }
};

// Area shifts are made in multiples of 6 units, the driver's window alignment, so that a
// wider window delivers the same pixels at the same places.
uint32_t AlignedUnits(double units) {
    return static_cast<uint32_t>(std::ceil(units / 6)) * 6;
}

uint32_t PixelsInLine(PixelKind kind, uint32_t lineBytes) {
    switch (kind) {
        case PixelKind::Bilevel:
            return lineBytes * 8;
        case PixelKind::Gray8:
            return lineBytes;
        case PixelKind::Rgb24:
            return lineBytes / 3;
        case PixelKind::Rgb48:
            return lineBytes / 6;
    }
    return 0;
}

// The window that goes to the driver: the requested one, widened where the driver's corner
// offset would leave part of the area outside what it delivers.
struct Window {
    ScanParameters request;
    uint32_t extraLeft = 0, extraTop = 0;  // units added before the requested corner
    CornerOffset offset;
};

Window WidenForOffsets(const ScanParameters& asked, const CornerOffsets& offsets) {
    Window w{asked, 0, 0, offsets(asked)};
    const double rx = asked.Resolution >= 600 ? 300 : asked.Resolution;
    const double ry = asked.Resolution;
    if (w.offset.pixels == 0 && w.offset.lines == 0) return w;
    // Starting right of or below the corner: begin the window earlier, as far as the bed allows.
    if (w.offset.pixels > 0)
        w.extraLeft = std::min<uint32_t>(asked.Left, AlignedUnits(w.offset.pixels * 300 / rx + 6));
    if (w.offset.lines > 0)
        w.extraTop = std::min<uint32_t>(asked.Top, AlignedUnits(w.offset.lines * 300 / ry + 6));
    w.request.Left = static_cast<uint16_t>(asked.Left - w.extraLeft);
    w.request.Top = static_cast<uint16_t>(asked.Top - w.extraTop);
    w.offset = offsets(w.request);
    // Starting left of or above it: end the window later by as much.
    const uint32_t extraRight = AlignedUnits(std::abs(w.offset.pixels) * 300 / rx + 6);
    const uint32_t extraBottom = AlignedUnits(std::abs(w.offset.lines) * 300 / ry + 6);
    w.request.Right = static_cast<uint16_t>(std::min<uint32_t>(65535, asked.Right + extraRight));
    w.request.Bottom = static_cast<uint16_t>(std::min<uint32_t>(65535, asked.Bottom + extraBottom));
    return w;
}

ScanOutcome Refuse(std::string message) {
    ScanOutcome outcome;
    outcome.end = ScanEnd::Refused;
    outcome.message = std::move(message);
    return outcome;
}

}  // namespace

OpenResult OpenScanner(const DriverEntryPoints& driver) {
    if (driver.open() != 0) return OpenResult::Open;
    // _Close returns the driver's last status: _Open leaves it at 1 when it got the device
    // lock but found no scanner it could start, and untouched (0 in a freshly loaded
    // driver) when another program held the lock for the whole wait.
    return driver.close() == 0 ? OpenResult::InUse : OpenResult::NoScanner;
}

ScanOutcome RunScan(const DriverEntryPoints& driver, const ScanDescription& description, LineSink& sink,
                    const ScanCancel& cancel, const ScanHooks& hooks) {
    PlannedScan plan;
    std::string error;
    if (!PlanScan(description, plan, error)) return Refuse(error);

    const Window window = WidenForOffsets(plan.request, hooks.offsets ? hooks.offsets : ZeroCornerOffset);
    ScanParameters parameters = window.request;
    const std::vector<uint16_t> gamma = BuildGammaTables(description.tone, plan.driverMode);
    // The driver uses the table in place until StopScan; `gamma` outlives the scan.
    parameters.GammaTable = gamma.empty() ? nullptr : const_cast<uint16_t*>(gamma.data());
    if (driver.setParameters(&parameters) == 0) {
        return Refuse("the driver did not accept the request (status " + std::to_string(parameters.Status) +
                      ")");
    }
    ScanParametersInfo info = {};
    driver.getParameters(&info);
    StopRecord stop = {};
    const uint32_t deliveredPixels = PixelsInLine(plan.kind, info.LineBytes);
    if (info.RXDPI == 0 || info.RYDPI == 0 || deliveredPixels == 0 || info.ImageLines == 0) {
        driver.stopScan(&stop);  // frees what the request allocated
        return Refuse("the driver reports an empty image");
    }

    // Square pixels at the resolution down; the driver may deliver fewer across.
    const uint32_t scale = std::max<uint32_t>(1, info.RYDPI / info.RXDPI);
    const ScanParameters& asked = plan.request;
    ImageFormat format;
    format.kind = plan.kind;
    format.xDpi = format.yDpi = info.RYDPI;
    format.width = uint32_t{static_cast<uint16_t>(asked.Right - asked.Left)} * info.RYDPI / 300;
    format.height = uint32_t{static_cast<uint16_t>(asked.Bottom - asked.Top)} * info.RYDPI / 300;
    format.polarity = description.polarity;

    LineShape shape;
    shape.kind = plan.kind;
    shape.deliveredPixels = deliveredPixels;
    // Fractional offsets (half lines at some resolutions) round to the nearest delivered line.
    shape.firstColumn =
        static_cast<int32_t>(std::lround(window.extraLeft * static_cast<double>(info.RXDPI) / 300) -
                             std::lround(window.offset.pixels));
    shape.scale = scale;
    shape.width = format.width;
    shape.columns = (format.width + scale - 1) / scale;
    shape.invertBilevel = description.polarity == BilevelPolarity::OneIsBlack;
    const int64_t firstRow = std::lround(window.extraTop * static_cast<double>(info.RYDPI) / 300) -
                             std::lround(window.offset.lines);
    LineShaper shaper(shape);

    ScanOutcome outcome;
    outcome.format = format;
    outcome.driverXDpi = info.RXDPI;
    outcome.driverYDpi = info.RYDPI;
    if (format.width == 0 || format.height == 0) {
        driver.stopScan(&stop);
        return Refuse("the scan area is smaller than one pixel");
    }
    if (!sink.Begin(format, error)) {
        driver.stopScan(&stop);
        outcome.end = ScanEnd::SinkFailed;
        outcome.message = error;
        return outcome;
    }

    ActiveScan active(cancel);
    ScanStartRecord start = {};
    start.ProgressCallback = OnDriverProgress;
    if (driver.startScan(&start) == 0) {
        driver.stopScan(&stop);
        sink.End(0, error);
        return Refuse("the scan did not start (calibration or the scanner failed)");
    }

    const uint16_t perRead = std::max<uint16_t>(1, hooks.linesPerRead);
    std::vector<uint8_t> delivered(size_t{perRead} * info.LineBytes);
    std::vector<uint8_t> row(shaper.OutputBytes());
    uint32_t read = 0, emitted = 0;
    bool sinkFailed = false, driverFailed = false;
    auto emit = [&](const uint8_t* line) {
        if (emitted < format.height && !sinkFailed) {
            sinkFailed = !sink.WriteLine(line, error);
            if (!sinkFailed) ++emitted;
        }
    };
    while (read < info.ImageLines && emitted < format.height && !sinkFailed) {
        if (cancel.Requested()) break;
        ReadRequest request = {};
        request.LinesWanted = static_cast<uint16_t>(std::min<uint32_t>(perRead, info.ImageLines - read));
        request.Buffer = delivered.data();
        const int32_t result = driver.readScannedData(&request);
        const uint32_t got = std::min<uint32_t>(request.LinesDone, request.LinesWanted);
        for (uint32_t i = 0; i < got; ++i, ++read) {
            const int64_t areaRow = static_cast<int64_t>(read) - firstRow;
            if (areaRow < 0) continue;
            shaper.Shape(delivered.data() + size_t{i} * info.LineBytes, row.data());
            // The driver's image starts below the corner: repeat its first line down to it.
            for (int64_t pad = (emitted == 0 ? areaRow : 0); pad > 0; --pad) emit(row.data());
            emit(row.data());
        }
        if (hooks.progress) hooks.progress(emitted, format.height);
        if (request.Status == kStatusStoppedByHost) break;
        if (result == 0 || request.Status == kStatusNoFurtherLine || got < request.LinesWanted) {
            driverFailed = read < info.ImageLines;
            break;
        }
    }
    driver.stopScan(&stop);

    // The driver delivered its whole image but the corner offset leaves the area a few
    // lines short: repeat the last line.
    if (!sinkFailed && !driverFailed && !cancel.Requested() && read >= info.ImageLines && emitted > 0) {
        while (emitted < format.height && !sinkFailed) emit(row.data());
    }
    outcome.lines = emitted;
    if (sinkFailed) {
        outcome.end = ScanEnd::SinkFailed;
        outcome.message = error;
        std::string ignored;
        sink.End(emitted, ignored);
        return outcome;
    }
    if (emitted == format.height) {
        outcome.end = ScanEnd::Complete;
    } else if (cancel.Requested()) {
        outcome.end = ScanEnd::Cancelled;
    } else {
        outcome.end = ScanEnd::Failed;
        outcome.message = "the scanner delivered only " + std::to_string(emitted) + " of " +
                          std::to_string(format.height) + " lines";
    }
    if (!sink.End(emitted, error)) {
        outcome.end = ScanEnd::SinkFailed;
        outcome.message = error;
    }
    return outcome;
}

}  // namespace b58::host

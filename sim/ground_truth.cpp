#include "sim/ground_truth.h"

#include <algorithm>
#include <array>
#include <vector>

#include "sim/bed_layout.h"
#include "sim/bed_scene.h"
#include "sim/even_spread.h"
#include "sim/window_reading.h"

namespace b58::sim {

namespace {

struct RowSpec {
    int64_t top600;
    int height600;
};

SampleImage Render(const ScannerModel& model, std::vector<int64_t> pixels, const std::vector<RowSpec>& rows,
                   bool colour, int bitDepth, bool flatbedLight, bool taLight) {
    SampleImage image;
    image.width = static_cast<int>(pixels.size());
    image.height = static_cast<int>(rows.size());
    image.channels = colour ? 3 : 1;
    image.bitDepth = bitDepth;
    image.samples.resize(static_cast<size_t>(image.width) * image.height * image.channels);
    const size_t n = pixels.size();
    BedScene scene(model.Contents(), std::move(pixels));
    std::array<std::vector<float>, 3> light;
    std::array<std::vector<float>, 3> sum;
    for (size_t c = 0; c < 3; ++c) {
        light[c].resize(n);
        sum[c].resize(n);
    }
    float* lp[3] = {light[0].data(), light[1].data(), light[2].data()};
    const float full = bitDepth == 16 ? 65535.0f : 255.0f;
    for (size_t y = 0; y < rows.size(); ++y) {
        const LineAperture a{rows[y].top600, rows[y].height600};
        for (auto& s : sum) std::fill(s.begin(), s.end(), 0.0f);
        if (flatbedLight) {
            scene.Reflectance(a, lp);
            for (size_t c = 0; c < 3; ++c) {
                for (size_t i = 0; i < n; ++i) sum[c][i] += light[c][i];
            }
        }
        if (taLight) {
            scene.Transmittance(a, lp);
            for (size_t c = 0; c < 3; ++c) {
                for (size_t i = 0; i < n; ++i) sum[c][i] += light[c][i];
            }
        }
        uint16_t* out = image.samples.data() + y * n * image.channels;
        for (size_t i = 0; i < n; ++i) {
            if (colour) {
                for (size_t c = 0; c < 3; ++c) {
                    out[3 * i + c] = static_cast<uint16_t>(std::clamp(sum[c][i], 0.0f, 1.0f) * full + 0.5f);
                }
            } else {
                const float g = (sum[0][i] + sum[1][i] + sum[2][i]) / 3.0f;
                out[i] = static_cast<uint16_t>(std::clamp(g, 0.0f, 1.0f) * full + 0.5f);
            }
        }
    }
    return image;
}

}  // namespace

SampleImage ScannedTruth(const ScannerModel& model, const ScanWindow& window, uint8_t lamps) {
    const WindowReading reading = ReadWindow(window);
    std::vector<int64_t> pixels(reading.samples);
    for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = SensorPixelOf(reading, static_cast<int64_t>(k));
    std::vector<RowSpec> rows(reading.lines);
    for (size_t y = 0; y < rows.size(); ++y) {
        const LineAperture a = ApertureOf(reading, static_cast<int64_t>(y));
        rows[y] = {a.top600, a.height600};
    }
    SampleImage image = Render(model, std::move(pixels), rows, reading.colour, reading.bytesPerSample * 8,
                               (lamps & kLampFlatbed) != 0, (lamps & kLampTa) != 0);
    image.dpiX = reading.xDpi;
    image.dpiY = reading.yTarget;
    return image;
}

SampleImage RequestedTruth(const ScannerModel& model, const HostRequest& request) {
    const DriverScan scan = PlanDriverScan(request);
    const bool ta = request.source == 1 || request.source == 2 || request.source == 4;
    const int areaLeft = (ta ? bed::kFilmLeft : bed::kGlassLeft) + request.left;
    const int areaTop = (ta ? bed::kTaOriginLine + bed::kFilmTop : bed::kGlassTop) + request.top;
    std::vector<int64_t> pixels(static_cast<size_t>(std::max(0, scan.linePixels)));
    for (size_t k = 0; k < pixels.size(); ++k) {
        pixels[k] = areaLeft + EvenSpreadPosition(static_cast<int64_t>(k), 300, scan.rxDpi);
    }
    const bool fine = scan.ryDpi == 600;
    std::vector<RowSpec> rows(static_cast<size_t>(std::max(0, scan.imageLines)));
    for (size_t y = 0; y < rows.size(); ++y) {
        const int64_t step = EvenSpreadPosition(static_cast<int64_t>(y), fine ? 600 : 300, scan.ryDpi);
        rows[y] = {2 * static_cast<int64_t>(areaTop) + (fine ? step : 2 * step), fine ? 1 : 2};
    }
    SampleImage image =
        Render(model, std::move(pixels), rows, scan.pixelFormat == 4, scan.dataWidth, !ta, ta);
    image.dpiX = scan.rxDpi;
    image.dpiY = scan.ryDpi;
    return image;
}

}  // namespace b58::sim

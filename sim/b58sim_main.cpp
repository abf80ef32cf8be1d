// b58sim: renders what the virtual scanner streams for a window, as the driver receives it,
// and the ideal ground truth of the same window; prints the AFE searches and the offsets
// table.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/bed_layout.h"
#include "sim/calibration_search.h"
#include "sim/driver_plan.h"
#include "sim/ground_truth.h"
#include "sim/png_io.h"
#include "sim/scanner_model.h"
#include "sim/test_chart.h"
#include "sim/window_reading.h"

namespace {

using namespace b58::sim;

constexpr const char* kUsage = R"(usage: b58sim [options]
Renders what the virtual scanner streams for a scan and its ideal ground truth.

What to scan (a host request, turned into a window the way the driver does it):
  --mode lineart|gray|color24|color48   scan mode (default color24)
  --dpi N                 requested resolution (default 300)
  --area L,T,R,B          area in 300-dpi units from the glass (or film) corner
                          (default 0,0,2550,3300 on the flatbed, 0,0,450,1200 on film)
  --source flatbed|ta1|ta2|ta4          (default flatbed)
or a calibration window:
  --strip afe|boundary|shading|dark     the driver's strip for the request above
or a window given field by field (as the scan-window packet carries them):
  --window startPixel,startLine,hwWidth,hwHeight,xDpi,lineBytes,lines,format,mode,dataWidth
How:
  --lamp N                lamps (1 flatbed, 2 adapter, 3 both, 0 none; default by source)
  --afe ro,rg,go,gg,bo,bg AFE codes as sent (default: what the driver's search settles on)
  --seed N                device seed (default 1)
  --document FILE.png     document on the glass (default: the built-in chart)
  --document-dpi N        its resolution (default: the file's, else 300)
  --document-at X,Y       its corner, 300-dpi units from the glass corner (default 0,0)
  --film FILE.png         film in the adapter (default: a built-in chart)
  --film-dpi N
Output:
  --out PREFIX            writes PREFIX-raw.png (the stream: pixel-mode colour as sent,
                          line-mode colour with each row's three colour lines as sent, so
                          the colour lag shows), PREFIX-scanned.png (ideal image of the
                          window) and, for a request, PREFIX-requested.png
  --calibrate             prints the driver's AFE search on this scanner
  --table                 prints the offsets table of every resolution and mode
)";

std::vector<int> Numbers(const std::string& text) {
    std::vector<int> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) out.push_back(std::stoi(item, nullptr, 0));
    return out;
}

void PrintTable() {
    struct Mode {
        const char* name;
        int mode;
    };
    const Mode modes[] = {{"24-bit colour", 2}, {"48-bit colour", 10}, {"grey", 1}, {"line art", 0}};
    for (int source : {0, 1, 2, 4}) {
        std::printf("\n%s\n\n", source == 0 ? "Flatbed (glass corner at pixel 72, line 152)"
                                            : ("Transparency adapter, kind " + std::to_string(source) +
                                               " (film corner at pixel 369, adapter line 318)")
                                                  .c_str());
        std::printf(
            "| resolution | mode | line mode | first pixel (sensor) | first line (600ths) | offset pixels | "
            "offset lines |\n|---|---|---|---|---|---|---|\n");
        for (int dpi : {600, 300, 150, 100, 50}) {
            for (const Mode& m : modes) {
                HostRequest r;
                r.source = source;
                r.resolution = dpi;
                r.mode = m.mode;
                r.right = source == 0 ? 2550 : 450;
                r.bottom = source == 0 ? 3300 : 1200;
                const DriverScan scan = PlanDriverScan(r);
                const WindowReading reading = ReadWindow(scan.window);
                const ScanOffsets o = OffsetsOf(r, scan);
                std::printf("| %d | %s | %s | %d | %lld | %+.2f | %+.2f |\n", dpi, m.name,
                            scan.pixelMode ? "no" : "yes", reading.firstPixel,
                            static_cast<long long>(ApertureOf(reading, 5).top600), o.pixels, o.lines);
            }
        }
    }
}

void PrintSearch(const char* name, const AfeSearchResult& r) {
    std::printf("%s: offsets %d,%d,%d gains %d,%d,%d (sent %d,%d,%d); passes %d,%d,%d,%d%s\n", name,
                r.offset[0], r.offset[1], r.offset[2], r.gain[0], r.gain[1], r.gain[2], r.wire.gain[0],
                r.wire.gain[1], r.wire.gain[2], r.phasePasses[0], r.phasePasses[1], r.phasePasses[2],
                r.headroomPasses, r.outOfRange ? " (left 0..63 on the way)" : "");
    const char* label[3] = {"red", "green", "blue"};
    for (size_t c = 0; c < 3; ++c) {
        std::printf(
            "  %-5s offset phase mid %d; gain phase black %d white %d range %d; last black %d white %d mid "
            "%d\n",
            label[c], r.offsetPhaseEnd[c].midLevel, r.gainPhaseEnd[c].minBlack, r.gainPhaseEnd[c].maxWhite,
            r.gainPhaseEnd[c].maxWhite - r.gainPhaseEnd[c].minBlack, r.last[c].minBlack, r.last[c].maxWhite,
            r.last[c].midLevel);
    }
}

// The stream as an image: one row per delivered line; line-mode colour lines are combined
// into one row per scan line as they arrive, unaligned.
SampleImage RawImage(StreamSource& stream, const WindowReading& reading) {
    SampleImage image;
    image.width = static_cast<int>(reading.samples);
    image.height = static_cast<int>(reading.lines);
    image.channels = reading.colour ? 3 : 1;
    image.bitDepth = reading.bytesPerSample * 8;
    image.dpiX = reading.xDpi;
    image.dpiY = reading.yTarget;
    image.samples.resize(static_cast<size_t>(image.width) * image.height * image.channels);
    std::vector<uint8_t> line(reading.bytesPerScanLine);
    const size_t bps = static_cast<size_t>(reading.bytesPerSample);
    for (int y = 0; y < image.height; ++y) {
        if (stream.Produce(line.data(), line.size()) != line.size()) break;
        for (size_t i = 0; i < reading.samples; ++i) {
            for (size_t c = 0; c < static_cast<size_t>(image.channels); ++c) {
                size_t at = 0;
                if (!reading.colour) {
                    at = i * bps;
                } else if (reading.pixelMode) {
                    at = (3 * i + c) * bps;
                } else {
                    at = c * reading.lineBytes + i * bps;
                }
                const uint16_t v =
                    bps == 2 ? static_cast<uint16_t>(line[at] | (line[at + 1] << 8)) : line[at];
                image.samples[(static_cast<size_t>(y) * image.width + i) * image.channels + c] = v;
            }
        }
    }
    return image;
}

int Run(int argc, char** argv) {
    std::map<std::string, std::string> opt;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--calibrate" || a == "--table") {
            opt[a] = "1";
            continue;
        }
        if (a.rfind("--", 0) != 0 || i + 1 >= argc) {
            std::fprintf(stderr, "b58sim: unexpected argument %s\n%s", a.c_str(), kUsage);
            return 2;
        }
        opt[a] = argv[++i];
    }
    if (opt.count("--table") != 0) {
        PrintTable();
        return 0;
    }

    const uint64_t seed = opt.count("--seed") != 0 ? std::stoull(opt["--seed"], nullptr, 0) : 1;
    BedContents contents = TestChartContents();
    if (opt.count("--document") != 0) {
        const double dpi = opt.count("--document-dpi") != 0 ? std::stod(opt["--document-dpi"]) : 0.0;
        contents.document.document = LoadPngDocument(opt["--document"], dpi);
    }
    if (opt.count("--document-at") != 0) {
        const std::vector<int> at = Numbers(opt["--document-at"]);
        if (at.size() != 2) throw std::runtime_error("--document-at takes X,Y");
        contents.document.left = at[0];
        contents.document.top = at[1];
    }
    if (opt.count("--film") != 0) {
        const double dpi = opt.count("--film-dpi") != 0 ? std::stod(opt["--film-dpi"]) : 0.0;
        contents.film.document = LoadPngDocument(opt["--film"], dpi);
    }
    auto model = std::make_shared<const ScannerModel>(seed, std::move(contents));

    HostRequest request;
    const std::string source = opt.count("--source") != 0 ? opt["--source"] : "flatbed";
    request.source = source == "ta1" ? 1 : source == "ta2" ? 2 : source == "ta4" ? 4 : 0;
    if (source != "flatbed" && request.source == 0) throw std::runtime_error("unknown source " + source);
    const bool ta = request.source != 0;
    if (ta) {
        request.right = 450;
        request.bottom = 1200;
    }
    const std::string mode = opt.count("--mode") != 0 ? opt["--mode"] : "color24";
    request.mode = mode == "lineart"   ? 0
                   : mode == "gray"    ? 1
                   : mode == "color24" ? 2
                   : mode == "color48" ? 10
                                       : -1;
    if (request.mode < 0) throw std::runtime_error("unknown mode " + mode);
    if (opt.count("--dpi") != 0) request.resolution = std::stoi(opt["--dpi"]);
    if (opt.count("--area") != 0) {
        const std::vector<int> a = Numbers(opt["--area"]);
        if (a.size() != 4) throw std::runtime_error("--area takes L,T,R,B");
        request.left = a[0];
        request.top = a[1];
        request.right = a[2];
        request.bottom = a[3];
    }
    const DriverScan scan = PlanDriverScan(request);

    AfeSettings afe;
    if (opt.count("--afe") != 0) {
        const std::vector<int> v = Numbers(opt["--afe"]);
        if (v.size() != 6) throw std::runtime_error("--afe takes six codes");
        for (size_t c = 0; c < 3; ++c) {
            afe.offset[c] = static_cast<uint8_t>(v[2 * c]);
            afe.gain[c] = static_cast<uint8_t>(v[2 * c + 1]);
        }
    } else {
        const AfeSearchResult r =
            ta ? RunTaAfeSearch(model, scan.rxDpi, scan.pixelMode, scan.pixelFormat, request.source)
               : RunFlatbedAfeSearch(model, scan.rxDpi, scan.pixelMode, scan.pixelFormat);
        afe = r.wire;
        if (opt.count("--calibrate") != 0) PrintSearch(ta ? "adapter search" : "flatbed search", r);
    }
    uint8_t lamps = ta ? kLampTa : kLampFlatbed;
    if (opt.count("--lamp") != 0) lamps = static_cast<uint8_t>(std::stoi(opt["--lamp"]));

    ScanWindow window = scan.window;
    bool isRequest = true;
    if (opt.count("--strip") != 0) {
        isRequest = false;
        const std::string strip = opt["--strip"];
        const BoundaryValues b = DeviceBoundaryValues(ta);
        if (strip == "afe") {
            window = CalibrationStripWindow(ta ? DriverSettings{}.taKStartY : DriverSettings{}.kStartY, 2, 0,
                                            3700, scan.rxDpi, scan.pixelMode, scan.pixelFormat, ta,
                                            window.TaTypeCode(), 8);
        } else if (strip == "boundary") {
            window = BoundaryStripWindow(ta, scan.yMaxDpi, scan.lampStep);
        } else if (strip == "shading" || strip == "dark") {
            const int start = ta ? 0 : std::max(0, b.topLine - 73);
            window = CalibrationStripWindow(start, 40, static_cast<int16_t>(scan.window.startPixel),
                                            request.right - request.left, scan.rxDpi, scan.pixelMode,
                                            scan.pixelFormat, ta || strip == "dark", window.TaTypeCode(), 8);
            if (strip == "dark" && opt.count("--lamp") == 0) lamps = 0;
        } else {
            throw std::runtime_error("unknown strip " + strip);
        }
    }
    if (opt.count("--window") != 0) {
        isRequest = false;
        const std::vector<int> v = Numbers(opt["--window"]);
        if (v.size() != 10) throw std::runtime_error("--window takes ten fields");
        window = ScanWindow{};
        window.startPixel = static_cast<uint16_t>(v[0]);
        window.startLine = static_cast<uint16_t>(v[1]);
        window.hwWidth = static_cast<uint16_t>(v[2]);
        window.hwHeight = static_cast<uint16_t>(v[3]);
        window.xDpi = static_cast<uint16_t>(v[4]);
        window.lineBytes = static_cast<uint16_t>(v[5]);
        window.linesToDeliver = static_cast<uint16_t>(v[6]);
        window.formatByte = static_cast<uint8_t>(v[7]);
        window.modeByte = static_cast<uint8_t>(v[8]);
        window.dataWidth = static_cast<uint16_t>(v[9]);
    }

    const WindowReading reading = ReadWindow(window);
    std::printf(
        "window: start pixel %d line %d, %ux%u hardware, %u dpi, %u bytes x %u lines, format 0x%02X, mode "
        "0x%02X, %u bits; AFE %d,%d,%d,%d,%d,%d; lamps %d\n",
        static_cast<int16_t>(window.startPixel), static_cast<int16_t>(window.startLine), window.hwWidth,
        window.hwHeight, window.xDpi, window.lineBytes, window.linesToDeliver, window.formatByte,
        window.modeByte, window.dataWidth, afe.offset[0], afe.gain[0], afe.offset[1], afe.gain[1],
        afe.offset[2], afe.gain[2], lamps);
    std::printf("device: first pixel %d, %u pixels, %u lines, %s, lag %d, %s motor, %llu bytes\n",
                reading.firstPixel, reading.samples, reading.lines,
                reading.colour ? (reading.pixelMode ? "pixel mode" : "line mode") : "one plane",
                reading.colourLag, reading.motor600 ? "600-step" : "300-step",
                static_cast<unsigned long long>(reading.totalBytes));
    if (isRequest) {
        const ScanOffsets o = OffsetsOf(request, scan);
        std::printf("offsets against the request: %+.2f pixels, %+.2f lines\n", o.pixels, o.lines);
    }
    if (opt.count("--out") == 0) return 0;
    const std::string prefix = opt["--out"];
    std::unique_ptr<StreamSource> stream = MakeImageStream(model, window, afe, lamps);
    SavePng(prefix + "-raw.png", RawImage(*stream, reading));
    SavePng(prefix + "-scanned.png", ScannedTruth(*model, window, lamps));
    if (isRequest) SavePng(prefix + "-requested.png", RequestedTruth(*model, request));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "b58sim: %s\n", e.what());
        return 1;
    }
}

#include "command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <optional>

namespace b58::tools {
namespace {

struct Paper {
    const char* name;
    double width, height;  // mm
};
constexpr Paper kPapers[] = {
    {"a4", 210, 297},         {"a5", 148, 210},        {"a6", 105, 148},        {"b5", 176, 250},
    {"letter", 215.9, 279.4}, {"legal", 215.9, 355.6}, {"photo", 101.6, 152.4},  // 4 x 6 in
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Mm(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// What the options of `info` and `scan` hold before they are checked together.
struct RequestValues {
    std::string mode = "Color";
    std::optional<int> depth;
    unsigned resolution = 300;
    std::string source = "flatbed";
    std::optional<double> left, top, width, height;
    std::string units = "mm";
    std::string area;
    std::string size;
    unsigned threshold = 128;
    double gamma = 1, brightness = 0, contrast = 0;
};

void AddRequestOptions(CLI::App* command, RequestValues& v, bool scan) {
    command->add_option("--mode", v.mode, "Lineart, Gray or Color (default Color)")
        ->type_name("MODE")
        ->check(CLI::IsMember({"lineart", "gray", "grey", "color", "colour", "color48", "colour48"},
                              CLI::ignore_case));
    command->add_option("--depth", v.depth, "bits per sample: 1 (Lineart), 8, or 16 (Color)")
        ->check(CLI::IsMember({1, 8, 16}));
    command->add_option("--resolution", v.resolution, "dots per inch (default 300; see 'b58scan info')")
        ->check(CLI::Range(1u, 65535u));
    command->add_option("--source", v.source, "flatbed, ta1, ta2 or ta4 (the transparency adapter)")
        ->check(CLI::IsMember({"flatbed", "ta1", "ta2", "ta4"}, CLI::ignore_case));
    auto* l =
        command->add_option("-l", v.left, "left edge of the area (default 0)")->check(CLI::NonNegativeNumber);
    auto* t =
        command->add_option("-t", v.top, "top edge of the area (default 0)")->check(CLI::NonNegativeNumber);
    auto* x = command->add_option("-x", v.width, "width of the area (default US letter, within the glass)")
                  ->check(CLI::PositiveNumber);
    auto* y = command->add_option("-y", v.height, "height of the area")->check(CLI::PositiveNumber);
    command->add_option("--units", v.units, "units of -l -t -x -y: mm (default) or in")
        ->check(CLI::IsMember({"mm", "in"}));
    auto* area =
        command->add_option("--area", v.area, "LEFT,TOP,RIGHT,BOTTOM in 300-dpi units")->type_name("L,T,R,B");
    auto* size =
        command->add_option("--size", v.size, "a paper size at the corner: a4 a5 a6 b5 letter legal photo")
            ->check(CLI::IsMember({"a4", "a5", "a6", "b5", "letter", "legal", "photo"}, CLI::ignore_case));
    area->excludes(l)->excludes(t)->excludes(x)->excludes(y)->excludes(size);
    size->excludes(x)->excludes(y);
    if (!scan) return;
    command->add_option("--threshold", v.threshold, "line-art threshold, 0-255 (default 128)")
        ->check(CLI::Range(0u, 255u));
    command->add_option("--gamma", v.gamma, "tone curve exponent, 0.1-10 (default 1)")
        ->check(CLI::Range(0.1, 10.0));
    command->add_option("--brightness", v.brightness, "-100 to 100 (default 0)")
        ->check(CLI::Range(-100.0, 100.0));
    command->add_option("--contrast", v.contrast, "-100 to 100 (default 0)")
        ->check(CLI::Range(-100.0, 100.0));
}

// Turns the values into the scan description; false with a message.
bool ResolveRequest(const RequestValues& v, CommandLine& line, std::string& error) {
    host::ScanDescription& d = line.scan;
    const std::string mode = Lower(v.mode);
    d.mode = mode == "lineart"                  ? host::ColorMode::Lineart
             : mode == "gray" || mode == "grey" ? host::ColorMode::Gray
                                                : host::ColorMode::Color;
    d.depth = d.mode == host::ColorMode::Lineart ? 1 : (mode == "color48" || mode == "colour48") ? 16 : 8;
    if (v.depth) {
        if (mode == "color48" || mode == "colour48" ? *v.depth != 16 : false) {
            error = "--depth " + std::to_string(*v.depth) + " contradicts --mode " + v.mode;
            return false;
        }
        d.depth = *v.depth;
    }
    d.resolution = v.resolution;
    const std::string source = Lower(v.source);
    d.source =
        source == "flatbed" ? host::ScanSource::Flatbed : static_cast<host::ScanSource>(source[2] - '0');
    d.threshold = static_cast<uint16_t>(v.threshold);
    d.tone = {v.gamma, v.brightness, v.contrast};

    const host::AreaMm limits = host::ScanLimits(d.source);
    const double unit = v.units == "in" ? host::kMmPerInch : 1;
    host::AreaMm& a = d.area;
    if (!v.area.empty()) {
        ScanRequestOptions units;
        if (!ApplyRequestOption("--area", v.area, units, error)) return false;
        if (units.right <= units.left || units.bottom <= units.top) {
            error = "--area " + v.area + " has its right or bottom edge before its left or top";
            return false;
        }
        const double mm = host::kMmPerInch / host::kAreaUnitsPerInch;
        a = {units.left * mm, units.top * mm, (units.right - units.left) * mm,
             (units.bottom - units.top) * mm};
    } else {
        a.left = v.left.value_or(0) * unit;
        a.top = v.top.value_or(0) * unit;
        const host::AreaMm letter;
        // By default US letter, or the whole aperture of the adapter, cut at the limits.
        const double defaultWidth = d.source == host::ScanSource::Flatbed ? letter.width : limits.width;
        const double defaultHeight = d.source == host::ScanSource::Flatbed ? letter.height : limits.height;
        a.width = v.width ? *v.width * unit : std::min(defaultWidth, limits.width - a.left);
        a.height = v.height ? *v.height * unit : std::min(defaultHeight, limits.height - a.top);
        if (!v.size.empty()) {
            PaperSizeMm(Lower(v.size), a.width, a.height);
            if (a.left + a.width > limits.width + 0.05 || a.top + a.height > limits.height + 0.05) {
                error = Lower(v.size) + " (" + Mm(a.width) + " x " + Mm(a.height) + " mm) does not fit the " +
                        (d.source == host::ScanSource::Flatbed ? "glass" : "film aperture") + " (" +
                        Mm(limits.width) + " x " + Mm(limits.height) + " mm" +
                        (a.left + a.top > 0 ? " less the corner given" : "") + "); give -x and -y instead";
                return false;
            }
        }
    }
    // What `info` shows the driver: the same area in its units, the resolution as asked.
    ScanRequestOptions& r = line.infoRequest;
    r.resolution = static_cast<uint16_t>(std::min(65535u, d.resolution));
    r.mode = d.mode == host::ColorMode::Lineart ? ModeLineArt
             : d.mode == host::ColorMode::Gray  ? ModeGray
             : d.depth == 16                    ? ModeColor48
                                                : ModeColor24;
    r.source = static_cast<uint8_t>(d.source);
    r.left = static_cast<uint16_t>(std::min(65535u, host::MmToUnits(a.left)));
    r.top = static_cast<uint16_t>(std::min(65535u, host::MmToUnits(a.top)));
    r.right = static_cast<uint16_t>(std::min(65535u, host::MmToUnits(a.left + a.width)));
    r.bottom = static_cast<uint16_t>(std::min(65535u, host::MmToUnits(a.top + a.height)));
    return true;
}

// A batch name pattern holds one %d (or %0Nd) and no other conversion.
bool ValidPattern(const std::string& pattern) {
    int numbers = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        size_t j = i + 1;
        if (j < pattern.size() && pattern[j] == '%') {
            i = j;
            continue;
        }
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) ++j;
        if (j >= pattern.size() || pattern[j] != 'd' || j - i > 3) return false;
        ++numbers;
        i = j;
    }
    return numbers == 1;
}

}  // namespace

bool PaperSizeMm(const std::string& name, double& width, double& height) {
    for (const Paper& paper : kPapers) {
        if (name == paper.name) {
            width = paper.width;
            height = paper.height;
            return true;
        }
    }
    return false;
}

std::string DeviceSetting(const CommandLine& line) {
    if (!line.device.empty()) return line.device;
    if (!line.simOptions.empty()) return "sim@0:" + line.simOptions;
    return {};
}

int ParseCommandLine(int argc, const char* const* argv, CommandLine& line, std::ostream& out,
                     std::ostream& err) {
    CLI::App app{"b58scan: scans with the scanner through its driver, as an imaging application does.",
                 "b58scan"};
    app.set_help_flag("-h,--help", "this help; 'b58scan COMMAND --help' for a command's options");
    app.add_flag("-V,--version", line.version, "b58scan's, the driver's and the scanner's versions");
    app.add_option("--driver", line.driverPath, "load the driver from PATH instead of the one beside b58scan")
        ->type_name("PATH");
    auto* device =
        app.add_option("-d,--device", line.device, "the scanners the driver sees (B58_DEVICES, e.g. sim@0)");
    std::string simDocument, simFilm, simAt;
    unsigned simDpi = 0;
    auto* document =
        app.add_option("--sim-document", simDocument, "virtual scanner: a PNG document on the glass")
            ->type_name("FILE.png");
    auto* dpi = app.add_option("--sim-dpi", simDpi, "virtual scanner: the document's resolution")
                    ->check(CLI::Range(1u, 4800u));
    auto* at = app.add_option("--sim-at", simAt,
                              "virtual scanner: the document's corner, X:Y in mm from the glass's")
                   ->type_name("X:Y");
    auto* film =
        app.add_option("--sim-film", simFilm, "virtual scanner: a PNG film in the adapter's aperture")
            ->type_name("FILE.png");
    for (CLI::Option* sim : {document, dpi, at, film}) sim->excludes(device);
    dpi->needs(document);
    at->needs(document);
    app.require_subcommand(0, 1);
    app.footer(
        "Exit status: 0 done, 1 driver unusable, 2 usage, 3 no scanner, 4 scanner in use,\n"
        "5 the scanner refused or failed the command, 6 scan cancelled (the partial image is kept).");

    RequestValues infoValues, scanValues;
    CLI::App* info = app.add_subcommand("info",
                                        "the driver, its entry points, the scanner, the resolutions it "
                                        "delivers, and what the driver makes of a request");
    AddRequestOptions(info, infoValues, false);
    CLI::App* scan = app.add_subcommand("scan", "scan into a file or to standard output");
    AddRequestOptions(scan, scanValues, true);
    std::string format;
    bool progress = false, quiet = false;
    std::string batch;
    scan->add_option("-o,--output", line.output,
                     "the image file; - for standard output (PNM unless --format)")
        ->type_name("FILE");
    scan->add_option("--format", format, "pnm, png, tiff, jpeg or pdf (default: by the file's extension)")
        ->check(CLI::IsMember({"pnm", "pbm", "pgm", "ppm", "png", "tif", "tiff", "jpg", "jpeg", "pdf"},
                              CLI::ignore_case));
    scan->add_option("--png-level", line.writer.pngLevel, "PNG compression, 0-9 (default 1: fast)")
        ->check(CLI::Range(0, 9));
    scan->add_option("--quality", line.writer.jpegQuality, "JPEG quality, also in PDF, 1-100 (default 85)")
        ->check(CLI::Range(1, 100));
    auto* batchOption =
        scan->add_option("--batch", batch, "one file per page, named by PATTERN's %d (default page%d.EXT)")
            ->expected(0, 1)
            ->type_name("PATTERN");
    scan->add_option("--batch-count", line.batchCount,
                     "pages to scan (default 1; several into a TIFF, PDF or PNM)")
        ->check(CLI::Range(1u, 9999u));
    scan->add_flag("--batch-prompt", line.batchPrompt,
                   "before each page, wait for Enter or the scanner's key");
    auto* progressFlag =
        scan->add_flag("-p,--progress", progress, "show progress also when not on a terminal");
    scan->add_flag("-q,--quiet", quiet, "no progress and no notices")->excludes(progressFlag);
    for (const char* name : {"key", "home", "status"}) {
        const char* what = std::string(name) == "key"    ? "whether the scanner's key has been pressed"
                           : std::string(name) == "home" ? "move the carriage home"
                                                         : "whether the scanner answers";
        app.add_subcommand(name, what);
    }
    CLI::App* lamp = app.add_subcommand("lamp", "switch the light of the current source");
    std::string lampState;
    lamp->add_option("state", lampState, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
    for (CLI::App* command : app.get_subcommands({})) command->fallthrough();

    auto usage = [&](const std::string& message) {
        const CLI::App* where = app.get_subcommands().empty() ? nullptr : app.get_subcommands().front();
        err << "b58scan: " << message << " (see 'b58scan "
            << (where ? where->get_name() + " " : std::string()) << "--help')\n";
        return kExitUsage;
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        return usage(e.what());
    }

    if (!app.get_subcommands().empty()) line.command = app.get_subcommands().front()->get_name();
    if (line.command.empty() && !line.version) return usage("no command given");
    line.lampOn = lampState == "on";

    if (!simDocument.empty() || !simFilm.empty()) {
        for (const std::string* file : {&simDocument, &simFilm}) {
            if (file->empty()) continue;
            if (file->find(',') != std::string::npos)
                return usage("--sim files cannot have a comma in their name");
            if (!std::filesystem::exists(*file)) return usage("there is no file " + *file);
        }
        std::string options;
        auto add = [&options](const std::string& item) { options += (options.empty() ? "" : ",") + item; };
        if (!simDocument.empty()) add("document=" + simDocument);
        if (simDpi != 0) add("document_dpi=" + std::to_string(simDpi));
        if (!simAt.empty()) {
            double x = 0, y = 0;
            char colon = 0, rest = 0;
            if (std::sscanf(simAt.c_str(), "%lf%c%lf%c", &x, &colon, &y, &rest) != 3 || colon != ':' ||
                x < 0 || y < 0) {
                return usage("--sim-at " + simAt + " is not X:Y in millimetres");
            }
            add("document_at=" + std::to_string(host::MmToUnits(x)) + ":" +
                std::to_string(host::MmToUnits(y)));
        }
        if (!simFilm.empty()) add("film=" + simFilm);
        line.simOptions = options;
    }

    std::string error;
    if (line.command == "info" && !ResolveRequest(infoValues, line, error)) return usage(error);
    if (line.command != "scan") return -1;
    if (!ResolveRequest(scanValues, line, error)) return usage(error);
    if (line.scan.mode == host::ColorMode::Lineart && line.scan.depth != 1)
        return usage("Lineart scans have --depth 1");
    if (line.scan.mode != host::ColorMode::Lineart && line.scan.depth == 1)
        return usage("--depth 1 is for --mode Lineart");
    if (line.scan.mode == host::ColorMode::Gray && line.scan.depth == 16) {
        return usage("16-bit grey is not available; use --mode Color --depth 16");
    }
    host::PlannedScan plan;
    if (!host::PlanScan(line.scan, plan, error)) return usage(error);
    line.progress = quiet ? ProgressStyle::Quiet : progress ? ProgressStyle::Shown : ProgressStyle::Auto;

    // The format: --format, else the file's extension, else PNM (standard output).
    if (line.output.empty()) line.output = "-";
    if (!format.empty()) {
        ParseFormat(format, line.format);
    } else if (batchOption->count() > 0 && !batch.empty()) {
        if (!FormatForPath(batch, line.format))
            return usage("--batch " + batch + ": give a known extension or --format");
    } else if (line.output != "-" && !FormatForPath(line.output, line.format)) {
        return usage("cannot tell the format of " + line.output +
                     ": give --format or a .pnm .png .tif .jpg .pdf name");
    }
    if (!FormatAvailable(line.format)) {
        return usage(std::string("this build of b58scan cannot write ") + FormatName(line.format) +
                     " (built without its library); write pnm");
    }
    if (batchOption->count() > 0) {
        line.batchPattern = batch.empty() ? std::string("page%d.") + FormatName(line.format) : batch;
        if (!ValidPattern(line.batchPattern)) return usage("--batch " + line.batchPattern + " needs one %d");
        if (scan->get_option("--output")->count() > 0)
            return usage("--batch and --output exclude each other");
    } else if ((line.batchCount > 1 || line.batchPrompt) && !FormatHoldsPages(line.format)) {
        return usage(std::string(FormatName(line.format)) + " holds one page: give --batch=page%d." +
                     FormatName(line.format) + " for several");
    }
    if (line.batchPrompt && scan->get_option("--batch-count")->count() == 0) line.batchCount = 9999;
    return -1;
}

}  // namespace b58::tools

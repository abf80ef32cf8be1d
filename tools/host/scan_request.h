// A scan described as a user or a SANE frontend describes it (mode, depth, resolution,
// source, area in millimetres), and the driver request built from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/exports.h"
#include "image_format.h"

namespace b58::host {

enum class ColorMode { Lineart, Gray, Color };
enum class ScanSource : uint8_t { Flatbed = 0, Adapter1 = 1, Adapter2 = 2, Adapter4 = 4 };

// Millimetres per inch and the driver's area unit (1/300 inch).
inline constexpr double kMmPerInch = 25.4;
inline constexpr double kAreaUnitsPerInch = 300;

struct AreaMm {
    double left = 0, top = 0;
    double width = 215.9, height = 279.4;  // US letter
};

// The tone curve the host hands the driver as its gamma tables; identity by default.
struct ToneControls {
    double gamma = 1.0;     // > 0; output = input ^ (1 / gamma)
    double brightness = 0;  // -100 .. 100, percent of full scale added
    double contrast = 0;    // -100 .. 100, percent steeper (or flatter) about mid-grey
    bool Identity() const { return gamma == 1.0 && brightness == 0 && contrast == 0; }
};

struct ScanDescription {
    ColorMode mode = ColorMode::Color;
    int depth = 8;              // 1 for line art; 8; 16 for colour
    unsigned resolution = 300;  // dpi asked for
    ScanSource source = ScanSource::Flatbed;
    AreaMm area;
    uint16_t threshold = 128;  // line art
    ToneControls tone;
    BilevelPolarity polarity = BilevelPolarity::OneIsWhite;
};

// What may be scanned from a source, in millimetres from its corner: the flatbed's glass,
// the transparency adapter's film aperture.
AreaMm ScanLimits(ScanSource source);

// The resolutions the driver delivers (after the host makes pixels square), ascending.
const std::vector<unsigned>& DeliveredResolutions();
// The resolution a request of `dpi` is delivered at: the driver rounds down to the next
// delivered resolution (and everything above the highest to the highest; below the lowest
// to the lowest).
unsigned DeliveredResolution(unsigned dpi);

// Millimetres to the driver's 300-dpi units, to the nearest unit.
uint32_t MmToUnits(double mm);

struct PlannedScan {
    ScanParameters request = {};  // for SetParameters (GammaTable left null)
    unsigned resolution = 0;      // delivered resolution, across and down
    uint32_t width = 0;           // pixels of the exact area at that resolution
    uint32_t height = 0;          // lines
    uint16_t driverMode = ModeColor24;
    PixelKind kind = PixelKind::Rgb24;
};

// Checks the description (mode and depth, resolution, area within the source's limits) and
// builds the request. False with a one-line message in `error`.
bool PlanScan(const ScanDescription& description, PlannedScan& plan, std::string& error);

}  // namespace b58::host

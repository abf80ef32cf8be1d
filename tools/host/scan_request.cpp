#include "scan_request.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace b58::host {
namespace {

std::string Mm(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

size_t RowBytesFor(PixelKind kind, uint32_t width) {
    switch (kind) {
        case PixelKind::Bilevel:
            return (size_t{width} + 7) / 8;
        case PixelKind::Gray8:
            return width;
        case PixelKind::Rgb24:
            return size_t{width} * 3;
        case PixelKind::Rgb48:
            return size_t{width} * 6;
    }
    return 0;
}

AreaMm ScanLimits(ScanSource source) {
    // The glass is 2550 x 3508 units (8.5 in x 297 mm); the film aperture 450 x 1500.
    if (source == ScanSource::Flatbed) return {0, 0, 2550 * kMmPerInch / 300, 3508 * kMmPerInch / 300};
    return {0, 0, 450 * kMmPerInch / 300, 1500 * kMmPerInch / 300};
}

const std::vector<unsigned>& DeliveredResolutions() {
    static const std::vector<unsigned> kResolutions = {50, 100, 150, 300, 600};
    return kResolutions;
}

unsigned DeliveredResolution(unsigned dpi) {
    const std::vector<unsigned>& all = DeliveredResolutions();
    unsigned chosen = all.front();
    for (unsigned r : all) {
        if (r <= dpi) chosen = r;
    }
    return chosen;
}

uint32_t MmToUnits(double mm) {
    return static_cast<uint32_t>(std::lround(std::max(0.0, mm) * kAreaUnitsPerInch / kMmPerInch));
}

bool PlanScan(const ScanDescription& d, PlannedScan& plan, std::string& error) {
    plan = PlannedScan{};
    switch (d.mode) {
        case ColorMode::Lineart:
            if (d.depth != 1) {
                error = "Lineart scans have depth 1";
                return false;
            }
            plan.driverMode = ModeLineArt;
            plan.kind = PixelKind::Bilevel;
            break;
        case ColorMode::Gray:
            if (d.depth != 8) {
                error = "Gray scans have depth 8 (16-bit grey is not available)";
                return false;
            }
            plan.driverMode = ModeGray;
            plan.kind = PixelKind::Gray8;
            break;
        case ColorMode::Color:
            if (d.depth != 8 && d.depth != 16) {
                error = "Color scans have depth 8 or 16";
                return false;
            }
            plan.driverMode = d.depth == 16 ? ModeColor48 : ModeColor24;
            plan.kind = d.depth == 16 ? PixelKind::Rgb48 : PixelKind::Rgb24;
            break;
    }
    if (d.resolution == 0) {
        error = "the resolution must be at least 1 dpi";
        return false;
    }
    const AreaMm limits = ScanLimits(d.source);
    const AreaMm& a = d.area;
    if (!(a.left >= 0 && a.top >= 0 && a.width > 0 && a.height > 0)) {
        error = "the scan area needs a non-negative corner and a positive width and height";
        return false;
    }
    // Half a unit of slack: sizes given in other units round to the unit.
    const double slack = 0.5 * kMmPerInch / kAreaUnitsPerInch;
    if (a.left + a.width > limits.width + slack || a.top + a.height > limits.height + slack) {
        error = "the area " + Mm(a.left) + "," + Mm(a.top) + " + " + Mm(a.width) + " x " + Mm(a.height) +
                " mm lies beyond the " + (d.source == ScanSource::Flatbed ? "glass" : "film aperture") +
                " (" + Mm(limits.width) + " x " + Mm(limits.height) + " mm)";
        return false;
    }
    const uint32_t left = MmToUnits(a.left), top = MmToUnits(a.top);
    const uint32_t right = std::min(MmToUnits(a.left + a.width), MmToUnits(limits.width));
    const uint32_t bottom = std::min(MmToUnits(a.top + a.height), MmToUnits(limits.height));
    if (right <= left || bottom <= top) {
        error = "the scan area is smaller than one 300-dpi unit";
        return false;
    }
    plan.resolution = DeliveredResolution(d.resolution);
    plan.width = (right - left) * plan.resolution / 300;
    plan.height = (bottom - top) * plan.resolution / 300;
    if (plan.width == 0 || plan.height == 0) {
        error = "the scan area is smaller than one pixel at " + std::to_string(plan.resolution) + " dpi";
        return false;
    }
    ScanParameters& r = plan.request;
    r.Left = static_cast<uint16_t>(left);
    r.Top = static_cast<uint16_t>(top);
    r.Right = static_cast<uint16_t>(right);
    r.Bottom = static_cast<uint16_t>(bottom);
    r.Resolution = static_cast<uint16_t>(plan.resolution);
    r.ScanMode = plan.driverMode;
    r.Threshold = d.threshold;
    r.ScanSource = static_cast<uint8_t>(d.source);
    return true;
}

}  // namespace b58::host

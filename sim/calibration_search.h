// The driver's AFE searches, run against the virtual scanner: they show that the sensor and
// front-end constants let the flatbed's three-phase search and the transparency adapter's
// halving search settle inside their bands, and give b58sim the AFE values a calibrated
// scan uses. The searches follow the driver's rules with its default settings; each pass
// is a real strip scan of the model.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/scan_window.h"
#include "sim/scanner_model.h"

namespace b58::sim {

struct StripLevels {
    int minBlack = 0;
    int maxWhite = 0;
    int midLevel = 0;
};

// The driver's measurement of one plane of a strip: white as the largest 10-pixel bin,
// black as the smallest bin of the window at the strip's left end.
StripLevels MeasureStripLevels(const uint8_t* plane, int stripWidth, int stripLines, int dpi, bool ta);

// The gain the driver sends for a search value (its low 8 bits): above 51 becomes 63, above
// 31 value + 12.
uint8_t WireGain(int searchGain);

// A strip scan of the model: three planes (red, green, blue) of width x lines bytes.
struct Strip {
    int width = 0;
    int lines = 0;
    std::array<std::vector<uint8_t>, 3> planes;
};
Strip ScanStrip(const std::shared_ptr<const ScannerModel>& model, const ScanWindow& window,
                const AfeSettings& afe, uint8_t lamps);

struct AfeSearchResult {
    std::array<int, 3> offset{};  // search values, clamped to 0..63 at the finish
    std::array<int, 3> gain{};
    AfeSettings wire;                    // as sent for the scan (gains mapped)
    std::array<int, 3> phasePasses{};    // flatbed: passes of phases 1 to 3
    int headroomPasses = 0;              // flatbed: passes of the white headroom phase
    std::array<bool, 3> phaseSettled{};  // flatbed: whether each phase ended with all colours in band
    std::array<StripLevels, 3> offsetPhaseEnd{};  // levels measured in the last offset pass
    std::array<StripLevels, 3> gainPhaseEnd{};    // ... the last gain pass
    std::array<StripLevels, 3> last{};            // ... the last measured pass
    bool outOfRange = false;                      // a value left 0..63 during the search
};

// Flatbed (`dpi` both ways, pixel or line mode, format code 4 or 2).
AfeSearchResult RunFlatbedAfeSearch(const std::shared_ptr<const ScannerModel>& model, int dpi, bool pixelMode,
                                    int pixelFormat);
// Transparency adapter of kind taType (1, 2, 4).
AfeSearchResult RunTaAfeSearch(const std::shared_ptr<const ScannerModel>& model, int dpi, bool pixelMode,
                               int pixelFormat, int taType);

}  // namespace b58::sim

// One AFE search pass (a strip scan with the current values, then its measurement) and the
// finish that settles a search's results. Shared by the flatbed and the adapter searches.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "calibration/afe_calibration.h"
#include "calibration/afe_search_rules.h"
#include "calibration/strip_scan.h"
#include "device/scanner_link.h"
#include "platform/win32.h"

namespace b58 {

using ChannelSet = std::array<ChannelSearch, 3>;  // red, green, blue
using LevelSet = std::array<StripLevels, 3>;

// The passes of one search share one strip run: its StripScanOk is the search's status.
class AfeSearchPasses {
  public:
    AfeSearchPasses(const ScannerLink& link, const AfeSearchRequest& request, bool taSelector);

    // Scans a strip at `dpi` both ways with the channels' values (their low 8 bits) and, unless
    // `measure` is false, measures it. The first strip of a search is sent options 1, 0, 0,
    // every later one 1, 1, 1. False when the strip came back short.
    bool Run(const ChannelSet& channels, uint16_t dpi, bool measure = true);
    const LevelSet& Levels() const { return levels_; }
    int32_t StripScanOk() const { return run_.StripScanOk; }

  private:
    StripRun run_;
    AfeSearchRequest request_;
    bool taSelector_;
    bool first_ = true;
    std::array<std::vector<uint8_t>, 3> planes_;
    LevelSet levels_{};
};

// The six values, clamped to 0..63, and the black levels of the last measurement, as a found
// result; the caller sets its status.
CalibrationResult FinishAfeSearch(const ChannelSet& channels, const LevelSet& lastLevels);

bool AllSettled(const ChannelSet& channels);
void ClearSettled(ChannelSet& channels);

}  // namespace b58

// b58scan scan: one scan through the driver's entry points into an image file, with a
// progress bar and cancelling on request.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

#include "device_commands.h"
#include "driver_entry_points.h"
#include "scanned_image.h"

namespace b58::tools {

// Exit status of a scan the user cancelled (the lines read so far are written).
inline constexpr int kExitCancelled = 6;

struct ScanCommandOptions {
    ScanRequestOptions request;
    uint16_t threshold = 128;  // line art
    std::string output;
};

// Applies one scan option: those of ApplyRequestOption, "--size" (a paper size placed at
// the bed's origin), "--threshold" and "--output"; false with a message in `error`.
bool ApplyScanOption(const std::string& name, const std::string& value, ScanCommandOptions& options,
                     std::string& error);

// The paper sizes --size knows, in 300-dpi units; false for an unknown name.
bool PaperSize(const std::string& name, uint16_t& width, uint16_t& height);

// The image the driver's request describes: pixel kind and width from the mode and line size.
ScannedImage ImageForRequest(uint16_t mode, uint32_t lineBytes, uint32_t xDpi, uint32_t yDpi);

// Scans and writes options.output. The scan is cancelled (through the driver's progress
// routine) once `cancel` becomes true. `progress` receives the progress bar.
int RunScan(const DriverEntryPoints& driver, const ScanCommandOptions& options,
            const std::atomic<bool>& cancel, std::ostream& out, std::ostream& progress);

}  // namespace b58::tools

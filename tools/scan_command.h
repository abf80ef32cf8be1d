// b58scan scan: one scan or a batch through the host library into image files (or standard
// output), with progress, cancelling, and the partial image kept.
#pragma once

#include <functional>
#include <ostream>

#include "command_line.h"
#include "scan_runner.h"

namespace b58::tools {

// Exit status of a scan the user cancelled (the lines read so far are written).
inline constexpr int kExitCancelled = 6;

struct ScanEnvironment {
    std::ostream* out = nullptr;  // what was written; standard error when the image goes to standard output
    std::ostream* err = nullptr;  // messages and progress
    bool errIsTerminal = false;   // a bar on a terminal; percentages with -p elsewhere
    // Before each page of a --batch-prompt batch: true to scan it, false to end the batch.
    std::function<bool(uint32_t page)> waitForPage;
    host::CornerOffsets offsets = host::ZeroCornerOffset;
};

// The file name of page `page` of a batch pattern (one %d or %0Nd).
std::string BatchFileName(const std::string& pattern, uint32_t page);

int RunScan(const DriverEntryPoints& driver, const CommandLine& line, const host::ScanCancel& cancel,
            const ScanEnvironment& environment);

}  // namespace b58::tools

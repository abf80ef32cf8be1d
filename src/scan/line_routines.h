// The line-processing routines: each converts the raw lines of one host line, waiting for
// them in the line ring, into the host's pixel format, and frees their slots. Called once per
// delivered line through the LineRoutine slot; kLineDone when the line was written,
// kLineFailed when the reader has failed and no further line will come, kLineStopped when a
// stop was asked for while the routine waited (nothing written, no slot freed).
#pragma once

#include <cstdint>

#include "contract/host_records.h"

namespace b58 {

int B58_CALL LineArtLines(uint8_t* hostLine);
int B58_CALL GrayLines(uint8_t* hostLine);
int B58_CALL Color24PixelModeLines(uint8_t* hostLine);
int B58_CALL Color24LineModeLines(uint8_t* hostLine);
int B58_CALL Color48LineModeLines(uint8_t* hostLine);

// The join repair's noise generator back to its state at load. It is process-wide and never
// reseeded, so the repaired joins of a scan depend on the scans before it in the process;
// tests that compare whole images reset it first.
void ResetJoinNoise();

}  // namespace b58

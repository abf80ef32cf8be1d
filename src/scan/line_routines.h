// The line-processing routines: each converts the raw lines of one host line, waiting for
// them in the line ring, into the host's pixel format, and frees their slots. Called once per
// delivered line through the run's LineRoutine slot; kLineDone when the line was written,
// kLineFailed when the reader has failed and no further line will come, kLineStopped when a
// stop was asked for while the routine waited (nothing written, no slot freed).
#pragma once

#include <cstdint>

namespace b58 {

class ScanRun;
struct ScanSession;
class JoinRandom;

// What a line routine works on, all of it the host's thread's while the routine runs: the
// running scan (its ring, read cursor and colour offsets), the session the scan was set up
// by, and the noise the join repair draws from.
struct LineContext {
    ScanRun& run;
    const ScanSession& session;
    JoinRandom& joinNoise;
};

using LineRoutineFn = int (*)(const LineContext& lines, uint8_t* hostLine);

// What a line routine returns.
inline constexpr int kLineFailed = 0;   // the reader has failed: no further line comes
inline constexpr int kLineDone = 1;     // one line written into the host's buffer
inline constexpr int kLineStopped = 2;  // a stop was asked for while it waited: nothing written

int LineArtLines(const LineContext& lines, uint8_t* hostLine);
int GrayLines(const LineContext& lines, uint8_t* hostLine);
int Color24PixelModeLines(const LineContext& lines, uint8_t* hostLine);
int Color24LineModeLines(const LineContext& lines, uint8_t* hostLine);
int Color48LineModeLines(const LineContext& lines, uint8_t* hostLine);

}  // namespace b58

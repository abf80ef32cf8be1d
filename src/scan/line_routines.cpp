#include "scan/line_routines.h"

#include <algorithm>

#include "scan/join_repair.h"
#include "scan/line_conversion.h"
#include "scan/ring_layout.h"
#include "state/driver_state.h"

namespace b58 {
namespace {

constexpr DWORD kLinePollMs = 100;

// The repair's noise: drawn on the host's thread only.
JoinRandom g_joinRandom;

struct SlotNeed {
    int plane;
    uint32_t line;
};

// Every routine ends its wait on a stop without writing the line: converting slots that
// were never filed (or still hold a line 1200 back) would hand the host a made-up line.
enum class PollStyle {
    SleepThenCheck,  // line art, grey and line-mode colour
    CheckThenSleep,  // pixel-mode colour
};

enum class WaitOutcome { Ready, Stopped, Failed };

bool SlotFilled(int plane, uint32_t line) {
    return !g_state.Run.SlotFree(plane, line);
}

bool AllFilled(const SlotNeed* needs, int count) {
    for (int i = 0; i < count; ++i) {
        if (!SlotFilled(needs[i].plane, needs[i].line)) return false;
    }
    return true;
}

bool Stopping() {
    return g_state.Run.StopRequested();
}

bool ReaderHasFailed() {
    return g_state.Run.ReaderFailed();
}

WaitOutcome WaitForSlots(const SlotNeed* needs, int count, PollStyle style) {
    while (!AllFilled(needs, count)) {
        if (style == PollStyle::CheckThenSleep) {
            if (Stopping()) return WaitOutcome::Stopped;
            if (ReaderHasFailed()) return WaitOutcome::Failed;
            Sleep(kLinePollMs);
        } else {
            Sleep(kLinePollMs);
            if (Stopping()) return WaitOutcome::Stopped;
            if (ReaderHasFailed()) return WaitOutcome::Failed;
        }
    }
    return WaitOutcome::Ready;
}

void ReleaseSlot(int plane, uint32_t line) {
    g_state.Run.ReleaseLine(plane, line);
}

bool ScanMemoryPresent() {
    return g_state.Run.GammaTable() != nullptr && g_state.Run.PixelMapG() != nullptr &&
           g_state.Run.LineRing() != nullptr;
}

int OutputPixels() {
    return std::min<int>(g_state.Session.LinePixels, kMaxLinePixels);
}

JoinGeometry CurrentJoinGeometry() {
    return {g_state.Session.WindowStartX, g_state.Session.RXDPI, g_state.Session.LinePixels,
            g_state.Session.LineBytes,    g_state.Run.RedOffset, g_state.Run.GreenOffset,
            g_state.Run.BlueOffset};
}

ColourOffsets CurrentOffsets() {
    return {g_state.Run.RedOffset, g_state.Run.GreenOffset, g_state.Run.BlueOffset};
}

// Sample `colour` (0, 1, 2) of pixel-interleaved raw line `line`.
RawSamples InterleavedSamples(uint32_t line, int colour) {
    const uint32_t bytes = PixelRingLineBytes(g_state.Session);
    return {PixelRingLine(g_state.Run, line, bytes) + colour, 3, g_state.Session.SWWidth};
}

RawSamples PlaneSamples(const SlotNeed& need, int stride) {
    return {PlaneLine(g_state.Run, need.plane, need.line), stride, g_state.Session.SWWidth};
}

RawSamples SinglePlaneSamples(uint32_t line) {
    const uint32_t bytes = PixelRingLineBytes(g_state.Session);
    return {PixelRingLine(g_state.Run, line, bytes), 1, g_state.Session.SWWidth};
}

int FinishSingleSlotLine(uint32_t n) {
    ReleaseSlot(0, n);
    ++g_state.Run.NextLineIndex;
    return kLineDone;
}

int FinishPlaneLine(uint32_t n) {
    for (int plane = 0; plane < kPlanes; ++plane) ReleaseSlot(plane, n);
    ++g_state.Run.NextLineIndex;
    return kLineDone;
}

// Waits for the slots; the routine's result when it must end without converting, or -1 to
// go on and convert.
int WaitOrEnd(const SlotNeed* needs, int count, PollStyle style) {
    switch (WaitForSlots(needs, count, style)) {
        case WaitOutcome::Stopped:
            return kLineStopped;
        case WaitOutcome::Failed:
            return kLineFailed;
        case WaitOutcome::Ready:
            break;
    }
    return -1;
}

int WaitSinglePlane(uint32_t n) {
    const SlotNeed need{0, n};
    return WaitOrEnd(&need, 1, PollStyle::SleepThenCheck);
}

}  // namespace

void ResetJoinNoise() {
    g_joinRandom = JoinRandom();
}

int B58_CALL LineArtLines(uint8_t* hostLine) {
    if (ReaderHasFailed() || !ScanMemoryPresent()) return kLineFailed;
    const uint32_t n = g_state.Run.NextLineIndex;
    if (const int early = WaitSinglePlane(n); early >= 0) return early;
    ConvertLineArt(SinglePlaneSamples(n), OutputPixels(), g_state.Run.PixelMapG(), g_state.Run.GammaTable(),
                   g_state.Session.Threshold, hostLine, g_state.Session.LineBytes);
    return FinishSingleSlotLine(n);
}

int B58_CALL GrayLines(uint8_t* hostLine) {
    if (ReaderHasFailed() || !ScanMemoryPresent()) return kLineFailed;
    const uint32_t n = g_state.Run.NextLineIndex;
    if (const int early = WaitSinglePlane(n); early >= 0) return early;
    const int pixels = std::min<int>(g_state.Session.LineBytes, kMaxLinePixels);
    ConvertGray(SinglePlaneSamples(n), pixels, g_state.Run.PixelMapG(), g_state.Run.GammaTable(), hostLine);
    RepairLineJoins(hostLine, CurrentJoinGeometry(), JoinLayout::Gray, g_joinRandom);
    return FinishSingleSlotLine(n);
}

int B58_CALL Color24PixelModeLines(uint8_t* hostLine) {
    if (ReaderHasFailed() || !ScanMemoryPresent()) return kLineFailed;
    const uint32_t n = g_state.Run.NextLineIndex;
    const uint32_t lag = g_state.Session.ColourLag;
    const SlotNeed needs[3] = {{0, n + 2 * lag}, {0, n + lag}, {0, n}};
    if (const int early = WaitOrEnd(needs, 3, PollStyle::CheckThenSleep); early >= 0) return early;
    ConvertColor24(InterleavedSamples(n + 2 * lag, 0), InterleavedSamples(n, 1),
                   InterleavedSamples(n + lag, 2), OutputPixels(),
                   {g_state.Run.PixelMapR(), g_state.Run.PixelMapG(), g_state.Run.PixelMapB()},
                   g_state.Run.GammaTable(), CurrentOffsets(), hostLine);
    RepairLineJoins(hostLine, CurrentJoinGeometry(), JoinLayout::Color24, g_joinRandom);
    return FinishSingleSlotLine(n);
}

int B58_CALL Color24LineModeLines(uint8_t* hostLine) {
    if (ReaderHasFailed() || !ScanMemoryPresent()) return kLineFailed;
    const uint32_t n = g_state.Run.NextLineIndex;
    const uint32_t lag = g_state.Session.ColourLag;
    const SlotNeed sources[3] = {{0, n + 2 * lag}, {1, n + lag}, {2, n}};
    if (const int early = WaitOrEnd(sources, 3, PollStyle::SleepThenCheck); early >= 0) return early;
    ConvertColor24(PlaneSamples(sources[0], 1), PlaneSamples(sources[1], 1), PlaneSamples(sources[2], 1),
                   OutputPixels(),
                   {g_state.Run.PixelMapR(), g_state.Run.PixelMapG(), g_state.Run.PixelMapB()},
                   g_state.Run.GammaTable(), CurrentOffsets(), hostLine);
    RepairLineJoins(hostLine, CurrentJoinGeometry(), JoinLayout::Color24, g_joinRandom);
    return FinishPlaneLine(n);
}

int B58_CALL Color48LineModeLines(uint8_t* hostLine) {
    if (ReaderHasFailed() || !ScanMemoryPresent()) return kLineFailed;
    const uint32_t n = g_state.Run.NextLineIndex;
    const uint32_t lag = g_state.Session.ColourLag;
    const SlotNeed sources[3] = {{0, n + 2 * lag}, {1, n}, {2, n + lag}};
    if (const int early = WaitOrEnd(sources, 3, PollStyle::SleepThenCheck); early >= 0) return early;
    const ShadingReferences refs[3] = {{g_state.Run.WhiteRefR(), g_state.Run.DarkRefR()},
                                       {g_state.Run.WhiteRefG(), g_state.Run.DarkRefG()},
                                       {g_state.Run.WhiteRefB(), g_state.Run.DarkRefB()}};
    ConvertColor48(PlaneSamples(sources[0], 2), PlaneSamples(sources[1], 2), PlaneSamples(sources[2], 2),
                   OutputPixels(), refs, g_state.Run.GammaTable(), CurrentOffsets(), hostLine);
    RepairLineJoins(hostLine, CurrentJoinGeometry(), JoinLayout::Color48, g_joinRandom);
    return FinishPlaneLine(n);
}

}  // namespace b58

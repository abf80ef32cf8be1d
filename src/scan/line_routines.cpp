#include "scan/line_routines.h"

#include <algorithm>

#include "scan/join_repair.h"
#include "scan/line_conversion.h"
#include "scan/ring_layout.h"
#include "scan/scan_run.h"
#include "scan/scan_session.h"

namespace b58 {
namespace {

constexpr DWORD kLinePollMs = 100;

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

bool AllFilled(const ScanRun& run, const SlotNeed* needs, int count) {
    for (int i = 0; i < count; ++i) {
        if (run.SlotFree(needs[i].plane, needs[i].line)) return false;
    }
    return true;
}

WaitOutcome WaitForSlots(const ScanRun& run, const SlotNeed* needs, int count, PollStyle style) {
    while (!AllFilled(run, needs, count)) {
        if (style == PollStyle::CheckThenSleep) {
            if (run.StopRequested()) return WaitOutcome::Stopped;
            if (run.ReaderFailed()) return WaitOutcome::Failed;
            Sleep(kLinePollMs);
        } else {
            Sleep(kLinePollMs);
            if (run.StopRequested()) return WaitOutcome::Stopped;
            if (run.ReaderFailed()) return WaitOutcome::Failed;
        }
    }
    return WaitOutcome::Ready;
}

bool ScanMemoryPresent(const ScanRun& run) {
    return run.GammaTable() != nullptr && run.PixelMapG() != nullptr && run.LineRing() != nullptr;
}

// The routine cannot produce a line at all: the reader has given up, or there is no ring.
bool CannotConvert(const ScanRun& run) {
    return run.ReaderFailed() || !ScanMemoryPresent(run);
}

int OutputPixels(const ScanSession& session) {
    return std::min<int>(session.LinePixels, kMaxLinePixels);
}

JoinGeometry CurrentJoinGeometry(const LineContext& context) {
    const ScanSession& session = context.session;
    const ScanRun& run = context.run;
    return {session.WindowStartX, session.RXDPI,   session.LinePixels, session.LineBytes,
            run.RedOffset,        run.GreenOffset, run.BlueOffset};
}

ColourOffsets CurrentOffsets(const ScanRun& run) {
    return {run.RedOffset, run.GreenOffset, run.BlueOffset};
}

ColourMaps PixelMapsOf(const ScanRun& run) {
    return {run.PixelMapR(), run.PixelMapG(), run.PixelMapB()};
}

// Sample `colour` (0, 1, 2) of pixel-interleaved raw line `line`.
RawSamples InterleavedSamples(const LineContext& context, uint32_t line, int colour) {
    const uint32_t bytes = PixelRingLineBytes(context.session);
    return {PixelRingLine(context.run, line, bytes) + colour, 3, context.session.SWWidth};
}

RawSamples PlaneSamples(const LineContext& context, const SlotNeed& need, int stride) {
    return {PlaneLine(context.run, need.plane, need.line), stride, context.session.SWWidth};
}

RawSamples SinglePlaneSamples(const LineContext& context, uint32_t line) {
    const uint32_t bytes = PixelRingLineBytes(context.session);
    return {PixelRingLine(context.run, line, bytes), 1, context.session.SWWidth};
}

int FinishSingleSlotLine(ScanRun& run, uint32_t n) {
    run.ReleaseLine(0, n);
    ++run.NextLineIndex;
    return kLineDone;
}

int FinishPlaneLine(ScanRun& run, uint32_t n) {
    for (int plane = 0; plane < kPlanes; ++plane) run.ReleaseLine(plane, n);
    ++run.NextLineIndex;
    return kLineDone;
}

// Waits for the slots; the routine's result when it must end without converting, or -1 to
// go on and convert.
int WaitOrEnd(const ScanRun& run, const SlotNeed* needs, int count, PollStyle style) {
    switch (WaitForSlots(run, needs, count, style)) {
        case WaitOutcome::Stopped:
            return kLineStopped;
        case WaitOutcome::Failed:
            return kLineFailed;
        case WaitOutcome::Ready:
            break;
    }
    return -1;
}

int WaitSinglePlane(const ScanRun& run, uint32_t n) {
    const SlotNeed need{0, n};
    return WaitOrEnd(run, &need, 1, PollStyle::SleepThenCheck);
}

}  // namespace

int LineArtLines(const LineContext& context, uint8_t* hostLine) {
    ScanRun& run = context.run;
    const ScanSession& session = context.session;
    if (CannotConvert(run)) return kLineFailed;
    const uint32_t n = run.NextLineIndex;
    if (const int early = WaitSinglePlane(run, n); early >= 0) return early;
    ConvertLineArt(SinglePlaneSamples(context, n), OutputPixels(session), run.PixelMapG(), run.GammaTable(),
                   session.Threshold, hostLine, session.LineBytes);
    return FinishSingleSlotLine(run, n);
}

int GrayLines(const LineContext& context, uint8_t* hostLine) {
    ScanRun& run = context.run;
    if (CannotConvert(run)) return kLineFailed;
    const uint32_t n = run.NextLineIndex;
    if (const int early = WaitSinglePlane(run, n); early >= 0) return early;
    const int pixels = std::min<int>(context.session.LineBytes, kMaxLinePixels);
    ConvertGray(SinglePlaneSamples(context, n), pixels, run.PixelMapG(), run.GammaTable(), hostLine);
    RepairLineJoins(hostLine, CurrentJoinGeometry(context), JoinLayout::Gray, context.joinNoise);
    return FinishSingleSlotLine(run, n);
}

int Color24PixelModeLines(const LineContext& context, uint8_t* hostLine) {
    ScanRun& run = context.run;
    if (CannotConvert(run)) return kLineFailed;
    const uint32_t n = run.NextLineIndex;
    const uint32_t lag = context.session.ColourLag;
    const SlotNeed needs[3] = {{0, n + 2 * lag}, {0, n + lag}, {0, n}};
    if (const int early = WaitOrEnd(run, needs, 3, PollStyle::CheckThenSleep); early >= 0) return early;
    ConvertColor24({InterleavedSamples(context, n + 2 * lag, 0), InterleavedSamples(context, n, 1),
                    InterleavedSamples(context, n + lag, 2)},
                   OutputPixels(context.session), PixelMapsOf(run), run.GammaTable(), CurrentOffsets(run),
                   hostLine);
    RepairLineJoins(hostLine, CurrentJoinGeometry(context), JoinLayout::Color24, context.joinNoise);
    return FinishSingleSlotLine(run, n);
}

int Color24LineModeLines(const LineContext& context, uint8_t* hostLine) {
    ScanRun& run = context.run;
    if (CannotConvert(run)) return kLineFailed;
    const uint32_t n = run.NextLineIndex;
    const uint32_t lag = context.session.ColourLag;
    const SlotNeed sources[3] = {{0, n + 2 * lag}, {1, n + lag}, {2, n}};
    if (const int early = WaitOrEnd(run, sources, 3, PollStyle::SleepThenCheck); early >= 0) return early;
    ConvertColor24({PlaneSamples(context, sources[0], 1), PlaneSamples(context, sources[1], 1),
                    PlaneSamples(context, sources[2], 1)},
                   OutputPixels(context.session), PixelMapsOf(run), run.GammaTable(), CurrentOffsets(run),
                   hostLine);
    RepairLineJoins(hostLine, CurrentJoinGeometry(context), JoinLayout::Color24, context.joinNoise);
    return FinishPlaneLine(run, n);
}

int Color48LineModeLines(const LineContext& context, uint8_t* hostLine) {
    ScanRun& run = context.run;
    if (CannotConvert(run)) return kLineFailed;
    const uint32_t n = run.NextLineIndex;
    const uint32_t lag = context.session.ColourLag;
    const SlotNeed sources[3] = {{0, n + 2 * lag}, {1, n}, {2, n + lag}};
    if (const int early = WaitOrEnd(run, sources, 3, PollStyle::SleepThenCheck); early >= 0) return early;
    const ShadingReferences refs[3] = {{run.WhiteRefR(), run.DarkRefR()},
                                       {run.WhiteRefG(), run.DarkRefG()},
                                       {run.WhiteRefB(), run.DarkRefB()}};
    ConvertColor48({PlaneSamples(context, sources[0], 2), PlaneSamples(context, sources[1], 2),
                    PlaneSamples(context, sources[2], 2)},
                   OutputPixels(context.session), refs, run.GammaTable(), CurrentOffsets(run), hostLine);
    RepairLineJoins(hostLine, CurrentJoinGeometry(context), JoinLayout::Color48, context.joinNoise);
    return FinishPlaneLine(run, n);
}

}  // namespace b58

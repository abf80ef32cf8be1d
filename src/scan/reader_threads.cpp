#include "scan/reader_threads.h"

#include <cstdint>

#include "device/command_set.h"
#include "device/image_reader.h"
#include "device/scanner_link.h"
#include "scan/ring_layout.h"
#include "scan/scan_run.h"

namespace b58 {
namespace {

constexpr uint32_t kReaderBlockSize = 30720;
constexpr uint32_t kReaderSlots = 5;
constexpr DWORD kRingFullPollMs = 100;
constexpr DWORD kDirectReadPauseMs = 100;
constexpr DWORD kThreadExitCode = 1;

// ---- the device layer: the data handshake and the image reader ------------------------------

bool HandshakeData(const ReaderContext& context) {
    const ScannerLink link{context.device, context.deviceKind, *context.channel, *context.imageReader};
    return WaitScanData(nullptr, link, context.run->StopFlag()) != 0;
}

bool OpenReader(const ReaderContext& context, uint32_t totalBytes) {
    return context.imageReader->Open(totalBytes, kReaderBlockSize, kReaderSlots, context.run->StopFlag()) ==
           1;
}

// Cancels and collects every read still in flight, so that none lands in the ring once the
// scan's memory is freed.
void CloseReader(const ReaderContext& context) {
    context.imageReader->Close();
}

// One whole raw line into `destination`; a failed or short read is a failed scan, since the
// line routines would otherwise convert whatever the slot held before.
bool ReadLine(const ReaderContext& context, uint8_t* destination, uint32_t bytes, bool direct) {
    uint32_t delivered = 0;
    const uint8_t ok =
        direct ? context.imageReader->ReadBlockOnce(context.device, destination, bytes, &delivered)
               : context.imageReader->ReadBytes(context.device, destination, bytes, &delivered);
    return ok == 1 && delivered == bytes;
}

// ---- ending the thread ---------------------------------------------------------------------------

DWORD Fail(ScanRun& run) {
    run.MarkReaderFailed();
    return kThreadExitCode;
}

DWORD EndReading(const ReaderContext& context) {
    CloseReader(context);
    return kThreadExitCode;
}

DWORD FailReading(const ReaderContext& context) {
    CloseReader(context);
    return Fail(*context.run);
}

// Handshake and reader start; false when reading cannot begin (a stop included). Both give
// up within one poll of a stop.
bool BeginReading(const ReaderContext& context, uint64_t totalBytes, bool lineFits) {
    if (!HandshakeData(context)) return false;
    if (!lineFits || totalBytes == 0 || totalBytes > UINT32_MAX) return false;
    return OpenReader(context, static_cast<uint32_t>(totalBytes));
}

// A reader that could not begin, or whose read broke off: a stop is no failure.
DWORD EndOrFail(const ReaderContext& context, bool readerOpen) {
    if (context.run->StopRequested()) return readerOpen ? EndReading(context) : kThreadExitCode;
    return readerOpen ? FailReading(context) : Fail(*context.run);
}

}  // namespace

bool DirectReadPauseDue(uint32_t line, uint8_t colourLag, uint16_t pacing) {
    // Without a colour lag (150 dpi and below) there is no line rhythm to pace by.
    if (colourLag == 0) return false;
    return line % colourLag == 0 && pacing == 0;
}

DWORD WINAPI PixelReader(LPVOID parameter) {
    const ReaderContext& context = *static_cast<const ReaderContext*>(parameter);
    ScanRun& run = *context.run;
    const uint32_t lineBytes = PixelRingLineBytes(context.session);
    const uint32_t lines = context.session.SWHeight;
    const bool direct = context.directRead;
    const uint8_t lag = context.session.ColourLag;
    if (!BeginReading(context, static_cast<uint64_t>(lineBytes) * lines, PixelRingLineFits(lineBytes)))
        return EndOrFail(context, false);
    for (uint32_t k = 0; k < lines; ++k) {
        if (run.StopRequested()) return EndReading(context);
        while (!run.SlotFree(0, k)) {
            Sleep(kRingFullPollMs);
            if (run.StopRequested()) return EndReading(context);
        }
        if (!ReadLine(context, PixelRingLine(run, k, lineBytes), lineBytes, direct))
            return EndOrFail(context, true);
        if (direct && DirectReadPauseDue(k, lag, context.directReadPacing)) Sleep(kDirectReadPauseMs);
        run.FileLine(0, k);
    }
    return EndReading(context);
}

DWORD WINAPI PlaneReader(LPVOID parameter) {
    const ReaderContext& context = *static_cast<const ReaderContext*>(parameter);
    ScanRun& run = *context.run;
    const uint32_t lineBytes = PlaneLineBytes(context.session);
    const uint32_t colourLines = 3u * context.session.SWHeight;
    if (!BeginReading(context, static_cast<uint64_t>(lineBytes) * colourLines,
                      PlaneLineFits(lineBytes, context.session.DataWidth)))
        return EndOrFail(context, false);
    for (uint32_t i = 0; i < colourLines; ++i) {
        const uint32_t k = i / 3;
        const int plane = static_cast<int>(i % 3);
        if (run.StopRequested()) return EndReading(context);
        // The host converts three colour lines per line it delivers: re-check at once, only
        // giving up the time slice.
        while (!run.SlotFree(plane, k)) {
            Sleep(0);
            if (run.StopRequested()) return EndReading(context);
        }
        if (!ReadLine(context, PlaneLine(run, plane, k), lineBytes, false)) return EndOrFail(context, true);
        run.FileLine(plane, k);
    }
    return EndReading(context);
}

}  // namespace b58

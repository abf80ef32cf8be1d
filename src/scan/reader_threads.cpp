#include "scan/reader_threads.h"

#include <cstdint>

#include "device/command_set.h"
#include "device/image_reader.h"
#include "device/scanner_link.h"
#include "scan/ring_layout.h"
#include "state/driver_state.h"

namespace b58 {
namespace {

constexpr uint32_t kReaderBlockSize = 30720;
constexpr uint32_t kReaderSlots = 5;
constexpr DWORD kRingFullPollMs = 100;
constexpr DWORD kDirectReadPauseMs = 100;
constexpr DWORD kThreadExitCode = 1;

ScannerLink Link() {
    return {g_state.DeviceHandle, g_state.DeviceKind, g_state.Channel, g_state.ImageReader};
}

bool Stopping() {
    return g_state.Run.StopRequested();
}

DWORD Fail() {
    g_state.Run.MarkReaderFailed();
    return kThreadExitCode;
}

// Cancels and collects every read still in flight, so that none lands in the ring once the
// scan's memory is freed.
DWORD EndReading() {
    CloseImageReader(Link());
    return kThreadExitCode;
}

DWORD FailReading() {
    CloseImageReader(Link());
    return Fail();
}

// Handshake and reader start; false when reading cannot begin (a stop included). Both give
// up within one poll of a stop.
bool BeginReading(uint64_t totalBytes, bool lineFits) {
    if (!WaitScanData(nullptr, Link(), g_state.Run.StopFlag())) return false;
    if (!lineFits || totalBytes == 0 || totalBytes > UINT32_MAX) return false;
    return OpenImageReader(Link(), static_cast<uint32_t>(totalBytes), kReaderBlockSize, kReaderSlots,
                           g_state.Run.StopFlag()) == 1;
}

// A reader that could not begin, or whose read broke off: a stop is no failure.
DWORD EndOrFail(bool readerOpen) {
    if (Stopping()) return readerOpen ? EndReading() : kThreadExitCode;
    return readerOpen ? FailReading() : Fail();
}

// One whole raw line into `destination`; a failed or short read is a failed scan, since the
// line routines would otherwise convert whatever the slot held before.
bool ReadLine(uint8_t* destination, uint32_t bytes, bool direct) {
    uint32_t delivered = 0;
    const uint8_t ok = direct ? ReadImageBlockOnce(Link(), destination, bytes, &delivered)
                              : ReadImageBytes(Link(), destination, bytes, &delivered);
    return ok == 1 && delivered == bytes;
}

bool SlotFree(int plane, uint32_t line) {
    return g_state.Run.SlotFree(plane, line);
}

void FileSlot(int plane, uint32_t line) {
    g_state.Run.FileLine(plane, line);
}

}  // namespace

bool DirectReadPauseDue(uint32_t line, uint8_t colourLag, uint16_t pacing) {
    // Without a colour lag (150 dpi and below) there is no line rhythm to pace by.
    if (colourLag == 0) return false;
    return line % colourLag == 0 && pacing == 0;
}

DWORD WINAPI PixelReader(LPVOID) {
    const uint32_t lineBytes = PixelRingLineBytes(g_state.Session);
    const uint32_t lines = g_state.Session.SWHeight;
    const bool direct = g_state.DirectReadMode != 0;
    const uint8_t lag = g_state.Session.ColourLag;
    const uint16_t pacing = g_state.DirectReadPacing;
    if (!BeginReading(static_cast<uint64_t>(lineBytes) * lines, PixelRingLineFits(lineBytes)))
        return EndOrFail(false);
    for (uint32_t k = 0; k < lines; ++k) {
        if (Stopping()) return EndReading();
        while (!SlotFree(0, k)) {
            Sleep(kRingFullPollMs);
            if (Stopping()) return EndReading();
        }
        if (!ReadLine(PixelRingLine(g_state.Run, k, lineBytes), lineBytes, direct)) return EndOrFail(true);
        if (direct && DirectReadPauseDue(k, lag, pacing)) Sleep(kDirectReadPauseMs);
        FileSlot(0, k);
    }
    return EndReading();
}

DWORD WINAPI PlaneReader(LPVOID) {
    const uint32_t lineBytes = PlaneLineBytes(g_state.Session);
    const uint32_t colourLines = 3u * g_state.Session.SWHeight;
    if (!BeginReading(static_cast<uint64_t>(lineBytes) * colourLines,
                      PlaneLineFits(lineBytes, g_state.Session.DataWidth)))
        return EndOrFail(false);
    for (uint32_t i = 0; i < colourLines; ++i) {
        const uint32_t k = i / 3;
        const int plane = static_cast<int>(i % 3);
        if (Stopping()) return EndReading();
        // The host converts three colour lines per line it delivers: re-check at once, only
        // giving up the time slice.
        while (!SlotFree(plane, k)) {
            Sleep(0);
            if (Stopping()) return EndReading();
        }
        if (!ReadLine(PlaneLine(g_state.Run, plane, k), lineBytes, false)) return EndOrFail(true);
        FileSlot(plane, k);
    }
    return EndReading();
}

}  // namespace b58

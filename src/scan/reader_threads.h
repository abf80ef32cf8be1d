// The reader threads: started by the scan start through the ReaderRoutine slot, each reads
// the raw image stream and files its lines into the line ring until the image is read,
// StopRequested is set, or reading fails (then it sets ReaderFailed). The thread's parameter
// is the ReaderContext it works with, which must stay in place until the thread has ended
// (ScanRun::StartReader keeps it in the run).
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "scan/scan_session.h"

namespace b58 {

class ScanRun;
class ImageDataReader;
class CommandChannel;

// Everything a reader thread works with. The session is a copy taken at the start, so the
// thread reads nothing the host's thread may change while it runs.
struct ReaderContext {
    ScanRun* run = nullptr;
    ScanSession session;
    HANDLE device = INVALID_HANDLE_VALUE;
    int32_t deviceKind = 0;
    CommandChannel* channel = nullptr;       // the data handshake's command buffers
    ImageDataReader* imageReader = nullptr;  // used by the reader thread alone while it runs
    bool directRead = false;                 // diagnostic: one block read per line, no read-ahead
    uint16_t directReadPacing = 0;
};

DWORD WINAPI PixelReader(LPVOID context);  // one interleaved line per raw line
DWORD WINAPI PlaneReader(LPVOID context);  // one line per colour plane

// Whether the diagnostic direct read pauses after raw line `line`: after every line whose
// number is a multiple of the colour lag when the pace is 0; never without a colour lag.
bool DirectReadPauseDue(uint32_t line, uint8_t colourLag, uint16_t pacing);

}  // namespace b58

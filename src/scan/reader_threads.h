// The reader threads: started by the scan start through the ReaderRoutine slot, each reads
// the raw image stream and files its lines into the line ring until the image is read,
// StopRequested is set, or reading fails (then it sets ReaderFailed). The parameter is
// ignored.
#pragma once

#include "platform/win32.h"

namespace b58 {

DWORD WINAPI PixelReader(LPVOID unused);  // one interleaved line per raw line
DWORD WINAPI PlaneReader(LPVOID unused);  // one line per colour plane

}  // namespace b58

#include <cstdint>

namespace b58 {

// Whether the diagnostic direct read pauses after raw line `line`: after every line whose
// number is a multiple of the colour lag when the pace is 0; never without a colour lag.
bool DirectReadPauseDue(uint32_t line, uint8_t colourLag, uint16_t pacing);

}  // namespace b58

// Decoding and judging the scan-window packet (command 0x20), and the length and layout of
// the image stream a window asks for.
#pragma once

#include <cstdint>

#include "sim/scan_window.h"

namespace b58::sim {

// Decodes bytes 2 to 25 of a 64-byte command packet.
ScanWindow DecodeScanWindow(const uint8_t* packet);

// Why the controller cannot scan this window, or null when it can. The controller answers
// such a window with a failure status and keeps the window it had.
const char* ScanWindowProblem(const ScanWindow& window);

// True when the format byte's bits 3 to 7 are a valid encoding of the window's data width.
bool FormatBitsMatchDataWidth(uint8_t formatByte, uint16_t dataWidth);

// Colour windows deliver three planes per scan line (interleaved in one line in pixel mode,
// as three single-colour lines red, green, blue in line mode); the others one.
inline uint32_t PlanesPerLine(const ScanWindow& window) {
    return window.Colour() ? 3u : 1u;
}

// Bytes the controller delivers for one scan line, all planes.
inline uint64_t BytesPerScanLine(const ScanWindow& window) {
    return static_cast<uint64_t>(window.lineBytes) * PlanesPerLine(window);
}

// Bytes of image data the whole window delivers (before padding to whole packets).
inline uint64_t StreamBytes(const ScanWindow& window) {
    return BytesPerScanLine(window) * window.linesToDeliver;
}

}  // namespace b58::sim

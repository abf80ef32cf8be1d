// Where the raw lines of a scan lie in the line ring: the size of a raw line and the slot
// addresses, as the reader thread files them and the line routines pick them up.
#pragma once

#include <cstdint>

#include "scan/scan_run.h"
#include "scan/scan_session.h"

namespace b58 {

// Bytes of one raw line in the single-plane ring: SWWidth samples, three per pixel in colour,
// two bytes each for 16-bit samples.
uint32_t PixelRingLineBytes(const ScanSession& session);

// Bytes of one colour line in a plane slot.
uint32_t PlaneLineBytes(const ScanSession& session);

// Whether a raw line of that size fits its slot (the ring and plane slots are sized for the
// widest line the scanner can send).
bool PixelRingLineFits(uint32_t lineBytes);
bool PlaneLineFits(uint32_t lineBytes, uint16_t dataWidth);

inline uint8_t* PixelRingLine(const ScanRun& run, uint32_t line, uint32_t lineBytes) {
    return run.LineRing() + static_cast<size_t>(RingSlot(line)) * lineBytes;
}

inline uint8_t* PlaneLine(const ScanRun& run, int plane, uint32_t line) {
    return run.PlaneLines(plane, line);
}

}  // namespace b58

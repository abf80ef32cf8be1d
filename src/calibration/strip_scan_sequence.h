// The commands around a calibration strip's data: lamps, window, AFE values, start and the
// data handshake before it; stop and lamp after it. A failing command does not end the
// strip (only its data decides), so results are not judged here but for the handshake,
// without which no data will come.
#pragma once

#include <cstdint>

#include "device/command_packets.h"
#include "platform/win32.h"

namespace b58 {

struct StripAfeValues {
    uint8_t rOffset = 0;
    uint8_t rGain = 0;
    uint8_t gOffset = 0;
    uint8_t gGain = 0;
    uint8_t bOffset = 0;
    uint8_t bGain = 0;
};

void SendStripLamps(HANDLE device, uint8_t lampMask);

// Window, AFE values, ready wait, start and data handshake. False when the scanner never
// took the handshake: the strip then has no data to read.
bool StartStripScan(HANDLE device, const ScanWindowParameters& window, const StripAfeValues& afe);

// Stop, then light the lamp given (it is off after a dark strip).
void EndStripScan(HANDLE device, uint8_t closingLampMask);

}  // namespace b58

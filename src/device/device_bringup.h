// Bringing the scanner up for _Open: read the open-time settings, find and open the device,
// ask the controller whether its firmware runs and download it when not.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "settings/settings.h"

namespace b58 {

// Discovery passes over the fixed names (100 ms apart), then interface lookups.
inline constexpr int kFixedNamePasses = 10;
inline constexpr uint32_t kFixedNamePassPauseMs = 100;
inline constexpr int kInterfaceLookups = 5;

// Byte 2 of the firmware-state reply while the firmware runs.
inline constexpr uint8_t kFirmwareRunning = 0xFF;

// 1 when the device is open in *device and its firmware runs; else 0, with *device
// invalid. A handle still open in *device is closed first. The open-time settings are read
// into *settings first, whatever the outcome.
uint8_t ZtInitialation(int32_t deviceKind, HANDLE* device, OpenTimeSettings* settings);

}  // namespace b58

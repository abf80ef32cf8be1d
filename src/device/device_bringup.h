// Bringing the scanner up for _Open: read the open-time settings, find and open the device,
// ask the controller whether its firmware runs and download it when not.
#pragma once

#include <cstdint>

namespace b58 {

// Discovery passes over the fixed names (100 ms apart), then interface lookups.
inline constexpr int kFixedNamePasses = 10;
inline constexpr uint32_t kFixedNamePassPauseMs = 100;
inline constexpr int kInterfaceLookups = 5;

// Byte 2 of the firmware-state reply while the firmware runs.
inline constexpr uint8_t kFirmwareRunning = 0xFF;

// 1 when the device is open in DeviceHandle and its firmware runs; else 0, with
// DeviceHandle invalid.
uint8_t ZtInitialation(int32_t deviceKind);

}  // namespace b58

// Small exchanges several exports share: the firmware download onto the open device, the
// lamp selection, and the front-panel key query. Each uses DeviceHandle and DeviceKind,
// a null owner window and the silent report mode, and returns the command's result.
#pragma once

#include <cstdint>

#include "api/driver.h"
#include "contract/scanner_model.h"

namespace b58 {

// LampMask values of the lamp control command.
inline constexpr uint8_t kLampNone = Model().lamps.none;
inline constexpr uint8_t kLampFlatbed = Model().lamps.flatbed;
inline constexpr uint8_t kLampTa = Model().lamps.adapter;
inline constexpr uint8_t kLampBoth = kLampFlatbed | kLampTa;

// Downloads the firmware file from the system's driver directory.
uint8_t DownloadFirmwareToDevice(Driver& driver);

// Lamp control with `lampMask` in byte 0 of MiscControlBuffer (request and reply area).
uint8_t SendLampControl(Driver& driver, uint8_t lampMask);

// The key query in its short form, with MiscControlBuffer as request and reply.
uint8_t SendKeyQuery(Driver& driver);
// After a successful SendKeyQuery: the scanner's key was pressed.
bool KeyWasPressed(const Driver& driver);

}  // namespace b58

// Loading the controller's firmware: the raw image file is read whole (up to 16384 bytes),
// written to controller memory from address 0 in 64-byte blocks, each block read back and
// compared, and the download completed with command 0x69 carrying the byte count.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/command_packets.h"
#include "platform/win32.h"

namespace b58 {

inline constexpr size_t kFirmwareBufferSize = 16384;
inline constexpr uint16_t kFirmwareBlockSize = 64;

// The firmware file's name, in the system's driver directory.
inline constexpr char kFirmwareFileName[] = "b58fw.usb";
inline constexpr size_t kFirmwarePathSize = 256;

// Windows directory + "\system32\drivers\" + "b58fw.usb" into a kFirmwarePathSize buffer.
// False, with an empty path, when the directory is unknown or the result would not fit.
bool BuildFirmwarePath(char* path);

// Reads up to 16384 bytes of the file into buffer (16384 bytes); 1 when at least one byte
// was read.
uint8_t ReadFileFromAnyWhere(const char* path, uint8_t* buffer, DWORD* bytesRead);

// Reads the image file and downloads it; 1 when it was written, verified and completed.
uint8_t ProcessDownloadFirmware(HWND owner, int32_t reportMode, HANDLE device, int32_t requestCode,
                                const char* path);

// Writes and verifies transferLength bytes of image block by block, then sends the
// download-complete command. Stops at the first block that reads back differently. 1 only
// when the controller answers the download-complete command with a done status (it has
// checked the image and runs it).
uint8_t ZtDownloadFirmware(HANDLE device, const uint8_t* image, uint16_t transferLength);

}  // namespace b58

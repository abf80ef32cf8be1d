// Finding and opening the scanner: by the class driver's fixed names "\\.\UsbScan0" to
// "\\.\UsbScan9", or by walking the still-image device interfaces for our identifiers.
// Every open uses the same mode: read and write, shared, existing, overlapped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

namespace b58 {

// The still-image device interface class.
inline constexpr GUID kStillImageInterfaceGuid = {
    0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

inline constexpr int kFixedNameCount = 10;
inline constexpr int kInterfaceNameCount = 5;
inline constexpr size_t kInterfaceNameSize = 256;
// The longest interface path that still fits the file-name buffers with its suffix.
inline constexpr size_t kMaxInterfacePathLength = 241;

// True when the interface path names our scanner: it holds both "pid_3c4d" and "vid_1a2b",
// exactly as written (case matters).
bool IsScannerInterfacePath(const char* path);

// The file name of interface `index`: the path followed by "\\\.\USBScan" and the index.
// False, with name untouched, when the path is longer than kMaxInterfacePathLength.
bool BuildInterfaceFileName(const char* path, int index, char* name, size_t nameSize);

// The first fixed name that opens, or INVALID_HANDLE_VALUE. Nothing is traced.
HANDLE OpenScannerByName();

// The scanner behind the still-image interface at memberIndex of the class, or
// INVALID_HANDLE_VALUE; every step is traced.
HANDLE GetDeviceViaInterface(const GUID* interfaceClass, DWORD memberIndex);

// Closes the handle unless it is null or INVALID_HANDLE_VALUE; always 1.
uint8_t CloseScanner(HANDLE device);

}  // namespace b58

// The register-request control codes of the still-image class driver, read as the vendor
// control transfers they stand for.
#pragma once

#include <cstdint>

#include "platform/usbscan/usb_backend.h"
#include "platform/win32.h"

namespace b58::usbscan {

inline constexpr uint8_t kVendorHostToDevice = 0x40;
inline constexpr uint8_t kVendorDeviceToHost = 0xC0;
// The vendor request numbers the class driver uses for register requests: one for blocks of
// more than one byte, one for single bytes (and empty transfers).
inline constexpr uint8_t kRequestRegisterBlock = 0x04;
inline constexpr uint8_t kRequestRegisterByte = 0x0C;

struct RegisterRequest {
    UsbSetup setup;
    bool deviceToHost = false;
    const uint8_t* writeData = nullptr;  // host to device: the bytes to send
};

// Reads an IOCTL_WRITE_REGISTERS or IOCTL_READ_REGISTERS call. Returns ERROR_SUCCESS and
// fills *request, or the error the call fails with: ERROR_INVALID_FUNCTION for another code;
// ERROR_INVALID_PARAMETER for an input shorter than IO_BLOCK, a value, index or length that
// does not fit the 16-bit setup fields, or data to write without an address;
// ERROR_INSUFFICIENT_BUFFER for a read whose output buffer is smaller than its length.
DWORD DecodeRegisterRequest(DWORD code, const void* in, DWORD inSize, const void* out, DWORD outSize,
                            RegisterRequest* request);

}  // namespace b58::usbscan

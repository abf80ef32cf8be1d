#include "platform/usbscan/register_request.h"

#include <cstring>

namespace b58::usbscan {
namespace {

// The system's header defines the codes as int expressions.
constexpr DWORD kWriteRegisters = static_cast<DWORD>(IOCTL_WRITE_REGISTERS);
constexpr DWORD kReadRegisters = static_cast<DWORD>(IOCTL_READ_REGISTERS);

}  // namespace

DWORD DecodeRegisterRequest(DWORD code, const void* in, DWORD inSize, const void* out, DWORD outSize,
                            RegisterRequest* request) {
    if (code != kWriteRegisters && code != kReadRegisters) return ERROR_INVALID_FUNCTION;
    if (in == nullptr || inSize < sizeof(IO_BLOCK)) return ERROR_INVALID_PARAMETER;

    IO_BLOCK block;
    std::memcpy(&block, in, sizeof(block));  // the caller's record need not be aligned
    if (block.uOffset > 0xFFFF || block.uIndex > 0xFFFF || block.uLength > 0xFFFF) {
        return ERROR_INVALID_PARAMETER;
    }

    bool deviceToHost = code == kReadRegisters;
    if (deviceToHost) {
        if (block.uLength > 0 && (out == nullptr || outSize < block.uLength))
            return ERROR_INSUFFICIENT_BUFFER;
    } else if (block.uLength > 0 && block.pbyData == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }

    request->deviceToHost = deviceToHost;
    request->writeData = deviceToHost ? nullptr : block.pbyData;
    request->setup.bmRequestType = deviceToHost ? kVendorDeviceToHost : kVendorHostToDevice;
    request->setup.bRequest = block.uLength > 1 ? kRequestRegisterBlock : kRequestRegisterByte;
    request->setup.wValue = static_cast<uint16_t>(block.uOffset);
    request->setup.wIndex = static_cast<uint16_t>(block.uIndex);
    request->setup.wLength = static_cast<uint16_t>(block.uLength);
    return ERROR_SUCCESS;
}

}  // namespace b58::usbscan

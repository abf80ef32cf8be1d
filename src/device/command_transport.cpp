#include "device/command_transport.h"

#include <algorithm>
#include <cstring>

#include "device/command_packets.h"
#include "device/poll_bound.h"

namespace b58 {

IO_BLOCK MakeIoBlock(uint16_t value, uint16_t index, uint8_t* data, uint16_t length) {
    IO_BLOCK block{};
    block.uOffset = value;
    block.uLength = length;
    block.pbyData = data;
    block.uIndex = index;
    return block;
}

namespace {

// One command exchange's buffers, as ScannerIoControl takes them.
struct CommandExchange {
    uint32_t requestCode;
    const uint8_t* input;
    uint16_t inputSize;
    uint8_t* output;
    uint16_t outputSize;
    uint32_t* returned;
};

uint8_t RunExchange(HANDLE device, const CommandExchange& x, PacketForm form) {
    if (x.requestCode != kCommandExchange || x.inputSize == 0) return 0;

    uint8_t packet[kCommandPacketSize];
    uint8_t reply[kCommandPacketSize];
    PollBound resends(kMaxResends, kResendTimeLimitMs);
    for (;;) {
        BuildCommandPacket(x.input, x.inputSize, packet);
        std::memset(reply, 0, sizeof reply);
        const uint8_t exchanged = form == PacketForm::Short ? ExchangeShortPacket(device, packet, reply)
                                                            : ExchangePacket(device, packet, reply);
        if (x.returned != nullptr) *x.returned = 0;
        if (!exchanged) return 0;
        if (reply[0] != kStatusResend) break;
        // The controller did not take the command: send it again after a short
        // pause, but not for ever, so a controller stuck in this answer cannot hang
        // the host.
        if (!resends.Another()) return 0;
        Sleep(kResendPauseMs);
    }

    const uint16_t count = std::min<uint16_t>(x.outputSize, static_cast<uint16_t>(kCommandPacketSize));
    if (x.output != nullptr) std::memcpy(x.output, reply, count);
    if (x.returned != nullptr) *x.returned = count;
    return 1;
}

}  // namespace

uint8_t ScannerIoControl(HANDLE device, uint32_t requestCode, const uint8_t* input, uint16_t inputSize,
                         uint8_t* output, uint16_t outputSize, uint32_t* returned) {
    return RunExchange(device, {requestCode, input, inputSize, output, outputSize, returned},
                       PacketForm::Full);
}

uint8_t ScannerIoControlShort(HANDLE device, uint32_t requestCode, const uint8_t* input, uint16_t inputSize,
                              uint8_t* output, uint16_t outputSize, uint32_t* returned) {
    return RunExchange(device, {requestCode, input, inputSize, output, outputSize, returned},
                       PacketForm::Short);
}

uint8_t ExchangePacket(HANDLE device, const uint8_t* packet, uint8_t* reply64) {
    // The transfer wants a writable buffer; a copy also lets the reply land on
    // the packet.
    uint8_t command[kCommandPacketSize];
    std::memcpy(command, packet, sizeof command);
    if (!VendorTransfer(device, kHostToDevice, kValueCommand, kIndexCommand, command, sizeof command))
        return 0;
    std::memset(reply64, 0, kCommandPacketSize);
    return VendorTransfer(device, kDeviceToHost, kValueReply, kIndexReply, reply64, kCommandPacketSize);
}

uint8_t ExchangeShortPacket(HANDLE device, const uint8_t* packet, uint8_t* reply64) {
    uint8_t block[kCommandPacketSize];
    BuildShortBlock(packet, block);
    if (!VendorTransfer(device, kHostToDevice, kValueShortCommand, kIndexCommand, block, sizeof block))
        return 0;
    std::memset(reply64, 0, kCommandPacketSize);
    return VendorTransfer(device, kDeviceToHost, kValueShortReply, kIndexReply, reply64, kShortReplySize);
}

uint8_t VendorTransfer(HANDLE device, uint8_t requestType, uint16_t value, uint16_t index, uint8_t* data,
                       uint16_t length) {
    if (device == INVALID_HANDLE_VALUE) return 0;
    IO_BLOCK block = MakeIoBlock(value, index, data, length);
    if (requestType & 0x80) {
        DWORD transferred = 0;
        if (!OverlappedIoControl(device, IOCTL_READ_REGISTERS, &block, sizeof block, data, length,
                                 &transferred))
            return 0;
        // A read that brought nothing back carries no reply: taking the cleared
        // buffer for one would read as status 0, "carried out".
        return (length == 0 || transferred != 0) ? 1 : 0;
    }
    return OverlappedIoControl(device, IOCTL_WRITE_REGISTERS, &block, sizeof block, nullptr, 0, nullptr);
}

uint8_t OverlappedIoControl(HANDLE device, DWORD controlCode, void* input, DWORD inputSize, void* output,
                            DWORD outputSize, DWORD* transferred) {
    OVERLAPPED overlapped{};
    if (transferred != nullptr) *transferred = 0;
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return 0;

    DWORD returned = 0;
    if (!DeviceIoControl(device, controlCode, input, inputSize, output, outputSize, &returned, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        CloseHandle(overlapped.hEvent);
        return 0;
    }
    DWORD count = 0;
    if (!GetOverlappedResult(device, &overlapped, &count, TRUE)) {
        CloseHandle(overlapped.hEvent);
        return 0;
    }
    if (transferred != nullptr) *transferred = count;
    CloseHandle(overlapped.hEvent);
    return 1;
}

uint8_t WriteControllerMemory(HANDLE device, uint16_t address, uint16_t length, uint8_t* data) {
    return VendorTransfer(device, kHostToDevice, kValueMemoryWrite, address, data, length);
}

uint8_t ReadControllerMemory(HANDLE device, uint16_t address, uint16_t length, uint8_t* buffer) {
    return VendorTransfer(device, kDeviceToHost, kValueMemoryRead, address, buffer, length);
}

}  // namespace b58

// The command packet transport: a 64-byte command written to the controller and
// a reply read back, each as a vendor control transfer through the class
// driver's register requests, on the overlapped device handle. Nothing is
// traced here; the command routines judge and report.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace b58 {

// The one request code ScannerIoControl serves: a command packet exchange.
inline constexpr uint32_t kCommandExchange = 4;

// Vendor request types.
inline constexpr uint8_t kHostToDevice = 0x40;
inline constexpr uint8_t kDeviceToHost = 0xC0;

// Value and index words of the transfers.
inline constexpr uint16_t kValueCommand = 0x2010;
inline constexpr uint16_t kValueReply = 0x2011;
inline constexpr uint16_t kValueShortCommand = 0x2012;
inline constexpr uint16_t kValueShortReply = 0x2013;
inline constexpr uint16_t kValueMemoryWrite = 0x200B;
inline constexpr uint16_t kValueMemoryRead = 0x200C;
inline constexpr uint16_t kIndexCommand = 0x3F40;
inline constexpr uint16_t kIndexReply = 0x3F00;

inline constexpr uint16_t kShortReplySize = 8;

// Status byte of a reply that asks for the same command again.
inline constexpr uint8_t kStatusResend = 1;
// A controller that keeps asking for the command again is given up on after
// this many re-sends or this much time, whichever comes first, with a short
// pause between re-sends.
inline constexpr uint32_t kMaxResends = 2000;
inline constexpr uint32_t kResendTimeLimitMs = 10000;
inline constexpr uint32_t kResendPauseMs = 5;

// How a command packet goes to the controller: whole, or its first eight bytes
// repeated.
enum class PacketForm : uint8_t { Full, Short };

// The class driver's request record for one vendor transfer.
IO_BLOCK MakeIoBlock(uint16_t value, uint16_t index, uint8_t* data, uint16_t length);

// ---- exchanges
// -------------------------------------------------------------------------

// One command exchange, re-sending while the controller answers status 1
// (bounded above). 1 on success: the first outputSize reply bytes (at most 64)
// are copied out and *returned is set to that count; the reply status is the
// caller's to judge. 0 on failure: then *returned is 0 (it keeps its value when
// inputSize is 0 and nothing was sent) and output is untouched. Any request
// code but 4 fails without sending.
uint8_t ScannerIoControl(HANDLE device, uint32_t requestCode, const uint8_t* input, uint16_t inputSize,
                         uint8_t* output, uint16_t outputSize, uint32_t* returned);

// ScannerIoControl in the controller's short 8-byte form.
uint8_t ScannerIoControlShort(HANDLE device, uint32_t requestCode, const uint8_t* input, uint16_t inputSize,
                              uint8_t* output, uint16_t outputSize, uint32_t* returned);

// Writes the 64-byte packet and reads the 64-byte reply. reply may be packet
// itself.
uint8_t ExchangePacket(HANDLE device, const uint8_t* packet, uint8_t* reply64);
// Writes packet bytes 0 to 7 eight times over and reads the 8-byte reply into a
// cleared 64-byte reply buffer.
uint8_t ExchangeShortPacket(HANDLE device, const uint8_t* packet, uint8_t* reply64);

// One vendor control transfer. A device-to-host transfer that delivers no byte
// fails.
uint8_t VendorTransfer(HANDLE device, uint8_t requestType, uint16_t value, uint16_t index, uint8_t* data,
                       uint16_t length);

// DeviceIoControl on the overlapped handle with an event of its own, waited for
// to the end.
uint8_t OverlappedIoControl(HANDLE device, DWORD controlCode, void* input, DWORD inputSize, void* output,
                            DWORD outputSize, DWORD* transferred);

// Controller memory, addressed through the index word.
uint8_t WriteControllerMemory(HANDLE device, uint16_t address, uint16_t length, uint8_t* data);
uint8_t ReadControllerMemory(HANDLE device, uint16_t address, uint16_t length, uint8_t* buffer);

}  // namespace b58

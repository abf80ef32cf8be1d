// Building the controller's command packets. Everything here is pure: it fills caller-given
// buffers from its arguments and touches no device, so each layout can be checked byte for
// byte. The command routines (command_set.h) and the firmware download send what these
// build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/scanner_model.h"

namespace b58 {

inline constexpr size_t kCommandPacketSize = Model().connection.commandPacketSize;
inline constexpr size_t kScanWindowPacketSize = Model().connection.scanWindowPacketSize;

// Command bytes of the controller.
enum ControllerCommand : uint8_t {
    kCmdMoveForward = 0x15,
    kCmdStatusQuery = 0x17,
    kCmdScanWindow = 0x20,
    kCmdSetAfe = 0x22,
    kCmdCarriageHome = 0x24,
    kCmdLampControl = 0x25,
    kCmdFeatureQuery = 0x28,
    kCmdIdentityQuery = 0x2E,
    kCmdDataHandshake = 0x35,
    kCmdLampPowerQuery = 0x3F,
    kCmdStopScan = 0x41,
    kCmdStartScan = 0x43,
    kCmdDownloadComplete = 0x69,
    kCmdFirmwareState = 0x70,
    kCmdKeyQuery = 0x74,
};

// The values of one scan-window command, in the order the command routine takes them. All
// are 16-bit; of the single-bit options only bit 0 counts, of InterfaceType the low three bits.
struct ScanWindowParameters {
    uint16_t myStartx = 0;
    uint16_t myStarty = 0;
    uint16_t HWWidth = 0;
    uint16_t HWHeight = 0;
    uint16_t RXDPI = 0;
    uint16_t SWWidth = 0;   // pixels per delivered line
    uint16_t SWHeight = 0;  // lines to deliver
    uint16_t PixelFormatCode = 0;
    uint16_t DataWidth = 0;
    uint16_t Option10_5 = 0;
    uint16_t Option11_0 = 0;
    uint16_t Option11_1 = 0;
    uint16_t WindowByte = 0;
    uint16_t InterfaceType = 0;
    uint16_t Option11_6 = 0;
    uint16_t Option11_7 = 0;
    uint16_t Option20_0 = 0;
    uint16_t Option20_1 = 0;
    uint16_t Option20_2 = 0;
    uint16_t Option20_3 = 0;  // ResolutionValid for the scan itself
    uint16_t Option20_4Nibble = 0;
    uint16_t TaMode = 0;
    uint16_t Option21_1 = 0;
    uint16_t ModeField = 0;  // bit 0 pixel mode, bit 1 no lamp step, bits 2-3 adapter type code
    uint16_t RYDPI = 0;
    uint16_t TrailingWord = 0;
    uint16_t Wide16 = 0;
    uint16_t Unused = 300;  // carried by every caller, not sent
    uint16_t YMAXDPI = 0;
    uint16_t LAMPSTEP = 0;
};

// Bits of ScanWindowParameters::ModeField.
inline constexpr uint16_t kModePixel = 0x01;
inline constexpr uint16_t kModeNoLampStep = 0x02;

// The adapter type code carried in the mode field (bits 2-3) for a TaType: 1, 2 and 4 give
// 1, 2 and 3; anything else (no adapter) gives 0.
uint16_t TaTypeCode(uint16_t taType);
// The mode field from its parts.
uint16_t ScanWindowModeField(bool pixelMode, bool noLampStep, uint16_t taTypeCode);

// Byte 10 of the window: bits 0-2 the pixel format code, bits 3-7 by the sample width.
uint8_t ScanWindowFormatByte(uint16_t pixelFormatCode, uint16_t dataWidth, uint16_t option10_5,
                             uint16_t wide16);
// Bits per sample the controller sends for a sample width (16 for wide samples).
uint16_t EffectiveSampleBits(uint16_t dataWidth, uint16_t wide16);
// Bytes of one delivered line (per colour line) and the line's size in 64-byte blocks over
// all its planes.
uint16_t ScanWindowLineBytes(uint16_t swWidth, uint16_t dataWidth, uint16_t wide16);
uint16_t ScanWindowLineBlocks(uint16_t lineBytes, uint16_t pixelFormatCode);
// Lines the controller delivers: the output lines plus the colour planes' lag, unless the
// no-lamp-step flag is set or the lag is less than one motor line. A zero YMAXDPI (no motor
// resolution known) is taken as no lag rather than divided by.
uint16_t ScanWindowLines(uint16_t swHeight, bool noLampStep, uint16_t rydpi, uint16_t lampStep,
                         uint16_t ymaxdpi);

// Writes bytes 0 to 25 of the scan-window command into packet (at least 26 bytes); the rest
// of packet is left as it is.
void WriteScanWindowPacket(const ScanWindowParameters& window, uint8_t* packet);

// The gain code the front end is sent for a calibrated gain: above 51 it saturates at 63,
// from 32 to 51 it skips the codes 32-43 (gain + 12), up to 31 it goes as it is.
uint8_t MapAfeGain(uint8_t gain);

// The 64-byte command packet for a caller's input: input byte 0, then 1, then input bytes 2
// to inputSize - 1, zeros after. inputSize is at most 64 (larger is taken as 64).
void BuildCommandPacket(const uint8_t* input, uint16_t inputSize, uint8_t* packet64);

// The short form's 64-byte block: packet bytes 0 to 7, eight times over.
void BuildShortBlock(const uint8_t* packet, uint8_t* block64);

// Fills all eight 8-byte groups of a 64-byte block with one short-form command: the command
// byte, 1, and six zero bytes.
void FillShortCommand(uint8_t command, uint8_t* block64);

// The download-complete command: 0x69, 1, the byte count (little-endian), zeros after.
void BuildDownloadCompletePacket(uint16_t bytesWritten, uint8_t* packet64);

// The number of firmware bytes to transfer for an image: its length rounded up to whole
// 4096-byte units. The length travels in 14 bits, so images up to 12288 bytes fit; 0 for an
// empty image and for a longer one, which must not be sent with a wrapped length.
inline constexpr uint32_t kFirmwareUnit = 4096;
inline constexpr uint32_t kMaxFirmwareImage = 12288;
uint16_t FirmwareTransferLength(uint32_t imageBytes);

// Little-endian helpers for packets.
inline void PutLe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}
inline uint16_t GetLe16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}
inline uint32_t GetLe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

}  // namespace b58

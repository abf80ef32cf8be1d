// The virtual scanner's controller as seen on the wire: the value and index words of its
// vendor control transfers, its command codes and the status codes its replies carry.
#pragma once

#include <cstddef>
#include <cstdint>

namespace b58::sim {

// Vendor control transfers.
inline constexpr uint8_t kRequestTypeOut = 0x40;  // vendor, host to device
inline constexpr uint8_t kRequestTypeIn = 0xC0;   // vendor, device to host
inline constexpr uint8_t kRequestBlock = 0x04;    // bRequest for transfers of more than one byte
inline constexpr uint8_t kRequestSingle = 0x0C;   // bRequest for one-byte transfers

inline constexpr uint16_t kValueCommand = 0x2010;       // 64-byte command packet
inline constexpr uint16_t kValueReply = 0x2011;         // 64-byte reply
inline constexpr uint16_t kValueShortCommand = 0x2012;  // 8-byte command written eight times over
inline constexpr uint16_t kValueShortReply = 0x2013;    // 8-byte reply
inline constexpr uint16_t kValueMemoryWrite = 0x200B;   // controller memory, address in the index word
inline constexpr uint16_t kValueMemoryRead = 0x200C;
inline constexpr uint16_t kIndexCommand = 0x3F40;
inline constexpr uint16_t kIndexReply = 0x3F00;

inline constexpr size_t kPacketSize = 64;
inline constexpr size_t kShortPacketSize = 8;
inline constexpr size_t kMemorySize = 16384;
inline constexpr size_t kMemoryBlockSize = 64;  // the most one memory transfer carries

// Command codes (packet byte 0; byte 1 is always 1).
enum Command : uint8_t {
    kCmdMoveForward = 0x15,
    kCmdStatus = 0x17,
    kCmdScanWindow = 0x20,
    kCmdAfe = 0x22,
    kCmdHome = 0x24,
    kCmdLamp = 0x25,
    kCmdFeature = 0x28,
    kCmdIdentity = 0x2E,
    kCmdHandshake = 0x35,
    kCmdLampPower = 0x3F,
    kCmdStop = 0x41,
    kCmdStart = 0x43,
    kCmdDownloadComplete = 0x69,
    kCmdFirmwareState = 0x70,
    kCmdKey = 0x74,
};

constexpr bool IsKnownCommand(uint8_t command) {
    switch (command) {
        case kCmdMoveForward:
        case kCmdStatus:
        case kCmdScanWindow:
        case kCmdAfe:
        case kCmdHome:
        case kCmdLamp:
        case kCmdFeature:
        case kCmdIdentity:
        case kCmdHandshake:
        case kCmdLampPower:
        case kCmdStop:
        case kCmdStart:
        case kCmdDownloadComplete:
        case kCmdFirmwareState:
        case kCmdKey:
            return true;
        default:
            return false;
    }
}

// Commands the controller takes only in the short form; every other command only in the
// full form.
constexpr bool IsShortFormCommand(uint8_t command) {
    return command == kCmdStop || command == kCmdFirmwareState || command == kCmdKey;
}

// Commands the boot code answers without firmware.
constexpr bool NeedsFirmware(uint8_t command) {
    return command != kCmdDownloadComplete && command != kCmdFirmwareState;
}

// Reply byte 0. The host treats every value other than 0 and 1 as failure; the values
// above 1 tell a reader of a trace why.
enum Status : uint8_t {
    kStatusDone = 0x00,
    kStatusNotTaken = 0x01,      // busy with the previous packet: send the same packet again
    kStatusRefused = 0x02,       // not possible in the current state (start without a window, ...)
    kStatusBadParameter = 0x03,  // inconsistent scan window, AFE code above 63, unknown lamp bit
    kStatusNoFirmware = 0x04,    // the command needs firmware and none runs
    kStatusUnknownCommand = 0x05,
    kStatusBadPacket = 0x06,  // byte 1 not 1, wrong form, or short-form copies that differ
    kStatusNoCommand = 0x07,  // a reply read before any command was written
    kStatusBadImage = 0x08,   // download complete: the image in memory failed its check
};

// Reply byte 3 of the status query.
enum BusyCode : uint8_t {
    kIdle = 0,
    kBusyMotor = 1,      // the carriage is moving
    kBusyPreparing = 3,  // getting ready (lamp, sensor); the "busy" fault reports this
};

// Reply byte 2 of the firmware state query.
inline constexpr uint8_t kFirmwareRunning = 0xFF;
inline constexpr uint8_t kFirmwareAbsent = 0x00;

}  // namespace b58::sim

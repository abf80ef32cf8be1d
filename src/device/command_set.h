// The controller's command set: one routine per command, each building its
// packet in the driver's command channel (CommandChannel, which keeps the bytes
// a command does not write as the previous one left them) and judging the reply
// by one rule (transport succeeded, bytes came back, status 0). Results are
// bytes: 1 success, 0 failure.
//
// Every routine takes the owner window, the report mode and the link to the
// scanner (its handle, request code and command channel) first. With report
// mode 1 or 2 a failure is shown in a message box on the owner window; any
// other mode keeps it silent.
#pragma once

#include <atomic>
#include <cstdint>

#include "contract/scanner_model.h"
#include "device/afe_values.h"
#include "device/command_packets.h"
#include "device/scanner_link.h"
#include "platform/win32.h"

namespace b58 {

inline constexpr int32_t kReportSilent = 0;
inline constexpr size_t kMiscControlDataSize = Model().connection.miscControlDataSize;

// The controller's status query: byte 3 of the reply is 1 or 3 while it is
// busy.
inline constexpr uint32_t kReadyPollPauseMs = 100;
// A controller that stays busy this long (carriage moves take seconds) is taken
// as jammed.
inline constexpr uint32_t kReadyWaitLimitMs = 120000;
inline constexpr uint32_t kReadyWaitPolls = kReadyWaitLimitMs / kReadyPollPauseMs;
// The data handshake is refused until the controller has image data to send:
// lamp warm-up and the carriage run to the window take well under this.
inline constexpr uint32_t kUserCommandPauseMs = 10;
inline constexpr uint32_t kScanDataWaitLimitMs = 120000;
inline constexpr uint32_t kScanDataWaitAttempts = kScanDataWaitLimitMs / kUserCommandPauseMs;

// Sends the six bytes as they are: the gains already in the front end's codes.
uint8_t ProcessCommandSetAFEGain(HWND owner, int32_t reportMode, const ScannerLink& link,
                                 const AfeValues& codes);

// ProcessCommandSetAFEGain with each gain mapped to the front end's code
// (MapAfeGain).
uint8_t SetAFEParameters(HWND owner, int32_t reportMode, const ScannerLink& link, const AfeValues& afe);

uint8_t ProcessCommandSetScanWindowN(HWND owner, int32_t reportMode, const ScannerLink& link,
                                     const ScanWindowParameters& window);

// Writes only the command byte: bytes 2-3 go out as the previous command left
// them.
uint8_t ProcessCommandSetStartScan(HWND owner, int32_t reportMode, const ScannerLink& link);

// A command of the user-command form: its byte, the data that follows it and
// where its reply goes.
struct UserCommand {
    uint8_t command = 0;
    const uint8_t* data = nullptr;
    uint16_t dataSize = 0;
    uint8_t* reply = nullptr;
    uint16_t replySize = 0;
};

// Any command with up to 62 data bytes (copied from byte 2 on when data is not
// null), sent as 64 bytes, followed by a 10 ms pause. On success reply bytes 1
// to replySize - 1 go to reply (when it is not null and replySize is at least
// 2).
uint8_t ProcessCommandSendUserCommand(HWND owner, int32_t reportMode, const ScannerLink& link,
                                      const UserCommand& user);

// The five identity values the controller reports.
struct ScannerIdentity {
    uint16_t id1 = 0;
    uint16_t id2 = 0;
    uint16_t id3 = 0;
    uint16_t id4 = 0;
    uint32_t id5 = 0;
};

// The identity query; on success the five identity values, else the result is
// untouched.
uint8_t ProcessCommandGetAllID(HWND owner, int32_t reportMode, const ScannerLink& link, ScannerIdentity* ids);

// A command with a 58-byte data block in bytes 2 to 59, sent as 60 bytes; on
// success reply bytes 2 to 59 go to the 58-byte result block, else it is
// untouched.
uint8_t ProcessCommandMiscControl(HWND owner, int32_t reportMode, const ScannerLink& link, uint8_t command,
                                  const uint8_t* data58, uint8_t* result58);

// Polls the status query every 100 ms while the controller is busy. Returns the
// last transport result; 0 as well when the controller is still busy after
// kReadyWaitLimitMs.
uint8_t WaitScannerReady(HANDLE device);

// The short-form stop command; 1 when it went through and the reply status is 0
// (done).
uint8_t SendStopCommand(HANDLE device);

// Repeats the data handshake until the controller takes it: 1 then. 0 when it
// has not taken it within kScanDataWaitLimitMs (a dead or jammed scanner), or
// when `stopRequested` (if given) is set before an attempt; callers must then
// not read image data.
uint8_t WaitScanData(HWND owner, const ScannerLink& link,
                     const std::atomic<int32_t>* stopRequested = nullptr);

}  // namespace b58

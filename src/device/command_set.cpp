#include "device/command_set.h"

#include <algorithm>
#include <cstring>

#include "device/command_transport.h"
#include "device/poll_bound.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr const char kReportCaption[] = "TUVO.LIB";

bool SendCommandBuffer(const ScannerLink& link, uint16_t size) {
    return link.channel.Send(link.handle, link.kind, size);
}

uint8_t Failed(HWND owner, int32_t reportMode, const char* text) {
    if (reportMode == 1 || reportMode == 2) MessageBoxA(owner, text, kReportCaption, MB_OK);
    return 0;
}

}  // namespace

uint8_t ProcessCommandSetAFEGain(HWND owner, int32_t reportMode, const ScannerLink& link,
                                 const AfeValues& codes) {
    uint8_t* packet = link.channel.Command();
    packet[0] = kCmdSetAfe;
    packet[2] = codes.ROffset;
    packet[3] = codes.RGain;
    packet[4] = codes.GOffset;
    packet[5] = codes.GGain;
    packet[6] = codes.BOffset;
    packet[7] = codes.BGain;
    if (SendCommandBuffer(link, 8)) return 1;
    return Failed(owner, reportMode, "ProcessCommandSetAFEGain() Fail!");
}

uint8_t SetAFEParameters(HWND owner, int32_t reportMode, const ScannerLink& link, const AfeValues& afe) {
    return ProcessCommandSetAFEGain(owner, reportMode, link,
                                    {afe.ROffset, MapAfeGain(afe.RGain), afe.GOffset, MapAfeGain(afe.GGain),
                                     afe.BOffset, MapAfeGain(afe.BGain)});
}

uint8_t ProcessCommandSetScanWindowN(HWND owner, int32_t reportMode, const ScannerLink& link,
                                     const ScanWindowParameters& window) {
    WriteScanWindowPacket(window, link.channel.Command());
    if (SendCommandBuffer(link, kScanWindowPacketSize)) return 1;
    return Failed(owner, reportMode, "ProcessCommandSetScanWindowN() Fail!");
}

uint8_t ProcessCommandSetStartScan(HWND owner, int32_t reportMode, const ScannerLink& link) {
    link.channel.Command()[0] = kCmdStartScan;
    if (SendCommandBuffer(link, 4)) return 1;
    return Failed(owner, reportMode, "ProcessCommandSetStartScan() Fail!");
}

uint8_t ProcessCommandSendUserCommand(HWND owner, int32_t reportMode, const ScannerLink& link,
                                      const UserCommand& user) {
    if (user.data != nullptr) {
        const size_t size = std::min<size_t>(user.dataSize, kCommandPacketSize - 2);
        std::memcpy(link.channel.Command() + 2, user.data, size);
    }
    link.channel.Command()[0] = user.command;
    const bool accepted = SendCommandBuffer(link, kCommandPacketSize);
    Sleep(kUserCommandPauseMs);
    if (!accepted) return Failed(owner, reportMode, "ProcessCommandSendUserCommand() Fail!");
    if (user.reply != nullptr && user.replySize >= 2) {
        const size_t size = std::min<size_t>(user.replySize, kCommandPacketSize);
        std::memcpy(user.reply, link.channel.Reply() + 1, size - 1);
    }
    return 1;
}

uint8_t ProcessCommandGetAllID(HWND owner, int32_t reportMode, const ScannerLink& link,
                               ScannerIdentity* ids) {
    link.channel.Command()[0] = kCmdIdentityQuery;
    if (!SendCommandBuffer(link, 12)) return Failed(owner, reportMode, "ProcessCommandGetAllID() Fail!");
    const uint8_t* reply = link.channel.Reply();
    if (ids != nullptr)
        *ids = {GetLe16(reply + 2), GetLe16(reply + 4), GetLe16(reply + 6), GetLe16(reply + 8),
                GetLe32(reply + 10)};
    return 1;
}

uint8_t ProcessCommandMiscControl(HWND owner, int32_t reportMode, const ScannerLink& link, uint8_t command,
                                  const uint8_t* data58, uint8_t* result58) {
    if (data58 != nullptr) std::memcpy(link.channel.Command() + 2, data58, kMiscControlDataSize);
    link.channel.Command()[0] = command;
    if (!SendCommandBuffer(link, 2 + kMiscControlDataSize))
        return Failed(owner, reportMode, "ProcessCommandMiscControl() Fail!");
    if (result58 != nullptr) std::memcpy(result58, link.channel.Reply() + 2, kMiscControlDataSize);
    return 1;
}

uint8_t WaitScannerReady(HANDLE device) {
    PollBound bound(kReadyWaitPolls, kReadyWaitLimitMs);
    for (;;) {
        uint8_t buffer[kCommandPacketSize] = {};
        buffer[0] = kCmdStatusQuery;
        buffer[1] = 1;
        uint32_t returned = 0;
        const uint8_t result = ScannerIoControl(device, kCommandExchange, buffer, sizeof buffer, buffer,
                                                sizeof buffer, &returned);
        if (buffer[3] != 1 && buffer[3] != 3) return result;
        if (!bound.Another()) {
            Trace("WaitScannerReady gives up: the scanner stays busy!");
            return 0;
        }
        Sleep(kReadyPollPauseMs);
    }
}

uint8_t SendStopCommand(HANDLE device) {
    uint8_t buffer[kCommandPacketSize];
    FillShortCommand(kCmdStopScan, buffer);
    uint32_t returned = 0;
    const uint8_t result = ScannerIoControlShort(device, kCommandExchange, buffer, sizeof buffer, buffer,
                                                 sizeof buffer, &returned);
    // A refused stop leaves the scan running: the reply's status says so, not the
    // transfer.
    return result && buffer[0] == 0 ? 1 : 0;
}

uint8_t WaitScanData(HWND owner, const ScannerLink& link, const std::atomic<int32_t>* stopRequested) {
    PollBound bound(kScanDataWaitAttempts, kScanDataWaitLimitMs);
    for (;;) {
        if (stopRequested != nullptr && stopRequested->load(std::memory_order_acquire) != 0) return 0;
        if (ProcessCommandSendUserCommand(owner, kReportSilent, link,
                                          {kCmdDataHandshake, nullptr, kCommandPacketSize, nullptr, 0}))
            return 1;
        if (!bound.Another()) {
            Trace("WaitScanData gives up: the scanner sends no data!");
            return 0;
        }
    }
}

}  // namespace b58

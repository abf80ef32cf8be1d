// The buffers the command routines build their packets in and read their
// replies from, and the exchange of them with the controller.
//
// The command buffer is never cleared: a routine writes the command byte and
// the parameter bytes it owns and sends its command's size, so bytes it does
// not write go out as the previous command left them. The controller relies on
// that for the start command (bytes 2-3 from the AFE command) and the identity
// query.
#pragma once

#include <cstdint>

#include "device/command_packets.h"
#include "device/command_transport.h"
#include "platform/win32.h"

namespace b58 {

class CommandChannel {
  public:
    uint8_t* Command() { return command_; }
    const uint8_t* Reply() const { return reply_; }

    // Sends the first `size` bytes of the command buffer in `form`, the reply
    // into the reply buffer, and judges it: true when the transport succeeded,
    // bytes came back and the reply's status is 0.
    bool Send(HANDLE device, int32_t requestCode, uint16_t size, PacketForm form = PacketForm::Full);

  private:
    uint8_t command_[kCommandPacketSize] = {};
    uint8_t reply_[kCommandPacketSize] = {};
};

}  // namespace b58

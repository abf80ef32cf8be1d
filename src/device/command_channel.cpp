#include "device/command_channel.h"

namespace b58 {

bool CommandChannel::Send(HANDLE device, int32_t requestCode, uint16_t size, PacketForm form) {
    uint32_t returned = 0;
    const auto exchange = form == PacketForm::Short ? ScannerIoControlShort : ScannerIoControl;
    const uint8_t result = exchange(device, static_cast<uint32_t>(requestCode), command_, size, reply_,
                                    kCommandPacketSize, &returned);
    return result != 0 && returned != 0 && reply_[0] == 0;
}

}  // namespace b58

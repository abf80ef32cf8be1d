// The transfers of one device in a capture file (pcap, link type 220, as the transfer
// capture writes it), paired submission with completion, in the order they were submitted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

struct RecordedTransfer {
    enum class Kind { ControlOut, ControlIn, BulkIn } kind = Kind::ControlOut;
    UsbSetup setup;             // control transfers
    uint32_t requested = 0;     // bulk reads: the length asked for
    std::vector<uint8_t> data;  // written (control out) or received
    int32_t status = 0;         // the completion's URB status
};

struct RecordedSession {
    std::vector<RecordedTransfer> control;  // in order
    std::vector<RecordedTransfer> bulk;     // in order
};

// Reads the transfers of USB address `address` (0: the first address in the file). False,
// with a message in *error, for a file that is not such a capture or holds data cut short.
bool ReadRecordedSession(const std::string& path, int address, RecordedSession* session, std::string* error);

}  // namespace b58::usbscan

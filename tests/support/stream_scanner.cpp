#include "support/stream_scanner.h"

#include <cstring>

namespace b58::testing {

uint8_t StreamByte(uint64_t offset) {
    return static_cast<uint8_t>(offset * 7 + offset / 251);
}

bool StreamScanner::ControlIn(const usbscan::UsbSetup& setup, uint8_t* data, uint32_t* transferred) {
    std::memset(data, 0, setup.wLength);
    *transferred = setup.wLength;
    return true;
}

usbscan::BulkStatus StreamScanner::BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) {
    std::lock_guard<std::mutex> hold(lock_);
    if (offset_ + length > failAt) {
        *transferred = 0;
        return usbscan::BulkStatus::Failed;
    }
    for (uint32_t i = 0; i < length; ++i) data[i] = StreamByte(offset_ + i);
    offset_ += length;
    *transferred = length;
    return usbscan::BulkStatus::Ok;
}

}  // namespace b58::testing

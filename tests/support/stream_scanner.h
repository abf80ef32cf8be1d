// A scanner that takes every command and streams numbered bytes, optionally failing once the
// stream reaches a given offset.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/usbscan/usb_backend.h"

namespace b58::testing {

// Byte `offset` of the stream.
uint8_t StreamByte(uint64_t offset);

class StreamScanner : public usbscan::UsbBackend {
  public:
    std::atomic<uint64_t> failAt{UINT64_MAX};

    bool ControlOut(const usbscan::UsbSetup&, const uint8_t*) override { return true; }
    bool ControlIn(const usbscan::UsbSetup& setup, uint8_t* data, uint32_t* transferred) override;
    usbscan::BulkStatus BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) override;
    void CancelBulk() override {}

  private:
    std::mutex lock_;
    uint64_t offset_ = 0;
};

}  // namespace b58::testing

// A device the stand-in class driver has published: what DeviceEntry carries plus the state
// that handles opened on it share.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

struct PublishedDevice {
    PublishedDevice(int deviceIndex, std::string path, std::shared_ptr<UsbBackend> usbBackend)
        : index(deviceIndex), interfacePath(std::move(path)), backend(std::move(usbBackend)) {}

    const int index;                  // N of "\\.\UsbScanN"
    const std::string interfacePath;  // empty: not published as a device interface
    const std::shared_ptr<UsbBackend> backend;

    // Cleared when the device is withdrawn (unplugged); handles still open then fail every
    // transfer.
    std::atomic<bool> present{true};

    // The control pipe carries one transfer at a time, whichever handle issues it.
    std::mutex controlPipe;
    // The bulk pipe serves one read at a time, in the order the readers get it.
    std::mutex bulkPipe;

    // The USB address shown in transfer captures.
    uint8_t UsbAddress() const { return static_cast<uint8_t>(index + 1); }
    bool Present() const { return present.load(std::memory_order_acquire) && !backend->Gone(); }
};

}  // namespace b58::usbscan

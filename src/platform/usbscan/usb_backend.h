// The seam between our stand-in for the platform's USB still-image class driver and the
// devices behind it: the virtual scanner (sim/), test fakes, and later real hardware.
//
// The stand-in publishes each device under a fixed name "\\.\UsbScanN" and as a device
// interface of the still-image class; it turns IOCTL_WRITE_REGISTERS/IOCTL_READ_REGISTERS
// with an IO_BLOCK into vendor control transfers and ReadFile into bulk reads on the
// device's backend. (Not built on Windows, where the real class driver does this.)
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace b58::usbscan {

// The 8-byte setup packet of a control transfer.
struct UsbSetup {
    uint8_t bmRequestType = 0;  // 0x40 vendor, host to device; 0xC0 vendor, device to host
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;
};

enum class BulkStatus {
    Ok,         // the read ended; *transferred may be short at the end of the stream
    Cancelled,  // CancelBulk() ended it
    Failed,     // the device failed the transfer (unplugged, stalled pipe, ...)
};

// A USB device as the class driver sees it. Control transfers are short and synchronous.
// BulkRead may block while the device produces data; CancelBulk, called from another
// thread, makes a blocked BulkRead return Cancelled promptly.
class UsbBackend {
  public:
    virtual ~UsbBackend() = default;

    // Host-to-device transfer of setup.wLength bytes. False when the device failed it.
    virtual bool ControlOut(const UsbSetup& setup, const uint8_t* data) = 0;

    // Device-to-host transfer of up to setup.wLength bytes into data.
    virtual bool ControlIn(const UsbSetup& setup, uint8_t* data, uint32_t* transferred) = 0;

    // Reads up to length bytes of the bulk image stream.
    virtual BulkStatus BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) = 0;

    // Ends a BulkRead that is blocked waiting for data.
    virtual void CancelBulk() = 0;

    // True once the device has gone (unplugged): the class driver then treats it as
    // withdrawn.
    virtual bool Gone() const { return false; }
};

// One published device.
struct DeviceEntry {
    int index = 0;              // N of "\\.\UsbScanN", 0..9
    std::string interfacePath;  // e.g. "\\?\usb#vid_1a2b&pid_3c4d#5&1a2b3c4d&0&1#{6bdd1fc6-...}"
    std::shared_ptr<UsbBackend> backend;
};

}  // namespace b58::usbscan

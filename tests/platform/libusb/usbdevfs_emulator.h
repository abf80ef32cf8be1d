// A USB device emulated through umockdev: a device node under /dev/bus/usb and its sysfs
// entry, whose usbdevfs ioctls (claims, control and bulk URBs, reaps, discards) a
// UsbBackend answers. libusb talks to it exactly as to a real device. Needs the process to
// run under umockdev's preload library (Active()).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/usbscan/usb_backend.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace b58::test {

class UsbdevfsEmulator {
  public:
    // Vendor and product identifiers of the emulated device (made up).
    static constexpr uint16_t kVendor = 0x1a2b;
    static constexpr uint16_t kProduct = 0x3c4d;

    // True when umockdev's preload library is active in this process.
    static bool Active();

    // Plugs in a device at bus 1, address `address`, with a bulk IN endpoint 0x81 of
    // `packetSize` bytes, answered by `device`.
    UsbdevfsEmulator(std::shared_ptr<usbscan::UsbBackend> device, int address = 2, uint16_t packetSize = 512);
    ~UsbdevfsEmulator();

    // The "usb@N" options that choose this device.
    std::string ByAddress() const;

    // Another program holds the interface: claims fail with EBUSY.
    void SetClaimedElsewhere(bool claimed);
    // Pulls the device: every later ioctl fails with ENODEV, a bulk read in the device ends.
    void Unplug();

    // Pulls the device once `count` more URBs have been submitted (the one that reaches the
    // count fails already).
    void UnplugAfterUrbs(int count);
    int UrbsSubmitted() const;

    // URBs of each kind the device saw, for checks on how libusb split the reads.
    std::vector<int> BulkUrbLengths() const;
    int Discards() const;

  private:
    struct Urb;
    static int HandleIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool Handle(UMockdevIoctlClient* client);
    void ServeBulk();
    void Finish(std::shared_ptr<Urb> urb);

    std::shared_ptr<usbscan::UsbBackend> device_;
    const int address_;
    const uint16_t packetSize_;
    std::string devnode_;
    std::string sysfsPath_;
    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool gone_ = false;
    bool claimedElsewhere_ = false;
    std::deque<std::shared_ptr<Urb>> bulkQueue_;
    std::shared_ptr<Urb> bulkActive_;
    std::deque<std::shared_ptr<Urb>> done_;
    std::vector<int> bulkLengths_;
    int discards_ = 0;
    int submitted_ = 0;
    int unplugAt_ = -1;
    std::thread bulkWorker_;
};

}  // namespace b58::test

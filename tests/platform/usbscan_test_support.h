// Helpers for the class driver's tests: published fakes that are withdrawn again at the end
// of a test, handles opened the way CreateFileA opens them, and register requests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/usbscan/class_driver.h"
#include "platform/usbscan/device_names.h"
#include "platform/win32.h"
#include "support/fake_usb_backend.h"

namespace b58::test {

// Publishes a fake device for the life of the object.
class PublishedFake {
  public:
    explicit PublishedFake(int index, std::string path = "")
        : index_(index), backend_(std::make_shared<FakeUsbBackend>()) {
        usbscan::Publish(usbscan::DeviceEntry{
            index, path.empty() ? usbscan::DefaultInterfacePath(index) : std::move(path), backend_});
    }
    ~PublishedFake() { usbscan::Withdraw(index_); }
    PublishedFake(const PublishedFake&) = delete;
    PublishedFake& operator=(const PublishedFake&) = delete;

    FakeUsbBackend& backend() { return *backend_; }

  private:
    int index_;
    std::shared_ptr<FakeUsbBackend> backend_;
};

inline std::string FixedName(int index) {
    return "\\\\.\\UsbScan" + std::to_string(index);
}

// Opens a device the way the driver does (read and write, shared, overlapped unless `flags`
// says otherwise); INVALID_HANDLE_VALUE with the last error set when it does not open.
inline HANDLE OpenDeviceHandle(const std::string& name, DWORD flags = FILE_FLAG_OVERLAPPED) {
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
}

// An overlapped record with its own manual-reset event.
struct OverlappedRecord {
    OverlappedRecord() { record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~OverlappedRecord() { CloseHandle(record.hEvent); }
    OverlappedRecord(const OverlappedRecord&) = delete;
    OverlappedRecord& operator=(const OverlappedRecord&) = delete;
    bool Signalled() const { return WaitForSingleObject(record.hEvent, 0) == WAIT_OBJECT_0; }
    OVERLAPPED record{};
};

inline IO_BLOCK RegisterBlock(uint16_t value, uint16_t index, uint32_t length, uint8_t* data) {
    IO_BLOCK block{};
    block.uOffset = value;
    block.uIndex = index;
    block.uLength = length;
    block.pbyData = data;
    return block;
}

}  // namespace b58::test

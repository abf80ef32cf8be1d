// An open handle on a published device: register requests become vendor control transfers,
// reads come from the bulk image stream.
#pragma once

#include <atomic>
#include <memory>

#include "platform/posix/kernel_object.h"
#include "platform/usbscan/bulk_reader.h"
#include "platform/usbscan/published_device.h"
#include "platform/usbscan/register_request.h"

namespace b58::usbscan {

class DeviceHandle final : public platform::IoObject {
  public:
    // `overlapped`: the handle was opened with FILE_FLAG_OVERLAPPED, so every call takes an
    // OVERLAPPED record and reads complete later; otherwise calls finish before returning.
    DeviceHandle(std::shared_ptr<PublishedDevice> device, bool overlapped);

    BOOL Read(void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* overlapped) override;
    BOOL Write(const void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* overlapped) override;
    // Register requests complete before the call returns, also on an overlapped handle (the
    // record is completed and its event signalled too).
    BOOL IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                   OVERLAPPED* overlapped) override;
    // Cancels this handle's reads; returns once none of them writes into its buffer any more.
    BOOL Cancel() override;
    // Cancels the reads and ends the worker; the handle refuses every later call.
    void OnLastHandleClosed() override;

  private:
    DWORD CarryControlTransfer(const RegisterRequest& request, void* out, DWORD* transferred);
    BOOL ReadAndWait(void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* callersRecord);
    BOOL StartRead(void* buffer, DWORD size, OVERLAPPED* overlapped);

    const std::shared_ptr<PublishedDevice> device_;
    const bool overlapped_;
    std::atomic<bool> closed_{false};
    BulkReader reader_;
};

}  // namespace b58::usbscan

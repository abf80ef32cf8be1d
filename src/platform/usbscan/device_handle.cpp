#include "platform/usbscan/device_handle.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/usbscan/usb_capture.h"
#include "platform/usbscan/usbmon_record.h"

namespace b58::usbscan {
namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Ends a call that finished before returning: its OVERLAPPED record, if any, is completed
// with the same result the call returns.
BOOL Finish(DWORD error, DWORD transferred, DWORD* returned, OVERLAPPED* overlapped) {
    if (overlapped != nullptr) {
        platform::BeginOverlapped(overlapped);
        platform::CompleteOverlapped(overlapped, error, error == ERROR_SUCCESS ? transferred : 0);
    }
    if (error != ERROR_SUCCESS) return Fail(error);
    if (returned != nullptr) *returned = transferred;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace

DeviceHandle::DeviceHandle(std::shared_ptr<PublishedDevice> device, bool overlapped)
    : device_(std::move(device)), overlapped_(overlapped), reader_(device_) {}

BOOL DeviceHandle::IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                             OVERLAPPED* overlapped) {
    if (closed_.load(std::memory_order_acquire)) return Fail(ERROR_INVALID_HANDLE);
    if (overlapped_ && overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (returned != nullptr) *returned = 0;

    RegisterRequest request;
    DWORD transferred = 0;
    DWORD error = DecodeRegisterRequest(code, in, inSize, out, outSize, &request);
    if (error == ERROR_SUCCESS) error = CarryControlTransfer(request, out, &transferred);
    return Finish(error, transferred, returned, overlapped);
}

DWORD DeviceHandle::CarryControlTransfer(const RegisterRequest& request, void* out, DWORD* transferred) {
    if (!device_->Present()) return ERROR_DEVICE_NOT_CONNECTED;
    std::lock_guard<std::mutex> pipe(device_->controlPipe);
    if (!device_->Present()) return ERROR_DEVICE_NOT_CONNECTED;

    const UsbSetup& setup = request.setup;
    const uint8_t address = device_->UsbAddress();
    UsbBackend& backend = *device_->backend;
    if (!request.deviceToHost) {
        uint64_t id = CaptureControlSubmit(address, setup, request.writeData);
        bool done = backend.ControlOut(setup, request.writeData);
        CaptureControlComplete(id, address, setup, done ? kUrbOk : kUrbStalled, nullptr,
                               done ? setup.wLength : 0);
        if (!done) return device_->Present() ? ERROR_GEN_FAILURE : ERROR_DEVICE_NOT_CONNECTED;
        *transferred = 0;
        return ERROR_SUCCESS;
    }

    // The reply lands in a buffer of our own first, so a failed transfer leaves the
    // caller's buffer as it was.
    std::vector<uint8_t> reply(std::max<size_t>(setup.wLength, 1));
    uint64_t id = CaptureControlSubmit(address, setup, nullptr);
    uint32_t got = 0;
    bool done = backend.ControlIn(setup, reply.data(), &got);
    got = done ? std::min<uint32_t>(got, setup.wLength) : 0;
    CaptureControlComplete(id, address, setup, done ? kUrbOk : kUrbStalled, reply.data(), got);
    if (!done) return device_->Present() ? ERROR_GEN_FAILURE : ERROR_DEVICE_NOT_CONNECTED;
    if (got > 0) std::memcpy(out, reply.data(), got);
    *transferred = got;
    return ERROR_SUCCESS;
}

BOOL DeviceHandle::Read(void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* overlapped) {
    if (closed_.load(std::memory_order_acquire)) return Fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && size > 0) return Fail(ERROR_INVALID_PARAMETER);
    if (transferred != nullptr) *transferred = 0;
    if (!overlapped_) return ReadAndWait(buffer, size, transferred, overlapped);
    if (overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return StartRead(buffer, size, overlapped);
}

BOOL DeviceHandle::StartRead(void* buffer, DWORD size, OVERLAPPED* overlapped) {
    if (size == 0) return Finish(ERROR_SUCCESS, 0, nullptr, overlapped);
    if (!device_->Present()) return Finish(ERROR_DEVICE_NOT_CONNECTED, 0, nullptr, overlapped);
    platform::BeginOverlapped(overlapped);
    if (!reader_.Queue(static_cast<uint8_t*>(buffer), size, overlapped)) {
        platform::CompleteOverlapped(overlapped, ERROR_INVALID_HANDLE, 0);
        return Fail(ERROR_INVALID_HANDLE);
    }
    return Fail(ERROR_IO_PENDING);
}

BOOL DeviceHandle::ReadAndWait(void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* callersRecord) {
    OVERLAPPED own{};
    own.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (own.hEvent == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    StartRead(buffer, size, &own);
    DWORD count = 0;
    BOOL done = GetOverlappedResult(nullptr, &own, &count, TRUE);
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    CloseHandle(own.hEvent);
    return Finish(error, count, transferred, callersRecord);
}

BOOL DeviceHandle::Write(const void*, DWORD, DWORD*, OVERLAPPED* overlapped) {
    // The scanner takes everything through its control pipe; the handle has no stream to write.
    if (overlapped != nullptr) return Finish(ERROR_NOT_SUPPORTED, 0, nullptr, overlapped);
    return Fail(ERROR_NOT_SUPPORTED);
}

BOOL DeviceHandle::Cancel() {
    if (closed_.load(std::memory_order_acquire)) return Fail(ERROR_INVALID_HANDLE);
    reader_.CancelCallersReads();
    return TRUE;
}

void DeviceHandle::OnLastHandleClosed() {
    closed_.store(true, std::memory_order_release);
    reader_.Shutdown();
}

}  // namespace b58::usbscan

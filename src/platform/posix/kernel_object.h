// Kernel objects behind HANDLE values in the stand-in platform: every HANDLE the stand-in
// gives out names an entry of one process-wide table that holds a shared reference to its
// object, so an object lives while a handle to it is open or a call is using it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/win32.h"

namespace b58::platform {

class KernelObject : public std::enable_shared_from_this<KernelObject> {
public:
    virtual ~KernelObject() = default;

    // Waits until the object is signalled, for at most `milliseconds` (already scaled;
    // INFINITE waits for ever). Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_ABANDONED;
    // objects that cannot be waited on fail with ERROR_INVALID_HANDLE.
    virtual DWORD Wait(DWORD milliseconds);

    // Called once when the last handle to the object is closed.
    virtual void OnLastHandleClosed() {}
};

// Objects that ReadFile, WriteFile, DeviceIoControl and CancelIo work on. Each call
// behaves as the Windows function of that name for this object; an overlapped call that
// does not finish at once returns FALSE with ERROR_IO_PENDING and later completes through
// CompleteOverlapped.
class IoObject : public KernelObject {
public:
    virtual BOOL Read(void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* overlapped);
    virtual BOOL Write(const void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* overlapped);
    virtual BOOL IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                           OVERLAPPED* overlapped);
    virtual BOOL Cancel();
};

// A manual- or auto-reset event.
class EventObject : public KernelObject {
public:
    EventObject(bool manualReset, bool initialState) : manualReset_(manualReset), signalled_(initialState) {}
    DWORD Wait(DWORD milliseconds) override;
    void Set();
    void Reset();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    const bool manualReset_;
    bool signalled_;
};

// The handle table.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> ReferenceHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(ReferenceHandle(handle));
}
// Removes the handle; false when it was not open.
bool RemoveHandle(HANDLE handle);

// Status value kept in OVERLAPPED::Internal while an operation is in flight.
inline constexpr ULONG_PTR kOverlappedPending = 0x103;  // STATUS_PENDING

// Marks an overlapped operation as started (Internal = pending, count 0, event reset).
void BeginOverlapped(OVERLAPPED* overlapped);
// Finishes an overlapped operation: stores its result (an ERROR_ code, 0 for success) and
// count, then signals the caller's event.
void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD transferred);

}  // namespace b58::platform

// The stand-in's kernel objects inside a Windows process, where the class driver runs beside
// the real system: each object the stand-in gives out (a device handle, a device information
// set) is named by the handle of an unnamed event of the system's own, so its value can never
// be that of another open handle, and the host tells the stand-in's handles from the system's
// by looking them up here. Overlapped records are completed as the kernel completes them: an
// NTSTATUS in Internal, the count in InternalHigh, then the caller's event, so that the
// system's GetOverlappedResult and waits read them unchanged.
#include <atomic>
#include <map>
#include <new>

#include "platform/posix/kernel_object.h"

namespace b58::platform {
namespace {

struct HandleTable {
    std::mutex lock;
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // never destroyed: threads may outlive main()
    return *table;
}

// The status the kernel would leave for a result the stand-in reports as a Win32 error; the
// system turns it back into that error (RtlNtStatusToDosError).
ULONG_PTR StatusOf(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return 0x00000000;  // STATUS_SUCCESS
        case ERROR_OPERATION_ABORTED:
            return 0xC0000120;  // STATUS_CANCELLED
        case ERROR_DEVICE_NOT_CONNECTED:
            return 0xC000009D;  // STATUS_DEVICE_NOT_CONNECTED
        case ERROR_INVALID_HANDLE:
            return 0xC0000008;  // STATUS_INVALID_HANDLE
        case ERROR_INVALID_PARAMETER:
            return 0xC000000D;  // STATUS_INVALID_PARAMETER
        case ERROR_INVALID_FUNCTION:
            return 0xC0000010;  // STATUS_INVALID_DEVICE_REQUEST
        case ERROR_NOT_SUPPORTED:
            return 0xC00000BB;  // STATUS_NOT_SUPPORTED
        case ERROR_NOT_ENOUGH_MEMORY:
            return 0xC0000017;  // STATUS_NO_MEMORY
        case ERROR_INSUFFICIENT_BUFFER:
            return 0xC0000023;  // STATUS_BUFFER_TOO_SMALL
        default:
            return 0xC0000001;  // STATUS_UNSUCCESSFUL: ERROR_GEN_FAILURE
    }
}

HANDLE EventOf(const OVERLAPPED* overlapped) {
    // The low bit only keeps the completion from a completion port; it is not part of the handle.
    return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(overlapped->hEvent) & ~ULONG_PTR{1});
}

}  // namespace

DWORD KernelObject::Wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

BOOL IoObject::Read(void*, DWORD, DWORD*, OVERLAPPED*) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL IoObject::Write(const void*, DWORD, DWORD*, OVERLAPPED*) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL IoObject::IoControl(DWORD, void*, DWORD, void*, DWORD, DWORD*, OVERLAPPED*) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL IoObject::Cancel() {
    return TRUE;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HANDLE name = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (name == nullptr) throw std::bad_alloc();
    HandleTable& table = Table();
    std::lock_guard<std::mutex> hold(table.lock);
    table.objects[reinterpret_cast<uintptr_t>(name)] = std::move(object);
    return name;
}

std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> hold(table.lock);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;
    {
        HandleTable& table = Table();
        std::lock_guard<std::mutex> hold(table.lock);
        auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it == table.objects.end()) return false;
        object = std::move(it->second);
        table.objects.erase(it);
    }
    // One handle per object: the host does not duplicate them.
    object->OnLastHandleClosed();
    // Only now may the system give the value out again.
    CloseHandle(handle);
    return true;
}

void BeginOverlapped(OVERLAPPED* overlapped) {
    overlapped->Internal = kOverlappedPending;
    overlapped->InternalHigh = 0;
    if (HANDLE event = EventOf(overlapped)) ResetEvent(event);
}

void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD transferred) {
    // The event is read before the status is published: once Internal leaves "pending",
    // the caller may reuse or free the record.
    HANDLE event = EventOf(overlapped);
    overlapped->InternalHigh = transferred;
    std::atomic_ref<ULONG_PTR>(overlapped->Internal).store(StatusOf(error), std::memory_order_release);
    if (event != nullptr) SetEvent(event);
}

}  // namespace b58::platform

#include "platform/posix/entry_fault.h"
#include "platform/posix/kernel_object.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <unordered_map>

#include "platform/platform_control.h"

namespace b58::platform {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x100;  // small values stay free: null and -1 are never handles
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // never destroyed: threads may outlive main()
    return *table;
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
BOOL IoObject::Cancel() { return TRUE; }

DWORD EventObject::Wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> hold(lock_);
    auto ready = [this] { return signalled_; };
    if (milliseconds == INFINITE) {
        changed_.wait(hold, ready);
    } else if (!changed_.wait_for(hold, std::chrono::milliseconds(milliseconds), ready)) {
        return WAIT_TIMEOUT;
    }
    if (!manualReset_) signalled_ = false;
    return WAIT_OBJECT_0;
}

void EventObject::Set() {
    std::lock_guard<std::mutex> hold(lock_);
    signalled_ = true;
    if (manualReset_) {
        changed_.notify_all();
    } else {
        changed_.notify_one();
    }
}

void EventObject::Reset() {
    std::lock_guard<std::mutex> hold(lock_);
    signalled_ = false;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> hold(table.lock);
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
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
    // One handle per object here (DuplicateHandle does not exist in the stand-in).
    object->OnLastHandleClosed();
    return true;
}

void BeginOverlapped(OVERLAPPED* overlapped) {
    overlapped->Internal = kOverlappedPending;
    overlapped->InternalHigh = 0;
    if (overlapped->hEvent != nullptr) ResetEvent(overlapped->hEvent);
}

void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD transferred) {
    // The event is read before the status is published: once Internal leaves "pending",
    // the caller may reuse or free the record.
    HANDLE event = overlapped->hEvent;
    overlapped->InternalHigh = transferred;
    std::atomic_ref<ULONG_PTR>(overlapped->Internal).store(error, std::memory_order_release);
    if (event != nullptr) SetEvent(event);
}

}  // namespace b58::platform

using namespace b58::platform;

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) try {
    if (name != nullptr) {  // named events are not needed by the driver
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
} catch (...) {
    return b58::platform::EntryFault(static_cast<HANDLE>(nullptr));
}

BOOL SetEvent(HANDLE event) {
    auto object = ReferenceHandleAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto object = ReferenceHandleAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto object = ReferenceHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->Wait(ScaledMilliseconds(milliseconds));
}

BOOL CloseHandle(HANDLE handle) {
    if (!RemoveHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    std::atomic_ref<ULONG_PTR> status(overlapped->Internal);
    if (status.load(std::memory_order_acquire) == kOverlappedPending) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        // The event may be auto-reset or shared; wait until the status itself says done.
        while (status.load(std::memory_order_acquire) == kOverlappedPending) {
            auto event = ReferenceHandleAs<EventObject>(overlapped->hEvent);
            if (!event) break;
            event->Wait(50);
        }
        while (status.load(std::memory_order_acquire) == kOverlappedPending) {
            // No event to wait on: poll.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (transferred != nullptr) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    DWORD error = static_cast<DWORD>(status.load(std::memory_order_acquire));
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

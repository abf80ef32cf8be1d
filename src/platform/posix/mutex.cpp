// CreateMutexA, OpenMutexA and ReleaseMutex. Each handle is an object of its own that
// shares the mutex with the other handles to it, so closing one handle leaves the others
// (and the owner's ownership) alone; a named mutex loses its name with its last handle.
#include "platform/posix/entry_fault.h"
#include "platform/posix/kernel_object.h"
#include "platform/posix/mutex_core.h"
#include "platform/posix/named_mutex.h"

namespace b58::platform {
namespace {

class MutexObject final : public KernelObject {
  public:
    explicit MutexObject(std::shared_ptr<MutexCore> mutex) : mutex_(std::move(mutex)) {}
    DWORD Wait(DWORD milliseconds) override { return mutex_->Acquire(milliseconds); }
    void OnLastHandleClosed() override { mutex_->HandleClosed(); }
    MutexCore& Mutex() { return *mutex_; }

  private:
    const std::shared_ptr<MutexCore> mutex_;
};

// A security descriptor must carry the revision InitializeSecurityDescriptor writes; the
// system refuses to create an object with one that does not (a descriptor that was
// allocated but never initialised, say). Both descriptor forms keep it in the first byte.
bool DescriptorIsUsable(const SECURITY_ATTRIBUTES* attributes) {
    if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return true;
    return *static_cast<const BYTE*>(attributes->lpSecurityDescriptor) == SECURITY_DESCRIPTOR_REVISION;
}

}  // namespace
}  // namespace b58::platform

using namespace b58::platform;

// The access list in `attributes` is not enforced here: any process of the machine may
// open and wait on a named mutex, whatever list it was created with.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name) try {
    if (!DescriptorIsUsable(attributes)) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return nullptr;
    }
    if (name == nullptr || name[0] == '\0') {
        auto mutex = CreatePrivateMutex();
        if (!mutex) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (initialOwner) mutex->Acquire(0);  // nobody else can reach it yet
        SetLastError(ERROR_SUCCESS);
        return InsertHandle(std::make_shared<MutexObject>(std::move(mutex)));
    }
    NamedMutexResult result = OpenNamedMutex(name, true, initialOwner != FALSE);
    if (!result.mutex) {
        SetLastError(result.error);
        return nullptr;
    }
    HANDLE handle = InsertHandle(std::make_shared<MutexObject>(std::move(result.mutex)));
    SetLastError(result.existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
} catch (...) {
    return b58::platform::EntryFault(static_cast<HANDLE>(nullptr));
}

// The requested access is not checked either: every handle may wait and release.
HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name) try {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    NamedMutexResult result = OpenNamedMutex(name, false, false);
    if (!result.mutex) {
        SetLastError(result.error);
        return nullptr;
    }
    return InsertHandle(std::make_shared<MutexObject>(std::move(result.mutex)));
} catch (...) {
    return b58::platform::EntryFault(static_cast<HANDLE>(nullptr));
}

BOOL ReleaseMutex(HANDLE handle) {
    auto object = ReferenceHandleAs<MutexObject>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->Mutex().Release() ? TRUE : FALSE;
}

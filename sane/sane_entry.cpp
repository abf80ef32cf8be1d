// The entry points the SANE "dll" meta-backend resolves by name. No C++ exception leaves
// them; every call but sane_init and sane_exit checks that the backend is up and the
// handle its own.
#include <sane/sane.h>

#include <cstring>
#include <memory>
#include <new>

#include "backend.h"

#define B58_SANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using b58::sane::Backend;
using b58::sane::Handle;

constexpr SANE_Int kBuild = 1;

// Frontends call the backend from one thread at a time (sane_cancel aside, which touches
// only atomics), so the backend pointer needs no lock; it is atomic for sane_cancel.
std::atomic<Backend*> g_backend{nullptr};

Handle* Checked(SANE_Handle h) {
    Backend* backend = g_backend.load(std::memory_order_acquire);
    Handle* handle = static_cast<Handle*>(h);
    return backend != nullptr && backend->Owns(handle) ? handle : nullptr;
}

template <typename Fn>
SANE_Status Guarded(Fn fn) noexcept {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return SANE_STATUS_NO_MEM;
    } catch (...) {
        return SANE_STATUS_IO_ERROR;
    }
}

}  // namespace

B58_SANE_EXPORT SANE_Status sane_b58_init(SANE_Int* version, SANE_Auth_Callback) {
    if (version != nullptr) *version = SANE_VERSION_CODE(SANE_CURRENT_MAJOR, SANE_CURRENT_MINOR, kBuild);
    return Guarded([] {
        if (g_backend.load() == nullptr) g_backend.store(new Backend(b58::sane::LoadConfig()));
        return SANE_STATUS_GOOD;
    });
}

B58_SANE_EXPORT void sane_b58_exit(void) {
    Guarded([] {
        delete g_backend.exchange(nullptr);
        return SANE_STATUS_GOOD;
    });
}

B58_SANE_EXPORT SANE_Status sane_b58_get_devices(const SANE_Device*** list, SANE_Bool) {
    if (list == nullptr) return SANE_STATUS_INVAL;
    return Guarded([list] {
        static const SANE_Device* none[] = {nullptr};
        Backend* backend = g_backend.load();
        *list = backend != nullptr ? backend->Devices() : none;
        return SANE_STATUS_GOOD;
    });
}

B58_SANE_EXPORT SANE_Status sane_b58_open(SANE_String_Const name, SANE_Handle* handle) {
    if (handle == nullptr) return SANE_STATUS_INVAL;
    *handle = nullptr;
    return Guarded([name, handle] {
        Backend* backend = g_backend.load();
        if (backend == nullptr) return SANE_STATUS_INVAL;
        Handle* opened = nullptr;
        const SANE_Status status = backend->Open(name != nullptr ? name : "", opened);
        *handle = opened;
        return status;
    });
}

B58_SANE_EXPORT void sane_b58_close(SANE_Handle h) {
    Guarded([h] {
        if (Handle* handle = Checked(h)) g_backend.load()->Close(handle);
        return SANE_STATUS_GOOD;
    });
}

B58_SANE_EXPORT const SANE_Option_Descriptor* sane_b58_get_option_descriptor(SANE_Handle h, SANE_Int option) {
    Handle* handle = Checked(h);
    return handle != nullptr ? handle->Descriptor(option) : nullptr;
}

B58_SANE_EXPORT SANE_Status sane_b58_control_option(SANE_Handle h, SANE_Int option, SANE_Action action,
                                                    void* value, SANE_Int* info) {
    if (info != nullptr) *info = 0;
    return Guarded([=] {
        Handle* handle = Checked(h);
        return handle != nullptr ? handle->Control(option, action, value, info) : SANE_STATUS_INVAL;
    });
}

B58_SANE_EXPORT SANE_Status sane_b58_get_parameters(SANE_Handle h, SANE_Parameters* parameters) {
    if (parameters == nullptr) return SANE_STATUS_INVAL;
    return Guarded([=] {
        Handle* handle = Checked(h);
        return handle != nullptr ? handle->Parameters(*parameters) : SANE_STATUS_INVAL;
    });
}

B58_SANE_EXPORT SANE_Status sane_b58_start(SANE_Handle h) {
    return Guarded([=] {
        Handle* handle = Checked(h);
        return handle != nullptr ? handle->Start() : SANE_STATUS_INVAL;
    });
}

B58_SANE_EXPORT SANE_Status sane_b58_read(SANE_Handle h, SANE_Byte* data, SANE_Int max, SANE_Int* length) {
    if (length != nullptr) *length = 0;
    if (data == nullptr || length == nullptr || max < 0) return SANE_STATUS_INVAL;
    return Guarded([=] {
        Handle* handle = Checked(h);
        return handle != nullptr ? handle->Read(data, max, *length) : SANE_STATUS_INVAL;
    });
}

// Safe in a signal handler and from another thread: it only stores to atomics.
B58_SANE_EXPORT void sane_b58_cancel(SANE_Handle h) {
    Backend* backend = g_backend.load(std::memory_order_acquire);
    Handle* handle = static_cast<Handle*>(h);
    if (backend != nullptr && backend->Owns(handle)) handle->Cancel();
}

B58_SANE_EXPORT SANE_Status sane_b58_set_io_mode(SANE_Handle h, SANE_Bool nonBlocking) {
    return Guarded([=] {
        Handle* handle = Checked(h);
        return handle != nullptr ? handle->SetIoMode(nonBlocking == SANE_TRUE) : SANE_STATUS_INVAL;
    });
}

B58_SANE_EXPORT SANE_Status sane_b58_get_select_fd(SANE_Handle h, SANE_Int* fd) {
    if (fd != nullptr) *fd = -1;
    return Checked(h) != nullptr ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_INVAL;
}

// The stand-in's entry points answer as the system's do: with a failure value and a last
// error, never with a C++ exception, which would cross into the driver and on to the host.
// Each entry point that allocates or starts a thread is a function-try-block whose handler
// returns EntryFault(failure value).
#pragma once

#include <new>

#include "platform/win32.h"

namespace b58::platform {

// Inside a catch handler only: sets the last error from the exception being handled
// (ERROR_NOT_ENOUGH_MEMORY for memory, ERROR_GEN_FAILURE for anything else) and returns
// `failure`.
template <typename T>
T EntryFault(T failure) noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastError(ERROR_GEN_FAILURE);
    }
    return failure;
}

}  // namespace b58::platform

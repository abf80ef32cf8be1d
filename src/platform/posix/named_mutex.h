// Named mutexes, shared by every process of the machine that uses the same name.
//
// Each one is a robust, process-shared mutex in a POSIX shared-memory object named after
// the mutex. The object lives while some process has it open, as a named kernel object
// does: each process holding it keeps a shared file lock on it, the last one to close it
// removes the name, and an object whose processes all died without closing it (no lock
// left) counts as gone. Creating, opening and closing run under an exclusive lock on the
// shared-memory directory, so these steps of different processes never interleave.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/mutex_core.h"

namespace b58::platform {

// The shared-memory object name for the mutex name `name`, in `objectName`. The prefixes
// "Global\" and "Local\" are dropped (both name the one namespace of this machine),
// `ipcNamespace` is put in front, and characters other than letters, digits, '_' and '.'
// are escaped. ERROR_SUCCESS, or the error for a name that cannot be used.
DWORD SharedObjectName(const char* name, const std::string& ipcNamespace, std::string* objectName);

// The namespace prefix of this process's shared objects: B58_IPC_NAMESPACE, read once,
// which lets test runs that go on at the same time keep their objects apart.
const std::string& IpcNamespace();

struct NamedMutexResult {
    std::shared_ptr<MutexCore> mutex;  // null on failure
    bool existed = false;              // the mutex existed before the call
    DWORD error = ERROR_SUCCESS;       // why it failed
};

// Opens the named mutex; when `create` and no such mutex exists, creates it first, owned
// by the calling thread if `takeOwnership` (an existing mutex is opened, not taken).
NamedMutexResult OpenNamedMutex(const char* name, bool create, bool takeOwnership);

}  // namespace b58::platform

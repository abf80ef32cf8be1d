// The mutex behind a mutex handle: owned by one thread at a time, recursive for its owner,
// and abandoned when the owner thread (or its process) ends while owning it, in which case
// the next waiter becomes the owner and is told so. It is built on a robust, recursive
// pthread mutex, which the system itself marks when its owner dies; the mutex lives either
// in this process's memory or in memory shared with other processes (named mutexes).
#pragma once

#include <pthread.h>

#include <memory>

#include "platform/win32.h"

namespace b58::platform {

class MutexCore : public std::enable_shared_from_this<MutexCore> {
  public:
    MutexCore(const MutexCore&) = delete;
    MutexCore& operator=(const MutexCore&) = delete;
    virtual ~MutexCore() = default;

    // Waits at most `milliseconds` (already scaled; INFINITE waits for ever) for ownership.
    // WAIT_OBJECT_0 or WAIT_ABANDONED when the calling thread now owns the mutex,
    // WAIT_TIMEOUT when not, WAIT_FAILED with the last error set otherwise.
    DWORD Acquire(DWORD milliseconds);

    // Gives up one level of the calling thread's ownership. False with ERROR_NOT_OWNER when
    // the calling thread does not own the mutex.
    bool Release();

    // Called when a handle to the mutex is closed.
    virtual void HandleClosed() {}

    // Prepares `where` as a robust, recursive mutex, shared between processes if asked.
    // Returns 0 or the pthread error.
    static int InitialiseNative(pthread_mutex_t* where, bool processShared);

  protected:
    explicit MutexCore(pthread_mutex_t* native) : native_(native) {}

  private:
    pthread_mutex_t* const native_;
};

// A mutex for this process only (an unnamed mutex). Null when the system refuses one.
std::shared_ptr<MutexCore> CreatePrivateMutex();

}  // namespace b58::platform

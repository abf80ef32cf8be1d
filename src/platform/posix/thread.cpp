// CreateThread and the thread queries. A thread handle is signalled once the thread has
// ended completely (it is joined), so a waiter also sees every mutex the thread still
// owned marked abandoned and may unload the code the thread ran. The thread keeps
// running when its handle is closed; it is then detached.
#include <pthread.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/posix/entry_fault.h"
#include "platform/posix/kernel_object.h"
#include "platform/posix/wall_clock.h"

namespace b58::platform {
namespace {

// What the new thread and its handle share.
struct ThreadRecord {
    std::mutex lock;
    std::condition_variable changed;
    DWORD id = 0;           // set by the thread as it starts
    bool returned = false;  // its routine has returned
    DWORD exitCode = STILL_ACTIVE;
};

struct StartBlock {
    std::shared_ptr<ThreadRecord> record;
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

void* ThreadMain(void* raw) {
    StartBlock start = *static_cast<StartBlock*>(raw);
    delete static_cast<StartBlock*>(raw);
    {
        std::lock_guard<std::mutex> hold(start.record->lock);
        start.record->id = GetCurrentThreadId();
    }
    start.record->changed.notify_all();
    DWORD exitCode = start.routine(start.parameter);
    {
        std::lock_guard<std::mutex> hold(start.record->lock);
        start.record->returned = true;
        start.record->exitCode = exitCode;
    }
    start.record->changed.notify_all();
    return nullptr;
}

class ThreadObject final : public KernelObject {
  public:
    ThreadObject(pthread_t thread, std::shared_ptr<ThreadRecord> record)
        : thread_(thread), record_(std::move(record)) {}

    ~ThreadObject() override {
        // Nobody can wait any more: a thread still running is left to end on its own.
        if (!joined_) pthread_detach(thread_);
    }

    // One waiter at a time joins the thread, in slices so that its time-out can pass;
    // the others wait for the outcome.
    DWORD Wait(DWORD timeout) override {
        using namespace std::chrono;
        if (pthread_equal(thread_, pthread_self())) {
            // A thread waiting for its own end waits in vain.
            if (timeout == INFINITE) {
                SetLastError(ERROR_POSSIBLE_DEADLOCK);
                return WAIT_FAILED;
            }
            std::this_thread::sleep_for(milliseconds(timeout));
            return WAIT_TIMEOUT;
        }
        const auto deadline = steady_clock::now() + milliseconds(timeout);
        std::unique_lock<std::mutex> hold(record_->lock);
        while (!joined_) {
            const bool forever = timeout == INFINITE;
            auto remaining = duration_cast<nanoseconds>(deadline - steady_clock::now());
            if (joining_) {
                if (forever) {
                    record_->changed.wait(hold);
                } else if (remaining <= nanoseconds::zero() ||
                           record_->changed.wait_for(hold, remaining) == std::cv_status::timeout) {
                    if (!joined_) return WAIT_TIMEOUT;
                }
                continue;
            }
            joining_ = true;
            hold.unlock();
            int result;
            if (forever) {
                result = pthread_join(thread_, nullptr);
            } else if (remaining <= nanoseconds::zero()) {
                result = pthread_tryjoin_np(thread_, nullptr);
            } else {
                timespec at = WallClockAfter(std::min<nanoseconds>(remaining, kWallClockSlice));
                result = pthread_timedjoin_np(thread_, nullptr, &at);
            }
            hold.lock();
            joining_ = false;
            joined_ = result == 0;
            record_->changed.notify_all();
            if (!joined_ && !forever && steady_clock::now() >= deadline) return WAIT_TIMEOUT;
            if (!joined_ && result != ETIMEDOUT && result != EBUSY) {
                SetLastError(ERROR_INVALID_HANDLE);
                return WAIT_FAILED;
            }
        }
        return WAIT_OBJECT_0;
    }

    DWORD ExitCode() {
        std::lock_guard<std::mutex> hold(record_->lock);
        return record_->returned ? record_->exitCode : STILL_ACTIVE;
    }

  private:
    const pthread_t thread_;
    const std::shared_ptr<ThreadRecord> record_;
    bool joining_ = false;  // guarded by record_->lock
    bool joined_ = false;   // guarded by record_->lock
};

// The stack a thread gets: the size asked for is the least it needs, and every thread
// gets at least the system's usual stack, as on Windows, where a small size (the driver
// asks for 1 byte) still leaves the thread the executable's default reservation.
bool ApplyStackSize(pthread_attr_t* attributes, SIZE_T stackSize) {
    size_t usual = 0;
    if (pthread_attr_getstacksize(attributes, &usual) != 0) return false;
    if (stackSize <= usual) return true;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t rounded = (stackSize + page - 1) / page * page;
    return pthread_attr_setstacksize(attributes, rounded) == 0;
}

}  // namespace
}  // namespace b58::platform

using namespace b58::platform;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) try {
    if (routine == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((creationFlags & CREATE_SUSPENDED) != 0) {  // nothing here starts threads suspended
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto record = std::make_shared<ThreadRecord>();
    auto* start = new StartBlock{record, routine, parameter};
    pthread_t thread{};
    bool started = ApplyStackSize(&attributes, stackSize) &&
                   pthread_create(&thread, &attributes, ThreadMain, start) == 0;
    pthread_attr_destroy(&attributes);
    if (!started) {
        delete start;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD id;
    {
        std::unique_lock<std::mutex> hold(record->lock);
        record->changed.wait(hold, [&] { return record->id != 0; });
        id = record->id;
    }
    if (threadId != nullptr) *threadId = id;
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::make_shared<ThreadObject>(thread, std::move(record)));
} catch (...) {
    return b58::platform::EntryFault(static_cast<HANDLE>(nullptr));
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto object = ReferenceHandleAs<ThreadObject>(thread);
    if (!object || exitCode == nullptr) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exitCode = object->ExitCode();
    return TRUE;
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(gettid());
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

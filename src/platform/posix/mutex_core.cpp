#include "platform/posix/mutex_core.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/wall_clock.h"

namespace b58::platform {
namespace {

// Which mutexes the calling thread owns, one entry per level of ownership. Besides
// answering "does this thread own it" without asking pthread (an unlock by a non-owner
// is an error the thread checkers report), the entries keep each owned mutex's memory
// alive: the system links the mutexes a thread owns into a list that runs through the
// mutexes themselves, and walks it when the thread ends, so that memory must outlive
// the ownership even if every handle to the mutex has been closed.
struct OwnedMutexes {
    std::vector<std::shared_ptr<MutexCore>> levels;
    ~OwnedMutexes();
};

// Mutexes owned by threads that have ended. The system marks them abandoned only after
// the thread's last code has run, so their memory is kept here until a new owner takes
// them over (and for good, if none ever does).
struct AbandonedHoldings {
    std::mutex lock;
    std::vector<std::shared_ptr<MutexCore>> mutexes;
};

AbandonedHoldings& Abandoned() {
    static AbandonedHoldings* holdings = new AbandonedHoldings;  // never destroyed
    return *holdings;
}

OwnedMutexes::~OwnedMutexes() {
    if (levels.empty()) return;
    AbandonedHoldings& abandoned = Abandoned();
    std::lock_guard<std::mutex> hold(abandoned.lock);
    for (auto& level : levels) abandoned.mutexes.push_back(std::move(level));
}

thread_local OwnedMutexes t_owned;

void ForgetAbandoned(const MutexCore* mutex) {
    AbandonedHoldings& abandoned = Abandoned();
    std::vector<std::shared_ptr<MutexCore>> released;  // dropped outside the lock
    std::lock_guard<std::mutex> hold(abandoned.lock);
    auto& list = abandoned.mutexes;
    auto kept = std::stable_partition(list.begin(), list.end(),
                                      [mutex](const auto& entry) { return entry.get() != mutex; });
    std::move(kept, list.end(), std::back_inserter(released));
    list.erase(kept, list.end());
}

#if defined(__SANITIZE_THREAD__)
#define B58_UNDER_THREAD_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define B58_UNDER_THREAD_CHECKER 1
#endif
#endif

#ifdef B58_UNDER_THREAD_CHECKER
// The thread checker follows a mutex whose owner died only when a plain or trying lock
// reports it, not a timed lock; so under it, timed waits try and pause until the time-out.
int LockNativeBefore(pthread_mutex_t* native, std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    auto pause = milliseconds(1);
    for (;;) {
        int result = pthread_mutex_trylock(native);
        auto remaining = deadline - steady_clock::now();
        if (result != EBUSY || remaining <= nanoseconds::zero()) return result;
        std::this_thread::sleep_for(std::min<nanoseconds>(remaining, pause));
        pause = std::min(pause * 2, milliseconds(10));
    }
}
#else
// pthread's timed lock takes a wall-clock time: the wait goes in slices (wall_clock.h).
int LockNativeBefore(pthread_mutex_t* native, std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    for (;;) {
        auto remaining = duration_cast<nanoseconds>(deadline - steady_clock::now());
        if (remaining <= nanoseconds::zero()) return pthread_mutex_trylock(native);
        timespec at = WallClockAfter(std::min<nanoseconds>(remaining, kWallClockSlice));
        int result = pthread_mutex_timedlock(native, &at);
        if (result != ETIMEDOUT) return result;
    }
}
#endif

int LockNative(pthread_mutex_t* native, DWORD timeout) {
    if (timeout == INFINITE) return pthread_mutex_lock(native);
    if (timeout == 0) return pthread_mutex_trylock(native);
    return LockNativeBefore(native, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout));
}

class PrivateMutex final : public MutexCore {
  public:
    PrivateMutex() : MutexCore(&native_) {}
    ~PrivateMutex() override {
        if (initialised_) pthread_mutex_destroy(&native_);
    }
    bool Initialise() {
        initialised_ = InitialiseNative(&native_, false) == 0;
        return initialised_;
    }

  private:
    pthread_mutex_t native_{};
    bool initialised_ = false;
};

}  // namespace

int MutexCore::InitialiseNative(pthread_mutex_t* where, bool processShared) {
    pthread_mutexattr_t attributes;
    int result = pthread_mutexattr_init(&attributes);
    if (result != 0) return result;
    result = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    if (result == 0) result = pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    if (result == 0 && processShared) {
        result = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    }
    if (result == 0) result = pthread_mutex_init(where, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return result;
}

DWORD MutexCore::Acquire(DWORD milliseconds) {
    int result = LockNative(native_, milliseconds);
    switch (result) {
        case 0:
            t_owned.levels.push_back(shared_from_this());
            return WAIT_OBJECT_0;
        case EOWNERDEAD:
            // The previous owner ended while owning it: the mutex is ours, in one level, and
            // its state is declared sound again so that later owners are not told the same.
            pthread_mutex_consistent(native_);
            t_owned.levels.push_back(shared_from_this());
            ForgetAbandoned(this);
            return WAIT_ABANDONED;
        case EBUSY:
        case ETIMEDOUT:
            return WAIT_TIMEOUT;
        case EAGAIN:
            SetLastError(ERROR_MUTANT_LIMIT_EXCEEDED);
            return WAIT_FAILED;
        default:
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
    }
}

bool MutexCore::Release() {
    auto& levels = t_owned.levels;
    auto level = std::find_if(levels.rbegin(), levels.rend(),
                              [this](const auto& entry) { return entry.get() == this; });
    if (level == levels.rend() || pthread_mutex_unlock(native_) != 0) {
        SetLastError(ERROR_NOT_OWNER);
        return false;
    }
    // The entry may hold the last reference to this mutex: it goes after the unlock.
    std::shared_ptr<MutexCore> keep = std::move(*level);
    levels.erase(std::next(level).base());
    return true;
}

std::shared_ptr<MutexCore> CreatePrivateMutex() {
    auto mutex = std::make_shared<PrivateMutex>();
    if (!mutex->Initialise()) return nullptr;
    return mutex;
}

}  // namespace b58::platform

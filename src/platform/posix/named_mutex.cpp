#include "platform/posix/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>

namespace b58::platform {
namespace {

constexpr uint32_t kBlockMagic = 0x4D353842;  // "B85M"
constexpr const char* kSharedMemoryDirectory = "/dev/shm";

// The shared-memory object's content. `magic` is written last, once the mutex is ready;
// `layout` keeps processes built with another pthread layout from using the block.
struct SharedMutexBlock {
    std::atomic<uint32_t> magic;
    uint32_t layout;
    pthread_mutex_t mutex;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the ready mark is shared between processes");
constexpr uint32_t kBlockLayout = sizeof(SharedMutexBlock);

// Holds the exclusive lock on the shared-memory directory that orders the creating,
// opening and closing of named objects between processes. The lock is taken on an open
// file description of its own, so threads of one process exclude each other too, and it
// goes with the process if the process dies.
class NamespaceGuard {
  public:
    NamespaceGuard() : fd_(open(kSharedMemoryDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ < 0) return;
        int result;
        do {
            result = flock(fd_, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        held_ = result == 0;
    }
    ~NamespaceGuard() {
        if (fd_ >= 0) close(fd_);
    }
    NamespaceGuard(const NamespaceGuard&) = delete;
    NamespaceGuard& operator=(const NamespaceGuard&) = delete;
    bool Held() const { return held_; }

  private:
    int fd_;
    bool held_ = false;
};

// A named mutex as this process holds it: the object's descriptor (carrying this
// process's shared lock) and its mapping. The name goes when the last handle to it in
// the machine is closed, even if a thread still owns the mutex (it cannot release it
// without a handle); the mapping stays until nothing in this process needs it. Never
// destroyed while the guard is held.
class SharedMutex final : public MutexCore {
  public:
    SharedMutex(std::string objectName, int fd, SharedMutexBlock* block)
        : MutexCore(&block->mutex), objectName_(std::move(objectName)), fd_(fd), block_(block) {}

    ~SharedMutex() override {
        {
            NamespaceGuard guard;
            if (guard.Held()) ReleaseNameIfLastHolder();
        }
        munmap(block_, sizeof(SharedMutexBlock));
        close(fd_);
    }

    void HandleClosed() override;

    // Handles to the mutex in this process; guarded by the registry's lock.
    int handles = 0;

  private:
    // Removes the name if no other process holds the object. Under the guard.
    bool ReleaseNameIfLastHolder() {
        if (nameReleased_) return true;
        if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            shm_unlink(objectName_.c_str());
            nameReleased_ = true;
            return true;
        }
        // A failed change of lock may have dropped the shared one: this process still
        // holds the object.
        flock(fd_, LOCK_SH | LOCK_NB);
        return false;
    }

    const std::string objectName_;
    const int fd_;
    SharedMutexBlock* const block_;
    bool nameReleased_ = false;  // under the guard
};

// The named mutexes this process has open, so that every handle to one name in the
// process shares one mapping (and so one mutex address, as the system expects).
struct OpenMutexes {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<SharedMutex>> byObjectName;
};

OpenMutexes& Registry() {
    static OpenMutexes* registry = new OpenMutexes;  // never destroyed: handles may outlive main()
    return *registry;
}

void SharedMutex::HandleClosed() {
    OpenMutexes& registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    if (--handles > 0) return;
    NamespaceGuard guard;
    if (!guard.Held() || !ReleaseNameIfLastHolder()) return;
    // Gone by name: opening the name again makes a new mutex.
    auto entry = registry.byObjectName.find(objectName_);
    if (entry != registry.byObjectName.end() && entry->second.lock().get() == this) {
        registry.byObjectName.erase(entry);
    }
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
        case ENOSPC:
        case EMFILE:
        case ENFILE:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

NamedMutexResult Failure(DWORD error) {
    return NamedMutexResult{nullptr, false, error};
}

SharedMutexBlock* MapBlock(int fd) {
    void* address = mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return address == MAP_FAILED ? nullptr : static_cast<SharedMutexBlock*>(address);
}

// Builds a new mutex in an object nobody else holds (just created, or left behind by
// processes that died). Called with the object's exclusive lock; ends with the shared one.
NamedMutexResult InitialiseBlock(const std::string& objectName, int fd, bool takeOwnership) {
    SharedMutexBlock* block = nullptr;
    DWORD error = ERROR_SUCCESS;
    if (ftruncate(fd, sizeof(SharedMutexBlock)) != 0) {
        error = ErrorFromErrno(errno);
    } else if ((block = MapBlock(fd)) == nullptr) {
        error = ErrorFromErrno(errno);
    } else {
        block->magic.store(0, std::memory_order_relaxed);
        block->layout = kBlockLayout;
        if (MutexCore::InitialiseNative(&block->mutex, true) != 0 || flock(fd, LOCK_SH | LOCK_NB) != 0) {
            error = ERROR_GEN_FAILURE;
        }
    }
    if (error != ERROR_SUCCESS) {
        if (block != nullptr) munmap(block, sizeof(SharedMutexBlock));
        shm_unlink(objectName.c_str());
        close(fd);
        return Failure(error);
    }
    block->magic.store(kBlockMagic, std::memory_order_release);
    auto mutex = std::make_shared<SharedMutex>(objectName, fd, block);
    // Taken before any other process can reach the mutex: nobody else holds it yet.
    if (takeOwnership) mutex->Acquire(0);
    return NamedMutexResult{std::move(mutex), false, ERROR_SUCCESS};
}

// Joins a mutex that other processes hold.
NamedMutexResult AttachBlock(const std::string& objectName, int fd) {
    struct stat status {};
    SharedMutexBlock* block = nullptr;
    if (fstat(fd, &status) != 0 || status.st_size < static_cast<off_t>(sizeof(SharedMutexBlock)) ||
        (block = MapBlock(fd)) == nullptr || block->magic.load(std::memory_order_acquire) != kBlockMagic ||
        block->layout != kBlockLayout || flock(fd, LOCK_SH | LOCK_NB) != 0) {
        // Not a mutex of ours: the name is taken by something else.
        if (block != nullptr) munmap(block, sizeof(SharedMutexBlock));
        close(fd);
        return Failure(ERROR_INVALID_HANDLE);
    }
    return NamedMutexResult{std::make_shared<SharedMutex>(objectName, fd, block), true, ERROR_SUCCESS};
}

bool NobodyElseHolds(int fd) {
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// The cross-process part of OpenNamedMutex; runs under the guard.
NamedMutexResult OpenShared(const std::string& objectName, bool create, bool takeOwnership) {
    if (create) {
        int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fchmod(fd, 0666);  // the umask must not keep other users' processes out
            if (!NobodyElseHolds(fd)) {
                close(fd);
                return Failure(ERROR_GEN_FAILURE);
            }
            return InitialiseBlock(objectName, fd, takeOwnership);
        }
        if (errno != EEXIST) return Failure(ErrorFromErrno(errno));
    }
    int fd = shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return Failure(ErrorFromErrno(errno));
    if (NobodyElseHolds(fd)) {
        // Left behind by processes that ended without closing it: the mutex is gone.
        if (create) return InitialiseBlock(objectName, fd, takeOwnership);
        shm_unlink(objectName.c_str());
        close(fd);
        return Failure(ERROR_FILE_NOT_FOUND);
    }
    return AttachBlock(objectName, fd);
}

char HexDigit(unsigned value) {
    return "0123456789ABCDEF"[value & 0xF];
}

void AppendEscaped(std::string* out, std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                     (byte >= '0' && byte <= '9') || byte == '_' || byte == '.';
        if (plain) {
            out->push_back(c);
        } else {
            out->push_back('%');
            out->push_back(HexDigit(byte >> 4));
            out->push_back(HexDigit(byte));
        }
    }
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        auto a = static_cast<unsigned char>(text[i]);
        auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

}  // namespace

DWORD SharedObjectName(const char* name, const std::string& ipcNamespace, std::string* objectName) {
    std::string_view rest(name);
    for (std::string_view prefix : {std::string_view("Global\\"), std::string_view("Local\\")}) {
        if (StartsWithIgnoringCase(rest, prefix)) {
            rest.remove_prefix(prefix.size());
            break;
        }
    }
    if (rest.empty()) return ERROR_INVALID_PARAMETER;
    std::string result = "/b58-";
    AppendEscaped(&result, ipcNamespace);
    result += "-mutex-";
    AppendEscaped(&result, rest);
    if (result.size() - 1 > NAME_MAX) return ERROR_FILENAME_EXCED_RANGE;
    *objectName = std::move(result);
    return ERROR_SUCCESS;
}

const std::string& IpcNamespace() {
    static const std::string ipcNamespace = [] {
        const char* text = std::getenv("B58_IPC_NAMESPACE");
        return std::string(text != nullptr ? text : "");
    }();
    return ipcNamespace;
}

NamedMutexResult OpenNamedMutex(const char* name, bool create, bool takeOwnership) {
    std::string objectName;
    DWORD error = SharedObjectName(name, IpcNamespace(), &objectName);
    if (error != ERROR_SUCCESS) return Failure(error);

    OpenMutexes& registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    auto known = registry.byObjectName.find(objectName);
    if (known != registry.byObjectName.end()) {
        if (auto mutex = known->second.lock()) {
            ++mutex->handles;
            return NamedMutexResult{std::move(mutex), true, ERROR_SUCCESS};
        }
    }

    NamedMutexResult result;
    {
        NamespaceGuard guard;
        if (!guard.Held()) return Failure(ERROR_GEN_FAILURE);
        result = OpenShared(objectName, create, takeOwnership);
    }
    if (result.mutex) {
        auto mutex = std::static_pointer_cast<SharedMutex>(result.mutex);
        ++mutex->handles;
        std::erase_if(registry.byObjectName, [](const auto& entry) { return entry.second.expired(); });
        registry.byObjectName[objectName] = mutex;
    }
    return result;
}

}  // namespace b58::platform

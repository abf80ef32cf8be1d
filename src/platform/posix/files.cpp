// Files and devices: CreateFileA opens plain files (Windows-form or POSIX paths) or, for a
// name the still-image class driver serves, one of its devices. ReadFile, WriteFile,
// DeviceIoControl and CancelIo go to the object behind the handle.
//
// Plain files behave as on Windows with these limits: only regular files open (a FIFO, a
// device or a folder is refused with ERROR_ACCESS_DENIED, without waiting); the share mode is not enforced
// (nothing here locks files), and every transfer completes before the call returns. An
// overlapped transfer works at the record's Offset/OffsetHigh and reports its result in
// the record and its event at once, as an overlapped call that finishes immediately does.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform_control.h"
#include "platform/posix/entry_fault.h"
#include "platform/posix/kernel_object.h"
#include "platform/usbscan/class_driver.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

// The parent folder of `posixPath` exists (for telling a missing file from a missing path).
bool ParentExists(const std::string& posixPath) {
    size_t slash = posixPath.find_last_of('/');
    std::string parent = slash == std::string::npos ? "." : posixPath.substr(0, slash == 0 ? 1 : slash);
    struct stat status {};
    return stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

DWORD ErrorFromErrno(int error, const std::string& posixPath) {
    switch (error) {
        case ENOENT:
            return ParentExists(posixPath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

class FileObject : public IoObject {
  public:
    FileObject(int fd, bool readable, bool writable) : fd_(fd), readable_(readable), writable_(writable) {}
    ~FileObject() override { close(fd_); }

    BOOL Read(void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* overlapped) override {
        if (!readable_) return Fail(ERROR_ACCESS_DENIED, transferred);
        return Transfer(
            [&](size_t done, off_t* at) -> ssize_t {
                char* into = static_cast<char*>(buffer) + done;
                return at != nullptr ? pread(fd_, into, size - done, *at + static_cast<off_t>(done))
                                     : read(fd_, into, size - done);
            },
            size, transferred, overlapped, true);
    }

    BOOL Write(const void* buffer, DWORD size, DWORD* transferred, OVERLAPPED* overlapped) override {
        if (!writable_) return Fail(ERROR_ACCESS_DENIED, transferred);
        return Transfer(
            [&](size_t done, off_t* at) -> ssize_t {
                const char* from = static_cast<const char*>(buffer) + done;
                return at != nullptr ? pwrite(fd_, from, size - done, *at + static_cast<off_t>(done))
                                     : write(fd_, from, size - done);
            },
            size, transferred, overlapped, false);
    }

    // Files take no control codes.
    BOOL IoControl(DWORD, void*, DWORD, void*, DWORD, DWORD* returned, OVERLAPPED*) override {
        return Fail(ERROR_INVALID_FUNCTION, returned);
    }

    // Nothing is ever in flight.
    BOOL Cancel() override { return TRUE; }

  private:
    static BOOL Fail(DWORD error, DWORD* transferred) {
        if (transferred != nullptr) *transferred = 0;
        SetLastError(error);
        return FALSE;
    }

    // Moves up to `size` bytes with `step` until done, end of file or an error.
    template <class Step>
    BOOL Transfer(Step step, DWORD size, DWORD* transferred, OVERLAPPED* overlapped, bool reading) {
        if (transferred == nullptr && overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER, nullptr);
        off_t offset = 0;
        off_t* at = nullptr;
        if (overlapped != nullptr) {
            offset = static_cast<off_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) |
                                        overlapped->Offset);
            at = &offset;
            BeginOverlapped(overlapped);
        }
        size_t done = 0;
        DWORD error = ERROR_SUCCESS;
        while (done < size) {
            ssize_t moved = step(done, at);
            if (moved < 0) {
                if (errno == EINTR) continue;
                error = ErrorFromErrno(errno, {});
                break;
            }
            if (moved == 0) break;  // end of file
            done += static_cast<size_t>(moved);
        }
        // An overlapped read that starts at or past the end reports end of file.
        if (error == ERROR_SUCCESS && overlapped != nullptr && reading && done == 0 && size > 0) {
            error = ERROR_HANDLE_EOF;
        }
        if (transferred != nullptr) *transferred = static_cast<DWORD>(done);
        if (overlapped != nullptr) CompleteOverlapped(overlapped, error, static_cast<DWORD>(done));
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return FALSE;
        }
        return TRUE;
    }

    const int fd_;
    const bool readable_;
    const bool writable_;
};

HANDLE OpenPlainFile(const char* fileName, DWORD access, DWORD disposition) {
    const std::string path = ToPosixPath(fileName);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool readable = (access & GENERIC_READ) != 0;
    const bool writable = (access & GENERIC_WRITE) != 0;
    int flags = O_CLOEXEC | (writable ? (readable ? O_RDWR : O_WRONLY) : O_RDONLY);
    switch (disposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            if (!writable) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return INVALID_HANDLE_VALUE;
            }
            flags |= O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    // Whether the file was there before, for the ERROR_ALREADY_EXISTS report.
    struct stat before {};
    const bool existed = stat(path.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode)) {  // Windows opens folders only on request
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    // Only regular files are files here: a FIFO or device would block the open (or later
    // every read) until some other program acts, which a file open never does on Windows.
    // The open itself does not wait (O_NONBLOCK); the flag is cleared once the file is known
    // to be regular.
    int fd;
    do {
        fd = open(path.c_str(), flags | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    HANDLE handle = InsertHandle(std::make_shared<FileObject>(fd, readable, writable));
    const bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

std::shared_ptr<IoObject> IoObjectOf(HANDLE handle) {
    auto object = ReferenceHandleAs<IoObject>(handle);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace
}  // namespace b58::platform

using namespace b58::platform;

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) try {
    if (fileName == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (b58::usbscan::IsDeviceName(fileName)) {
        std::shared_ptr<IoObject> device = b58::usbscan::OpenDevice(fileName, flagsAndAttributes);
        if (!device) return INVALID_HANDLE_VALUE;  // the class driver has set the error
        SetLastError(ERROR_SUCCESS);
        return InsertHandle(std::move(device));
    }
    return OpenPlainFile(fileName, desiredAccess, creationDisposition);
} catch (...) {
    return b58::platform::EntryFault(INVALID_HANDLE_VALUE);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped) try {
    auto object = IoObjectOf(file);
    return object ? object->Read(buffer, bytesToRead, bytesRead, overlapped) : FALSE;
} catch (...) {
    return b58::platform::EntryFault(FALSE);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) try {
    auto object = IoObjectOf(file);
    return object ? object->Write(buffer, bytesToWrite, bytesWritten, overlapped) : FALSE;
} catch (...) {
    return b58::platform::EntryFault(FALSE);
}

BOOL DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                     DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) try {
    auto object = IoObjectOf(device);
    return object ? object->IoControl(controlCode, inBuffer, inSize, outBuffer, outSize, bytesReturned,
                                      overlapped)
                  : FALSE;
} catch (...) {
    return b58::platform::EntryFault(FALSE);
}

BOOL CancelIo(HANDLE file) try {
    auto object = IoObjectOf(file);
    return object ? object->Cancel() : FALSE;
} catch (...) {
    return b58::platform::EntryFault(FALSE);
}

BOOL DeleteFileA(LPCSTR fileName) {
    const std::string path = ToPosixPath(fileName);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(path.c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return FALSE;
    }
    return TRUE;
}

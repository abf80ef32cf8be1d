// GetVersionExA, answering from the version tests choose (platform_control.h), or from
// B58_OS_VERSION at start-up, or a modern NT.
#include "platform/posix/os_version.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

struct VersionState {
    std::mutex lock;
    OsVersionAnswer startUp = kDefaultOsVersion;
    OsVersionAnswer answer = kDefaultOsVersion;
};

OsVersionAnswer StartUpAnswer() {
    const char* text = std::getenv("B58_OS_VERSION");
    if (text == nullptr) return kDefaultOsVersion;
    return ParseOsVersion(text).value_or(kDefaultOsVersion);
}

VersionState& State() {
    static VersionState* state = [] {
        auto* fresh = new VersionState;
        fresh->startUp = StartUpAnswer();
        fresh->answer = fresh->startUp;
        return fresh;
    }();
    return *state;
}

OsVersionAnswer CurrentAnswer() {
    VersionState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.answer;
}

// A plausible build number for the versions the driver tells apart.
DWORD BuildNumberFor(const OsVersionAnswer& answer) {
    if (answer.platformId != VER_PLATFORM_WIN32_NT) return 0;
    if (answer.major == 10) return 19045;
    if (answer.major == 5 && answer.minor == 0) return 2195;
    if (answer.major == 5 && answer.minor == 1) return 2600;
    if (answer.major == 5 && answer.minor == 2) return 3790;
    return 0;
}

}  // namespace

std::optional<OsVersionAnswer> ParseOsVersion(const char* text) {
    if (text == nullptr) return std::nullopt;
    if (std::strcmp(text, "fail") == 0) return OsVersionAnswer{0, 0, 0, true};
    uint32_t parts[3] = {};
    const char* at = text;
    for (int i = 0; i < 3; ++i) {
        if (*at < '0' || *at > '9') return std::nullopt;
        char* end = nullptr;
        errno = 0;
        unsigned long value = std::strtoul(at, &end, 10);
        if (errno != 0 || value > 0xFFFFFFFFul) return std::nullopt;
        parts[i] = static_cast<uint32_t>(value);
        at = end;
        if (i < 2 && *at++ != '.') return std::nullopt;
    }
    if (*at != '\0') return std::nullopt;
    return OsVersionAnswer{parts[0], parts[1], parts[2], false};
}

void SetOsVersion(uint32_t platformId, uint32_t major, uint32_t minor, bool failing) {
    VersionState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    state.answer = OsVersionAnswer{platformId, major, minor, failing};
}

void ResetOsVersion() {
    VersionState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    state.answer = state.startUp;
}

}  // namespace b58::platform

using namespace b58::platform;

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const OsVersionAnswer answer = CurrentAnswer();
    if (answer.failing) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Only the record the caller's size names is written.
    OSVERSIONINFOEXA record{};
    record.dwOSVersionInfoSize = size;
    record.dwMajorVersion = answer.major;
    record.dwMinorVersion = answer.minor;
    record.dwBuildNumber = BuildNumberFor(answer);
    record.dwPlatformId = answer.platformId;
    if (answer.platformId == VER_PLATFORM_WIN32_NT) record.wProductType = 1;  // a workstation
    std::memcpy(info, &record, size);
    return TRUE;
}

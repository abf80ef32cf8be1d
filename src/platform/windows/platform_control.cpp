// The stand-in's controls on Windows: the real system answers every query and the real
// Sleep and waits run at full length, so the controls change nothing. They exist so that
// tests which call them build and run on both. The debug sink is real (debug_sink.cpp).
#include "platform/platform_control.h"

#include <algorithm>

namespace b58::platform {

void SetTimeScale(double) {}
double TimeScale() { return 1.0; }
uint32_t ScaledMilliseconds(uint32_t milliseconds) { return milliseconds; }

void SetOsVersion(uint32_t, uint32_t, uint32_t, bool) {}
void ResetOsVersion() {}

bool FailSecurityCall(const char*, int) { return false; }
void ResetSecurityCallFailures() {}
size_t LiveLocalBlocks() { return 0; }

void SetModuleFileNameOverride(const std::string&) {}

void SetWindowsDirectory(const std::string&) {}

std::string ToPosixPath(const char* windowsPath) {
    if (windowsPath == nullptr) return {};
    std::string path = windowsPath;
    if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string ToWindowsPath(const std::string& posixPath) {
    std::string path = posixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace b58::platform

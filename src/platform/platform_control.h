// Controls of the stand-in platform that have no Windows counterpart: the time scale, the
// trace sink, and the answers tests choose for the system queries. On Windows these calls
// do nothing (the real system answers), the trace sink excepted, so tests can call them on
// both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace b58::platform {

// Factor applied to every Sleep and every finite time-out (1 by default; the environment
// variable B58_TIME_SCALE sets it at start-up). Tests use e.g. 0.01 to run the driver's fixed
// pauses fast without touching driver code. At 0 every finite time-out expires at once, so the
// first wait for a bulk read (which completes on the class driver's worker thread) fails and a
// scan start fails in its first strip: keep the scale above 0 wherever the device is read.
void SetTimeScale(double scale);
double TimeScale();
// A driver-side time in milliseconds, scaled; INFINITE stays INFINITE.
uint32_t ScaledMilliseconds(uint32_t milliseconds);

// Where OutputDebugStringA goes. By default it is silent; B58_TRACE=stderr sends it to
// standard error and B58_TRACE=/path/file appends it to a file. A sink set here (tests)
// takes precedence; an empty function returns to the environment's choice. On Windows the
// sink takes the texts while it is set (a debugger attached sees them first) and an empty
// function returns them to the system's debugger channel.
using DebugSink = std::function<void(const char* text)>;
void SetDebugSink(DebugSink sink);

// The answer of GetVersionExA: a modern NT version (10.0, platform 2) by default.
// B58_OS_VERSION="platform.major.minor" (or "fail") sets it at start-up; failing=true makes
// the call fail. ResetOsVersion returns to the start-up answer.
void SetOsVersion(uint32_t platformId, uint32_t major, uint32_t minor, bool failing = false);
void ResetOsVersion();

// Makes one of the security calls fail as the system can (out of memory, say): the call
// named by `functionName` ("AllocateAndInitializeSid", "SetEntriesInAclA",
// "InitializeSecurityDescriptor", "SetSecurityDescriptorDacl" or "LocalAlloc") succeeds
// `succeedFirst` more times, then fails until ResetSecurityCallFailures. False for any
// other name (and always on Windows, where nothing is made to fail).
bool FailSecurityCall(const char* functionName, int succeedFirst = 0);
void ResetSecurityCallFailures();

// Blocks from LocalAlloc and AllocateAndInitializeSid (SetEntriesInAclA's lists included)
// not yet freed, so that tests can see a failed build free what it had built; 0 on Windows.
size_t LiveLocalBlocks();

// The file name GetModuleFileNameA reports for the driver module, in Windows form; an empty
// string returns to the real one. GetModuleHandleA matches names against it, so a test can
// also load the driver "under another name".
void SetModuleFileNameOverride(const std::string& windowsPath);

// The folder behind GetWindowsDirectoryA, as a POSIX path (B58_WINDOWS_DIR at start-up,
// else a folder in the build tree); an empty path returns to that start-up choice.
void SetWindowsDirectory(const std::string& posixPath);

// Windows-form path to POSIX: backslashes become slashes and a drive prefix "X:" is dropped.
std::string ToPosixPath(const char* windowsPath);
// POSIX path to Windows form: slashes become backslashes.
std::string ToWindowsPath(const std::string& posixPath);

}  // namespace b58::platform

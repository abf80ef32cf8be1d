// Minimal first cut of the system queries; to be completed with the profile parser,
// module lookup, time scale and trace sink.
#include <cstdio>
#include <cstring>

#include "platform/platform_control.h"
#include "platform/win32.h"

HMODULE GetModuleHandleA(LPCSTR) { return nullptr; }

DWORD GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size) {
    if (size == 0) return 0;
    fileName[0] = '\0';
    return 0;
}

UINT GetPrivateProfileIntA(LPCSTR, LPCSTR, INT defaultValue, LPCSTR) {
    return static_cast<UINT>(defaultValue);
}

LPSTR lstrcatA(LPSTR destination, LPCSTR source) { return std::strcat(destination, source); }

void OutputDebugStringA(LPCSTR) {}

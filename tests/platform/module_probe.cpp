// A shared library built with the stand-in platform inside it, as the driver library is:
// it reports what the module queries answer from within a library.
#include "platform/win32.h"

extern "C" __attribute__((visibility("default"))) DWORD ProbeOwnFileName(const char* ownName, char* buffer,
                                                                         DWORD size) {
    HMODULE self = GetModuleHandleA(ownName);
    if (self == nullptr) return 0;
    return GetModuleFileNameA(self, buffer, size);
}

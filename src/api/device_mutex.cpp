#include "api/device_mutex.h"

#include <cstdio>
#include <cstring>

namespace b58 {
namespace {

SECURITY_ATTRIBUTES g_globalSecurity{};
bool g_globalSecurityBuilt = false;

}  // namespace

bool BuildGlobalMutexSecurity(SECURITY_ATTRIBUTES* attributes) {
    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID everyone = nullptr;
    PSID administrators = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    bool built = false;
    if (AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) &&
        AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &administrators)) {
        EXPLICIT_ACCESS_A entries[2];
        FillMutexAccessEntries(everyone, administrators, entries);
        if (SetEntriesInAclA(2, entries, nullptr, &acl) == ERROR_SUCCESS) {
            descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
            built = descriptor != nullptr &&
                    InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                    SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE);
        }
    }
    // The access list holds its own copies of the SIDs.
    if (everyone != nullptr) FreeSid(everyone);
    if (administrators != nullptr) FreeSid(administrators);
    if (!built) {
        if (descriptor != nullptr) LocalFree(descriptor);
        if (acl != nullptr) LocalFree(acl);
        return false;
    }
    attributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes->lpSecurityDescriptor = descriptor;
    attributes->bInheritHandle = FALSE;
    return true;
}

int32_t OsVersionClassFor(DWORD platformId, DWORD major, DWORD minor) {
    switch (platformId) {
        case VER_PLATFORM_WIN32s:
            return 1;
        case VER_PLATFORM_WIN32_WINDOWS:
            if (major != 4) return 0;
            if (minor == 0) return 2;
            if (minor == 10) return 3;
            if (minor == 90) return 4;
            return 0;
        case VER_PLATFORM_WIN32_NT:
            if (major <= 4) return 5;
            if (major == 5 && minor == 0) return 6;
            if (major == 5 && minor == 1) return 7;
            if (major == 5 && minor == 2) return 8;
            return 0;
        default:
            return 0;
    }
}

int32_t QueryOsVersionClass() {
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended)))
        return OsVersionClassFor(extended.dwPlatformId, extended.dwMajorVersion, extended.dwMinorVersion);
    OSVERSIONINFOA basic{};
    basic.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (GetVersionExA(&basic))
        return OsVersionClassFor(basic.dwPlatformId, basic.dwMajorVersion, basic.dwMinorVersion);
    return 0;
}

void FillMutexAccessEntries(PSID everyone, PSID administrators, EXPLICIT_ACCESS_A* entries) {
    std::memset(entries, 0, 2 * sizeof(EXPLICIT_ACCESS_A));
    for (int i = 0; i < 2; ++i) {
        entries[i].grfAccessPermissions = kDeviceMutexAccess;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = NO_INHERITANCE;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    }
    entries[0].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entries[0].Trustee.ptstrName = static_cast<LPSTR>(everyone);
    entries[1].Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    entries[1].Trustee.ptstrName = static_cast<LPSTR>(administrators);
}

SECURITY_ATTRIBUTES* GlobalMutexSecurity() {
    if (!g_globalSecurityBuilt) g_globalSecurityBuilt = BuildGlobalMutexSecurity(&g_globalSecurity);
    return g_globalSecurityBuilt ? &g_globalSecurity : nullptr;
}

std::string DeviceMutexName(int32_t osVersionClass) {
    if (osVersionClass < kFirstGlobalNamespaceClass) return kDeviceMutexName;
    char name[64];
    std::snprintf(name, sizeof name, "Global\\%s", kDeviceMutexName);
    return name;
}

HANDLE OpenOrCreateDeviceMutex(int32_t osVersionClass) {
    const std::string name = DeviceMutexName(osVersionClass);
    if (osVersionClass >= kFirstGlobalNamespaceClass) {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
        if (mutex == nullptr) mutex = CreateMutexA(GlobalMutexSecurity(), FALSE, name.c_str());
        return mutex;
    }
    HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    if (mutex == nullptr) mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    return mutex;
}

}  // namespace b58

// The machine-wide mutex that admits one open device at a time, and the OS version class
// that chooses its name: the "Global\" namespace on the NT 5.x systems, where sessions
// would otherwise each see their own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace b58 {

inline constexpr char kDeviceMutexName[] = "R9W4J61LP2XOpenedMutex";
inline constexpr uint32_t kDeviceMutexWaitMs = 5000;
inline constexpr int32_t kFirstGlobalNamespaceClass = 6;
// Full access for both entries of the global mutex's access list.
inline constexpr DWORD kDeviceMutexAccess = 0x001F003F;

// The class of a reported OS version (0 for anything unknown).
int32_t OsVersionClassFor(DWORD platformId, DWORD major, DWORD minor);

// Asks GetVersionExA, with the extended record first and the basic one if that fails;
// 0 when both fail.
int32_t QueryOsVersionClass();

// The two entries of the global mutex's access list: everyone, then the administrators.
void FillMutexAccessEntries(PSID everyone, PSID administrators, EXPLICIT_ACCESS_A* entries);

// Builds the global mutex's attributes: a descriptor whose access list gives everyone and
// the administrators full access. On failure everything built so far is freed again.
bool BuildGlobalMutexSecurity(SECURITY_ATTRIBUTES* attributes);

// The security attributes of the global mutex, built once and kept for the life of the
// process; null when building them failed (the mutex is then created with default
// security rather than not at all).
SECURITY_ATTRIBUTES* GlobalMutexSecurity();

// The mutex's name for an OS version class: "Global\R9W4J61LP2XOpenedMutex" from class 6
// on, the plain name below.
std::string DeviceMutexName(int32_t osVersionClass);

// Opens the device mutex under its name for the class, creating it when it does not exist;
// null when neither works.
HANDLE OpenOrCreateDeviceMutex(int32_t osVersionClass);

}  // namespace b58

// _Open and _Close: the device is exclusive across the machine's processes, held by the
// device mutex from _Open to _Close.
#include <cstring>

#include "api/device_mutex.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "device/device_bringup.h"
#include "device/device_discovery.h"
#include "state/driver_state.h"
#include "state/trace.h"

namespace {

constexpr DWORD kSettleMs = 50;
constexpr DWORD kRetryPauseMs = 1000;

int32_t OpenScanner() {
    using namespace b58;
    Trace("< Enter the _Open!");
    g_state.HostOpened = 0;
    g_state.OsVersionClass = QueryOsVersionClass();

    // DeviceMutex is set only while this process owns the mutex. An earlier _Open that was
    // never closed keeps it: taking it once more would nest the ownership, and the one
    // release of _Close would then leave other processes locked out.
    if (g_state.DeviceMutex == nullptr) {
        g_state.DeviceMutex = OpenOrCreateDeviceMutex(g_state.OsVersionClass);
        if (g_state.DeviceMutex == nullptr) return 0;
        const DWORD waited = WaitForSingleObject(g_state.DeviceMutex, kDeviceMutexWaitMs);
        if (waited != WAIT_OBJECT_0) {
            // An abandoned mutex (its owner died holding it) now belongs to this thread:
            // give it back before failing, or no process could take the device again
            // while this thread lives.
            if (waited == WAIT_ABANDONED) ReleaseMutex(g_state.DeviceMutex);
            CloseHandle(g_state.DeviceMutex);
            g_state.DeviceMutex = nullptr;
            return 0;
        }
    }
    Sleep(kSettleMs);
    std::memset(g_state.MiscControlBuffer, 0, sizeof g_state.MiscControlBuffer);

    g_state.LastStatus = ZtInitialation(g_state.DeviceKind, &g_state.DeviceHandle);
    if (g_state.LastStatus == 0) {
        Trace("ZtInitialation second times!");
        Sleep(kRetryPauseMs);
        g_state.LastStatus = ZtInitialation(g_state.DeviceKind, &g_state.DeviceHandle);
        if (g_state.LastStatus == 0) {
            if (g_state.DeviceHandle != INVALID_HANDLE_VALUE) CloseScanner(g_state.DeviceHandle);
            g_state.DeviceHandle = INVALID_HANDLE_VALUE;
            // The mutex stays owned until _Close.
            g_state.LastStatus = 1;
            return 0;
        }
    }
    g_state.HostOpened = 1;
    Trace("> Leave the _Open!");
    return g_state.LastStatus;
}

int32_t CloseScannerForHost() {
    using namespace b58;
    Trace("< Enter the _Close!");
    g_state.HostOpened = 0;
    if (g_state.DeviceHandle != INVALID_HANDLE_VALUE) {
        CloseScanner(g_state.DeviceHandle);
        g_state.LastStatus = 1;
        g_state.DeviceHandle = INVALID_HANDLE_VALUE;
    }
    if (g_state.DeviceMutex != nullptr) {
        ReleaseMutex(g_state.DeviceMutex);
        CloseHandle(g_state.DeviceMutex);
        g_state.DeviceMutex = nullptr;
    }
    Trace("> Leave the _Close!");
    return g_state.LastStatus;
}

}  // namespace

extern "C" {

B58_EXPORT int32_t B58_CALL _Open(void) {
    return b58::GuardExport("_Open", nullptr, OpenScanner);
}

B58_EXPORT int32_t B58_CALL _Close(void) {
    return b58::GuardExport("_Close", nullptr, CloseScannerForHost);
}

}  // extern "C"

// _Open and _Close: the device is exclusive across the machine's processes, held by the
// device mutex from _Open to _Close.
#include <cstring>

#include "api/device_mutex.h"
#include "api/driver.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "device/device_bringup.h"
#include "device/device_discovery.h"
#include "state/trace.h"

namespace {

constexpr DWORD kSettleMs = 50;
constexpr DWORD kRetryPauseMs = 1000;

int32_t OpenScanner(b58::Driver& driver) {
    using namespace b58;
    Trace("< Enter the _Open!");
    driver.HostOpened = 0;
    driver.OsVersionClass = QueryOsVersionClass();

    // DeviceMutex is set only while this process owns the mutex. An earlier _Open that was
    // never closed keeps it: taking it once more would nest the ownership, and the one
    // release of _Close would then leave other processes locked out.
    if (driver.DeviceMutex == nullptr) {
        driver.DeviceMutex = OpenOrCreateDeviceMutex(driver.OsVersionClass);
        if (driver.DeviceMutex == nullptr) return 0;
        const DWORD waited = WaitForSingleObject(driver.DeviceMutex, kDeviceMutexWaitMs);
        if (waited != WAIT_OBJECT_0) {
            // An abandoned mutex (its owner died holding it) now belongs to this thread:
            // give it back before failing, or no process could take the device again
            // while this thread lives.
            if (waited == WAIT_ABANDONED) ReleaseMutex(driver.DeviceMutex);
            CloseHandle(driver.DeviceMutex);
            driver.DeviceMutex = nullptr;
            return 0;
        }
    }
    Sleep(kSettleMs);
    std::memset(driver.MiscControlBuffer, 0, sizeof driver.MiscControlBuffer);

    driver.LastStatus = ZtInitialation(driver.DeviceKind, &driver.DeviceHandle, &driver.OpenTime);
    if (driver.LastStatus == 0) {
        Trace("ZtInitialation second times!");
        Sleep(kRetryPauseMs);
        driver.LastStatus = ZtInitialation(driver.DeviceKind, &driver.DeviceHandle, &driver.OpenTime);
        if (driver.LastStatus == 0) {
            if (driver.DeviceHandle != INVALID_HANDLE_VALUE) CloseScanner(driver.DeviceHandle);
            driver.DeviceHandle = INVALID_HANDLE_VALUE;
            // The mutex stays owned until _Close.
            driver.LastStatus = 1;
            return 0;
        }
    }
    driver.HostOpened = 1;
    Trace("> Leave the _Open!");
    return driver.LastStatus;
}

int32_t CloseScannerForHost(b58::Driver& driver) {
    using namespace b58;
    Trace("< Enter the _Close!");
    driver.HostOpened = 0;
    if (driver.DeviceHandle != INVALID_HANDLE_VALUE) {
        CloseScanner(driver.DeviceHandle);
        driver.LastStatus = 1;
        driver.DeviceHandle = INVALID_HANDLE_VALUE;
    }
    if (driver.DeviceMutex != nullptr) {
        ReleaseMutex(driver.DeviceMutex);
        CloseHandle(driver.DeviceMutex);
        driver.DeviceMutex = nullptr;
    }
    Trace("> Leave the _Close!");
    return driver.LastStatus;
}

}  // namespace

extern "C" {

B58_EXPORT int32_t B58_CALL _Open(void) {
    return b58::GuardExport("_Open", nullptr, [] { return OpenScanner(b58::TheDriver()); });
}

B58_EXPORT int32_t B58_CALL _Close(void) {
    return b58::GuardExport("_Close", nullptr, [] { return CloseScannerForHost(b58::TheDriver()); });
}

}  // extern "C"

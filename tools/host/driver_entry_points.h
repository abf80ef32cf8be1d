// The fifteen entry points as typed function pointers. Host code takes this table rather
// than the library, so that it runs against any implementation of the interface: the
// loaded driver, or stand-ins in tests.
#pragma once

#include "api/exports.h"
#include "driver_library.h"

namespace b58::host {

struct DriverEntryPoints {
    decltype(&::_Open) open = nullptr;
    decltype(&::_Close) close = nullptr;
    decltype(&::SetParameters) setParameters = nullptr;
    decltype(&::GetParameters) getParameters = nullptr;
    decltype(&::GetVersionInfo) getVersionInfo = nullptr;
    decltype(&::GetDeviceInfo) getDeviceInfo = nullptr;
    decltype(&::GetGammaInfo) getGammaInfo = nullptr;
    decltype(&::CarriageHome) carriageHome = nullptr;
    decltype(&::PowerControl) powerControl = nullptr;
    decltype(&::GetDeviceStatus) getDeviceStatus = nullptr;
    decltype(&::GetKeyStatus) getKeyStatus = nullptr;
    decltype(&::TestEntry) testEntry = nullptr;
    decltype(&::StartScan) startScan = nullptr;
    decltype(&::ReadScannedData) readScannedData = nullptr;
    decltype(&::StopScan) stopScan = nullptr;
};

// The library's entry points; those it lacks stay null.
DriverEntryPoints ResolveEntryPoints(const DriverLibrary& driver);

}  // namespace b58::host

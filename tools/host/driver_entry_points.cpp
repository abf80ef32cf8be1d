#include "driver_entry_points.h"

namespace b58::host {

DriverEntryPoints ResolveEntryPoints(const DriverLibrary& driver) {
    DriverEntryPoints e;
    e.open = driver.Function<decltype(e.open)>("_Open");
    e.close = driver.Function<decltype(e.close)>("_Close");
    e.setParameters = driver.Function<decltype(e.setParameters)>("SetParameters");
    e.getParameters = driver.Function<decltype(e.getParameters)>("GetParameters");
    e.getVersionInfo = driver.Function<decltype(e.getVersionInfo)>("GetVersionInfo");
    e.getDeviceInfo = driver.Function<decltype(e.getDeviceInfo)>("GetDeviceInfo");
    e.getGammaInfo = driver.Function<decltype(e.getGammaInfo)>("GetGammaInfo");
    e.carriageHome = driver.Function<decltype(e.carriageHome)>("CarriageHome");
    e.powerControl = driver.Function<decltype(e.powerControl)>("PowerControl");
    e.getDeviceStatus = driver.Function<decltype(e.getDeviceStatus)>("GetDeviceStatus");
    e.getKeyStatus = driver.Function<decltype(e.getKeyStatus)>("GetKeyStatus");
    e.testEntry = driver.Function<decltype(e.testEntry)>("TestEntry");
    e.startScan = driver.Function<decltype(e.startScan)>("StartScan");
    e.readScannedData = driver.Function<decltype(e.readScannedData)>("ReadScannedData");
    e.stopScan = driver.Function<decltype(e.stopScan)>("StopScan");
    return e;
}

}  // namespace b58::host

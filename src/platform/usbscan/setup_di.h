// The device-interface enumeration of the stand-in class driver. On POSIX these are what
// SetupDiGetClassDevsA and its companions do; on Windows a host attaches them to the driver's
// imports of those names. Sets are handles of the stand-in's kernel-object table.
#pragma once

#include "platform/win32.h"

namespace b58::usbscan {

HDEVINFO GetClassDevs(const GUID* classGuid, DWORD flags);
BOOL EnumDeviceInterfaces(HDEVINFO set, const GUID* interfaceClass, DWORD memberIndex,
                          PSP_DEVICE_INTERFACE_DATA interfaceData);
BOOL GetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                              PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                              LPDWORD requiredSize);
BOOL DestroyDeviceInfoList(HDEVINFO set);

}  // namespace b58::usbscan

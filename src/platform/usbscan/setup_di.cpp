// The device-interface enumeration functions, for the still-image interface class only: a
// device information set is a snapshot of the interface paths published when it was made.
#include "platform/usbscan/setup_di.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/entry_fault.h"
#include "platform/posix/kernel_object.h"
#include "platform/usbscan/device_config.h"
#include "platform/usbscan/device_names.h"
#include "platform/usbscan/device_registry.h"
#include "platform/win32.h"

namespace b58::usbscan {
namespace {

constexpr DWORD kInterfaceActive = 0x1;  // SPINT_ACTIVE
constexpr DWORD kDetailPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

class DeviceInfoSet final : public platform::KernelObject {
  public:
    DeviceInfoSet(GUID interfaceClass, std::vector<std::string> paths)
        : interfaceClass_(interfaceClass), paths_(std::move(paths)) {}
    const GUID& InterfaceClass() const { return interfaceClass_; }
    const std::vector<std::string>& Paths() const { return paths_; }

  private:
    const GUID interfaceClass_;
    const std::vector<std::string> paths_;
};

bool SameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) == 0;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

// The enumerator and the window are not used: every published interface is a present USB
// device.
HDEVINFO GetClassDevs(const GUID* classGuid, DWORD flags) try {
    EnsureDevicesConfigured();
    bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
    if (classGuid == nullptr && !allClasses) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> paths;
    bool stillImage = allClasses || SameGuid(*classGuid, kStillImageInterfaceClass);
    if ((flags & DIGCF_DEVICEINTERFACE) != 0 && stillImage) paths = InterfacePathSnapshot();
    SetLastError(ERROR_SUCCESS);
    return platform::InsertHandle(
        std::make_shared<DeviceInfoSet>(kStillImageInterfaceClass, std::move(paths)));
} catch (...) {
    return platform::EntryFault(static_cast<HDEVINFO>(INVALID_HANDLE_VALUE));
}

// There are no device information elements here, so `deviceInfo` narrows nothing.
BOOL EnumDeviceInterfaces(HDEVINFO set, const GUID* interfaceClass, DWORD memberIndex,
                          PSP_DEVICE_INTERFACE_DATA interfaceData) try {
    auto info = platform::ReferenceHandleAs<DeviceInfoSet>(set);
    if (!info) return Fail(ERROR_INVALID_HANDLE);
    if (interfaceClass == nullptr || interfaceData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (!SameGuid(*interfaceClass, info->InterfaceClass()) || memberIndex >= info->Paths().size()) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    interfaceData->InterfaceClassGuid = *interfaceClass;
    interfaceData->Flags = kInterfaceActive;
    interfaceData->Reserved = memberIndex + 1;  // which member of the set the record names
    SetLastError(ERROR_SUCCESS);
    return TRUE;
} catch (...) {
    return platform::EntryFault(FALSE);
}

BOOL GetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                              PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                              LPDWORD requiredSize) try {
    auto info = platform::ReferenceHandleAs<DeviceInfoSet>(set);
    if (!info) return Fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    uint32_t member = interfaceData->Reserved;
    if (member == 0 || member > info->Paths().size()) return Fail(ERROR_INVALID_PARAMETER);

    const std::string& path = info->Paths()[member - 1];
    DWORD needed = kDetailPathOffset + static_cast<DWORD>(path.size()) + 1;
    if (requiredSize != nullptr) *requiredSize = needed;

    if (detail == nullptr)
        return Fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    if (detailSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(reinterpret_cast<char*>(detail) + kDetailPathOffset, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
} catch (...) {
    return platform::EntryFault(FALSE);
}

BOOL DestroyDeviceInfoList(HDEVINFO set) {
    if (!platform::ReferenceHandleAs<DeviceInfoSet>(set)) return Fail(ERROR_INVALID_HANDLE);
    platform::RemoveHandle(set);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace b58::usbscan

#if !defined(_WIN32)
// The system's names for them on the stand-in platform. On Windows a host attaches them to the
// driver in place of the system's own (see tools/standin).
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR, HWND, DWORD flags) {
    return b58::usbscan::GetClassDevs(classGuid, flags);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* interfaceClass,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData) {
    return b58::usbscan::EnumDeviceInterfaces(set, interfaceClass, memberIndex, interfaceData);
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      LPDWORD requiredSize, PSP_DEVINFO_DATA) {
    return b58::usbscan::GetDeviceInterfaceDetail(set, interfaceData, detail, detailSize, requiredSize);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    return b58::usbscan::DestroyDeviceInfoList(set);
}
#endif

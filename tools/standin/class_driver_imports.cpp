#include "class_driver_imports.h"

#include <vector>

#include "import_table.h"
#include "platform/posix/entry_fault.h"
#include "platform/posix/kernel_object.h"
#include "platform/usbscan/class_driver.h"
#include "platform/usbscan/device_config.h"
#include "platform/usbscan/setup_di.h"

namespace b58::standin {
namespace {

using platform::IoObject;
using platform::ReferenceHandleAs;

// The stand-in's own handles: device handles and device information sets.
std::shared_ptr<IoObject> DeviceOf(HANDLE handle) {
    return ReferenceHandleAs<IoObject>(handle);
}

HANDLE WINAPI StandInCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile) try {
    if (!usbscan::IsDeviceName(name)) {
        return CreateFileA(name, access, share, security, disposition, flags, templateFile);
    }
    usbscan::EnsureDevicesConfigured();
    std::shared_ptr<IoObject> device = usbscan::OpenDevice(name, flags);
    if (!device) return INVALID_HANDLE_VALUE;  // the last error is set
    HANDLE handle = platform::InsertHandle(std::move(device));
    SetLastError(ERROR_SUCCESS);
    return handle;
} catch (...) {
    return platform::EntryFault(INVALID_HANDLE_VALUE);
}

BOOL WINAPI StandInDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                   DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) try {
    if (auto device = DeviceOf(handle))
        return device->IoControl(code, in, inSize, out, outSize, returned, overlapped);
    return DeviceIoControl(handle, code, in, inSize, out, outSize, returned, overlapped);
} catch (...) {
    return platform::EntryFault(FALSE);
}

BOOL WINAPI StandInReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD transferred,
                            LPOVERLAPPED overlapped) try {
    if (auto device = DeviceOf(handle)) return device->Read(buffer, size, transferred, overlapped);
    return ReadFile(handle, buffer, size, transferred, overlapped);
} catch (...) {
    return platform::EntryFault(FALSE);
}

BOOL WINAPI StandInCancelIo(HANDLE handle) try {
    if (auto device = DeviceOf(handle)) return device->Cancel();
    return CancelIo(handle);
} catch (...) {
    return platform::EntryFault(FALSE);
}

BOOL WINAPI StandInCloseHandle(HANDLE handle) try {
    if (platform::RemoveHandle(handle)) {
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    return CloseHandle(handle);
} catch (...) {
    return platform::EntryFault(FALSE);
}

HDEVINFO WINAPI StandInGetClassDevs(const GUID* classGuid, PCSTR, HWND, DWORD flags) {
    return usbscan::GetClassDevs(classGuid, flags);
}

BOOL WINAPI StandInEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* interfaceClass,
                                        DWORD member, PSP_DEVICE_INTERFACE_DATA interfaceData) {
    return usbscan::EnumDeviceInterfaces(set, interfaceClass, member, interfaceData);
}

BOOL WINAPI StandInGetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                            PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                            PDWORD requiredSize, PSP_DEVINFO_DATA) {
    return usbscan::GetDeviceInterfaceDetail(set, interfaceData, detail, detailSize, requiredSize);
}

BOOL WINAPI StandInDestroyDeviceInfoList(HDEVINFO set) {
    return usbscan::DestroyDeviceInfoList(set);
}

template <typename Fn>
void* Address(Fn function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

const std::vector<ImportBinding>& ClassDriverBindings() {
    static const std::vector<ImportBinding> bindings = {
        {"setupapi.dll", "SetupDiGetClassDevsA", Address(&StandInGetClassDevs)},
        {"setupapi.dll", "SetupDiEnumDeviceInterfaces", Address(&StandInEnumDeviceInterfaces)},
        {"setupapi.dll", "SetupDiGetDeviceInterfaceDetailA", Address(&StandInGetDeviceInterfaceDetail)},
        {"setupapi.dll", "SetupDiDestroyDeviceInfoList", Address(&StandInDestroyDeviceInfoList)},
        {"kernel32.dll", "CreateFileA", Address(&StandInCreateFileA)},
        {"kernel32.dll", "DeviceIoControl", Address(&StandInDeviceIoControl)},
        {"kernel32.dll", "ReadFile", Address(&StandInReadFile)},
        {"kernel32.dll", "CancelIo", Address(&StandInCancelIo)},
        {"kernel32.dll", "CloseHandle", Address(&StandInCloseHandle)},
    };
    return bindings;
}

bool AttachClassDriver(HMODULE driver, std::string* error) {
    std::string problem;
    int rebound = RebindImports(driver, ClassDriverBindings(), &problem);
    if (rebound < 0) {
        if (error != nullptr) *error = problem;
        return false;
    }
    // A driver that reaches the class driver imports at least the enumeration and CreateFileA.
    if (rebound < 2) {
        if (error != nullptr) *error = "the module does not import the class driver's functions";
        return false;
    }
    return true;
}

}  // namespace b58::standin

#include "device/device_discovery.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "contract/scanner_model.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr const char kFixedNamePrefix[] = "\\\\.\\UsbScan";
constexpr const char kInterfaceNameSuffix[] = "\\\\\\.\\USBScan";  // three backslashes, '.', '\'

HANDLE OpenDevice(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace

bool IsScannerInterfacePath(const char* path) {
    const InterfaceFacts& facts = Model().connection;
    return std::strstr(path, facts.productTag) != nullptr && std::strstr(path, facts.vendorTag) != nullptr;
}

bool BuildInterfaceFileName(const char* path, int index, char* name, size_t nameSize) {
    const size_t length = std::strlen(path);
    if (length > kMaxInterfacePathLength) return false;
    // The path is copied, never used as a format: a '%' in it stays a plain character.
    const int written = std::snprintf(name, nameSize, "%s%s%d", path, kInterfaceNameSuffix, index);
    return written > 0 && static_cast<size_t>(written) < nameSize;
}

HANDLE OpenScannerByName() {
    for (int index = 0; index < kFixedNameCount; ++index) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%s%d", kFixedNamePrefix, index);
        HANDLE device = OpenDevice(name);
        if (device != INVALID_HANDLE_VALUE) return device;
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE GetDeviceViaInterface(const GUID* interfaceClass, DWORD memberIndex) {
    Trace("< Enter the GetDeviceViaInterface!");
    if (interfaceClass == nullptr) {
        Trace("> Leave the GetDeviceViaInterface with incorrect parameter!");
        return INVALID_HANDLE_VALUE;
    }

    HDEVINFO devices =
        SetupDiGetClassDevsA(interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (devices == INVALID_HANDLE_VALUE) Trace("NO HDEVINFO available for this GUID!");

    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (!SetupDiEnumDeviceInterfaces(devices, nullptr, interfaceClass, memberIndex, &interfaceData)) {
        Trace(
            "> Leave the GetDeviceViaInterface with NO SP_INTERFACE_DEVICE_DATA availabel for this GUID "
            "Instance!");
        SetupDiDestroyDeviceInfoList(devices);
        return INVALID_HANDLE_VALUE;
    }

    // First call asks for the size only; its failure is the expected answer.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(devices, &interfaceData, nullptr, 0, &required, nullptr);
    // Never smaller than the record's fixed part, which is written below, and one zero
    // byte more so the path always ends.
    const size_t allocation =
        (required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? required
                                                              : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) +
        1;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, allocation));
    if (detail == nullptr) {
        SetupDiDestroyDeviceInfoList(devices);
        Trace("> Leave the GetDeviceViaInterface with new the pIfDetail fail!");
        return INVALID_HANDLE_VALUE;
    }

    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(devices, &interfaceData, detail, required, nullptr, nullptr)) {
        SetupDiDestroyDeviceInfoList(devices);
        std::free(detail);
        Trace("> Leave the GetDeviceViaInterface with get the devicepath fail!");
        return INVALID_HANDLE_VALUE;
    }

    const char* path = detail->DevicePath;
    if (IsScannerInterfacePath(path)) {
        Trace("Find the scanner!");
        if (std::strlen(path) > kMaxInterfacePathLength) {
            // Its file names would not fit: the interface is passed over.
            Trace("Device path too long for its file names, passed over!");
        } else {
            for (int index = 0; index < kInterfaceNameCount; ++index) {
                char name[kInterfaceNameSize];
                BuildInterfaceFileName(path, index, name, sizeof name);
                Trace("The device path is %s!", name);
                HANDLE device = OpenDevice(name);
                if (device != INVALID_HANDLE_VALUE) {
                    SetupDiDestroyDeviceInfoList(devices);
                    std::free(detail);
                    Trace("> Leave the GetDeviceViaInterface with get the scannerhandle!");
                    return device;
                }
            }
        }
    }

    SetupDiDestroyDeviceInfoList(devices);
    std::free(detail);
    Trace("> Leave the GetDeviceViaInterface!");
    return INVALID_HANDLE_VALUE;
}

uint8_t CloseScanner(HANDLE device) {
    if (device != nullptr && device != INVALID_HANDLE_VALUE) CloseHandle(device);
    return 1;
}

}  // namespace b58

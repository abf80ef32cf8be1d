#include "device/firmware_download.h"

#include <cstring>

#include "device/command_packets.h"
#include "device/command_transport.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr const char kReportCaption[] = "TUVO.LIB";
constexpr const char kDriversFolder[] = "\\system32\\drivers\\";
constexpr UINT kWindowsDirectorySize = 255;
constexpr uint8_t kReplyStatusDone = 0;

void Report(HWND owner, int32_t reportMode, const char* text) {
    if (reportMode == 1 || reportMode == 2) MessageBoxA(owner, text, kReportCaption, MB_OK);
}

}  // namespace

bool BuildFirmwarePath(char* path) {
    path[0] = '\0';
    char directory[kFirmwarePathSize] = {};
    const UINT length = GetWindowsDirectoryA(directory, kWindowsDirectorySize);
    if (length == 0 || length >= kWindowsDirectorySize) return false;
    if (length + sizeof kDriversFolder - 1 + sizeof kFirmwareFileName > kFirmwarePathSize) return false;
    std::memcpy(path, directory, length + 1);
    lstrcatA(path, kDriversFolder);
    lstrcatA(path, kFirmwareFileName);
    return true;
}

uint8_t ReadFileFromAnyWhere(const char* path, uint8_t* buffer, DWORD* bytesRead) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD count = 0;
    const BOOL read = ReadFile(file, buffer, kFirmwareBufferSize, &count, nullptr);
    CloseHandle(file);
    if (bytesRead != nullptr) *bytesRead = count;
    return (read && count > 0) ? 1 : 0;
}

uint8_t ProcessDownloadFirmware(HWND owner, int32_t reportMode, HANDLE device, int32_t /*requestCode*/,
                                const char* path) {
    uint8_t image[kFirmwareBufferSize];
    DWORD bytesRead = 0;
    if (!ReadFileFromAnyWhere(path, image, &bytesRead)) {
        Report(owner, reportMode, "ProcessDownloadFirmware().ReadFileFromAnyWhere() Fail!");
        return 0;
    }
    std::memset(image + bytesRead, 0, kFirmwareBufferSize - bytesRead);

    const uint16_t transferLength = FirmwareTransferLength(bytesRead);
    if (transferLength == 0) {
        // Its rounded length would wrap in the transfer's 14 bits and send a cut image.
        Trace("The firmware image is too long (%lu bytes)!", static_cast<unsigned long>(bytesRead));
        Report(owner, reportMode, "ProcessDownloadFirmware().ZtDownloadFirmware() Fail!");
        return 0;
    }
    if (ZtDownloadFirmware(device, image, transferLength)) return 1;
    Report(owner, reportMode, "ProcessDownloadFirmware().ZtDownloadFirmware() Fail!");
    return 0;
}

uint8_t ZtDownloadFirmware(HANDLE device, const uint8_t* image, uint16_t transferLength) {
    uint32_t offset = 0;
    while (offset < transferLength) {
        uint8_t written[kFirmwareBlockSize] = {};
        uint8_t readBack[kFirmwareBlockSize] = {};
        const uint32_t remaining = transferLength - offset;
        std::memcpy(written, image + offset, remaining < kFirmwareBlockSize ? remaining : kFirmwareBlockSize);
        // The transfers' own results are not judged: a failed one shows as a difference.
        WriteControllerMemory(device, static_cast<uint16_t>(offset), kFirmwareBlockSize, written);
        ReadControllerMemory(device, static_cast<uint16_t>(offset), kFirmwareBlockSize, readBack);
        if (std::memcmp(written, readBack, kFirmwareBlockSize) != 0) return 0;
        offset += kFirmwareBlockSize;
    }
    uint8_t packet[kCommandPacketSize];
    BuildDownloadCompletePacket(static_cast<uint16_t>(offset), packet);
    if (!ExchangePacket(device, packet, packet)) return 0;
    // The controller checks the image before it runs it: only a done status means the
    // firmware now runs. A refused image leaves it without firmware, which every later
    // command would only show as a refusal.
    if (packet[0] != kReplyStatusDone) {
        Trace("The controller did not accept the firmware (status %d)!", packet[0]);
        return 0;
    }
    return 1;
}

}  // namespace b58

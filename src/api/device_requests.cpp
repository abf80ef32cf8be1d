#include "api/device_requests.h"

#include "device/command_packets.h"
#include "device/command_set.h"
#include "device/command_transport.h"
#include "device/firmware_download.h"

namespace b58 {

uint8_t DownloadFirmwareToDevice(Driver& driver) {
    char path[kFirmwarePathSize];
    BuildFirmwarePath(path);  // an unknown directory leaves the path empty: the read then fails
    return ProcessDownloadFirmware(nullptr, kReportSilent, driver.DeviceHandle, driver.DeviceKind, path);
}

uint8_t SendLampControl(Driver& driver, uint8_t lampMask) {
    driver.MiscControlBuffer[0] = lampMask;
    return ProcessCommandMiscControl(nullptr, kReportSilent, driver.Link(), kCmdLampControl,
                                     driver.MiscControlBuffer, driver.MiscControlBuffer);
}

uint8_t SendKeyQuery(Driver& driver) {
    uint8_t* buffer = driver.MiscControlBuffer;
    FillShortCommand(kCmdKeyQuery, buffer);
    uint32_t returned = 0;
    return ScannerIoControlShort(driver.DeviceHandle, static_cast<uint32_t>(driver.DeviceKind), buffer,
                                 kCommandPacketSize, buffer, kCommandPacketSize, &returned);
}

bool KeyWasPressed(const Driver& driver) {
    return driver.MiscControlBuffer[2] == 1;
}

}  // namespace b58

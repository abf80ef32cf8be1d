#include "api/device_requests.h"

#include "api/driver_link.h"
#include "device/command_packets.h"
#include "device/command_set.h"
#include "device/command_transport.h"
#include "device/firmware_download.h"
#include "state/driver_state.h"

namespace b58 {

uint8_t DownloadFirmwareToDevice() {
    char path[kFirmwarePathSize];
    BuildFirmwarePath(path);  // an unknown directory leaves the path empty: the read then fails
    return ProcessDownloadFirmware(nullptr, kReportSilent, g_state.DeviceHandle, g_state.DeviceKind, path);
}

uint8_t SendLampControl(uint8_t lampMask) {
    g_state.MiscControlBuffer[0] = lampMask;
    return ProcessCommandMiscControl(nullptr, kReportSilent, DriverLink(), kCmdLampControl,
                                     g_state.MiscControlBuffer, g_state.MiscControlBuffer);
}

uint8_t SendKeyQuery() {
    uint8_t* buffer = g_state.MiscControlBuffer;
    FillShortCommand(kCmdKeyQuery, buffer);
    uint32_t returned = 0;
    return ScannerIoControlShort(g_state.DeviceHandle, static_cast<uint32_t>(g_state.DeviceKind), buffer,
                                 kCommandPacketSize, buffer, kCommandPacketSize, &returned);
}

bool KeyWasPressed() {
    return g_state.MiscControlBuffer[2] == 1;
}

}  // namespace b58

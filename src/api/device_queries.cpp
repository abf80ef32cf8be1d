// The device queries and controls: version, device and gamma information, carriage home,
// light control, device and key status, and the diagnostic entry.
#include <cstdio>
#include <cstring>

#include "api/device_requests.h"
#include "api/driver_link.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "api/open_state.h"
#include "device/command_packets.h"
#include "device/command_set.h"
#include "device/command_transport.h"
#include "device/device_discovery.h"
#include "state/driver_state.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr uint8_t kVersionMajor = 2;
constexpr uint8_t kVersionMinor = 4;
constexpr size_t kIdentifierOffset = 32;  // DeviceInfoBlock bytes 32-35: the model identifier
constexpr uint8_t kFeaturePresent = 1;    // byte 8 of the feature query's reply
constexpr uint8_t kLampPowerAllowed = 1;  // byte 2 of the lamp-power query's reply

// TestEntry codes.
enum TestCode : uint16_t {
    kTestOpen = 1,
    kTestKey = 3,
    kTestLampsOff = 5,
    kTestLampsOn = 6,
    kTestKeyClear = 7,
    kTestScanFromOrigin = 8,
    kTestScanCalibrationArea = 30,
    kTestDirectRead = 31,
};

uint8_t QueryIdentity(uint16_t* third) {
    ScannerIdentity ids;
    if (!ProcessCommandGetAllID(nullptr, kReportSilent, DriverLink(), &ids)) return 0;
    *third = ids.id3;
    return 1;
}

uint8_t SendMiscControl(uint8_t command) {
    return ProcessCommandMiscControl(nullptr, kReportSilent, DriverLink(), command, g_state.MiscControlBuffer,
                                     g_state.MiscControlBuffer);
}

uint8_t CurrentLamp() {
    return g_state.Session.TaMode ? kLampTa : kLampFlatbed;
}

void CloseDevice() {
    CloseScanner(g_state.DeviceHandle);
    g_state.DeviceHandle = INVALID_HANDLE_VALUE;
}

// While a scan runs its reader thread and StopScan own the command buffers and the
// scanner's state: calls that would send a command are refused then.
bool ScanRunning() {
    return g_state.Run.Running();
}

template <typename Record>
int32_t Refused(Record* record, uint16_t status) {
    record->Status = status;
    return 0;
}

bool TestCodeSendsCommand(uint16_t code) {
    return code == kTestKey || code == kTestLampsOff || code == kTestLampsOn || code == kTestKeyClear;
}

uint16_t ReadLe16(const void* data) {
    uint8_t bytes[2];
    std::memcpy(bytes, data, 2);  // the host's value need not be aligned
    return GetLe16(bytes);
}

// The scanner did not answer a query: the record says so instead of reporting success.
int32_t DeviceFailed(const char* entry, void* record) {
    WriteRecordStatus(record, kStatusDeviceFailed);
    Trace("%s: the scanner does not answer", entry);
    return 0;
}

int32_t VersionInfo(VersionRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner("GetVersionInfo", record)) return 0;
    record->Status = kStatusOk;
    uint16_t unused = 0;
    if (!ScanRunning() && !QueryIdentity(&unused)) return DeviceFailed("GetVersionInfo", record);
    record->VersionMajor = kVersionMajor;
    record->VersionMinor = kVersionMinor;
    return 1;
}

int32_t DeviceInfo(DeviceInfoRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner("GetDeviceInfo", record)) return 0;
    if (ScanRunning()) return Refused(record, kStatusScanRunning);
    uint16_t identifier = 0;
    if (!QueryIdentity(&identifier)) return DeviceFailed("GetDeviceInfo", record);
    {
        char digits[16];
        // The format keeps its historical spelling; the repeated zero flag pads as "%04X" does.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#endif
        std::snprintf(digits, sizeof digits, "%0004X", identifier & 0xFFu);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
        std::memcpy(g_state.DeviceInfoBlock + kIdentifierOffset, digits, 4);
    }

    uint8_t packet[kCommandPacketSize] = {};
    packet[0] = kCmdFeatureQuery;
    uint32_t returned = 0;
    g_state.LastStatus = ScannerIoControl(g_state.DeviceHandle, kCommandExchange, packet, kCommandPacketSize,
                                          packet, kCommandPacketSize, &returned);
    if (g_state.LastStatus == 0) return DeviceFailed("GetDeviceInfo", record);

    std::memset(record, 0, sizeof *record);
    record->Status = kStatusOk;
    record->InfoVersion = 2;
    record->InfoBlockSize = kDeviceInfoBlockSize;
    record->DeviceInfoBlock = g_state.DeviceInfoBlock;
    record->DeviceFlag = packet[8] == kFeaturePresent ? 1 : 0;
    record->Byte16 = 1;
    record->Byte17 = 8;
    record->Byte18 = 8;
    return 1;
}

int32_t GammaInfo(GammaInfoRecord* record) {
    if (record == nullptr) return 0;
    const uint16_t bits = record->ScanMode == ModeColor48 ? 16 : 8;
    record->Status = kStatusOk;
    record->GammaInBits = bits;
    record->GammaOutBits = bits;
    return 1;
}

int32_t HomeCarriage(ControlRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner("CarriageHome", record)) return 0;
    if (ScanRunning()) return Refused(record, kStatusCarriageHomeFailed);
    g_state.LastStatus = SendMiscControl(kCmdCarriageHome);
    record->Status = g_state.LastStatus ? kStatusOk : kStatusCarriageHomeFailed;
    return g_state.LastStatus;
}

int32_t SwitchLight(ControlRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner("PowerControl", record)) return 0;
    if (ScanRunning()) return Refused(record, kStatusScanRunning);
    g_state.LastStatus = SendMiscControl(kCmdLampPowerQuery);
    // A query that failed leaves the buffer as the previous command left it: no answer is
    // no permission.
    if (g_state.LastStatus == 0 || g_state.MiscControlBuffer[0] != kLampPowerAllowed) {
        record->Status = kStatusLightControlFailed;
        return 0;
    }
    g_state.LastStatus = SendLampControl(record->PowerOn == 0 ? kLampNone : CurrentLamp());
    record->Status = g_state.LastStatus ? kStatusOk : kStatusLightControlFailed;
    return g_state.LastStatus;
}

int32_t DeviceStatus(ControlRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner("GetDeviceStatus", record)) return 0;
    if (g_state.DeviceHandle == INVALID_HANDLE_VALUE) {
        record->Status = kStatusNoDevice;
        return 0;
    }
    if (ScanRunning()) return Refused(record, kStatusScanRunning);
    record->Status = kStatusOk;
    g_state.LastStatus = SendLampControl(CurrentLamp());  // the current light source once more
    if (g_state.LastStatus == 0) return DeviceFailed("GetDeviceStatus", record);
    record->PowerOn = 0;
    record->Byte3 = 0;
    record->Byte4 = 0;
    record->Byte5 = 0;
    return 1;
}

int32_t KeyStatus(uint8_t* keyState) {
    if (keyState == nullptr || ScanRunning()) return 0;
    if (g_state.DeviceHandle == INVALID_HANDLE_VALUE) {
        g_state.DeviceHandle = OpenScannerByName();
        if (g_state.DeviceHandle == INVALID_HANDLE_VALUE) return 0;
    }
    g_state.LastStatus = SendKeyQuery();
    if (g_state.LastStatus == 0) return 0;
    *keyState = KeyWasPressed() ? 0x10 : 0;
    // Closed whoever opened it: the next SetParameters opens the device again.
    CloseDevice();
    g_state.LastStatus = 1;
    return g_state.LastStatus;
}

int32_t DiagnosticEntry(uint16_t code, void* data) {
    if (ScanRunning() && TestCodeSendsCommand(code)) return 0;
    bool openedHere = false;
    if (g_state.DeviceHandle == INVALID_HANDLE_VALUE) {
        g_state.DeviceHandle = OpenScannerByName();
        if (g_state.DeviceHandle == INVALID_HANDLE_VALUE) return 0;
        openedHere = true;
        g_state.LastStatus = DownloadFirmwareToDevice();
    }

    // Codes 1 and 3 answer at once and leave a device they opened open.
    if (code == kTestOpen) return 1;
    if (code == kTestKey) {
        g_state.LastStatus = SendKeyQuery();
        return g_state.LastStatus && KeyWasPressed() ? 1 : 0;
    }

    int32_t result = 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    switch (code) {
        case kTestLampsOff:
            g_state.LastStatus = SendLampControl(kLampNone);
            result = g_state.LastStatus;
            break;
        case kTestLampsOn:
            SendLampControl(kLampBoth);
            g_state.LastStatus = 1;
            result = 1;
            break;
        case kTestKeyClear:
            g_state.LastStatus = SendKeyQuery();
            if (data != nullptr) *static_cast<uint8_t*>(data) = 0;
            result = g_state.LastStatus;
            break;
        case kTestScanFromOrigin:
            if (bytes != nullptr) g_state.ScanFromOrigin = ReadLe16(bytes);
            result = g_state.LastStatus;
            break;
        case kTestScanCalibrationArea:
            if (bytes != nullptr) g_state.ScanCalibrationArea = ReadLe16(bytes);
            result = g_state.LastStatus;
            break;
        case kTestDirectRead:
            g_state.DirectReadMode = bytes != nullptr ? 1 : 0;
            if (bytes != nullptr) {
                g_state.DirectReadPacing =
                    static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(bytes[0])));
            }
            result = g_state.LastStatus;
            break;
        default:
            result = g_state.LastStatus;
            break;
    }

    if (openedHere) {
        CloseDevice();
        g_state.LastStatus = 1;
    }
    return result;
}

}  // namespace
}  // namespace b58

extern "C" {

B58_EXPORT int32_t B58_CALL GetVersionInfo(VersionRecord* record) {
    return b58::GuardExport("GetVersionInfo", record, [&] { return b58::VersionInfo(record); });
}

B58_EXPORT int32_t B58_CALL GetDeviceInfo(DeviceInfoRecord* record) {
    return b58::GuardExport("GetDeviceInfo", record, [&] { return b58::DeviceInfo(record); });
}

B58_EXPORT int32_t B58_CALL GetGammaInfo(GammaInfoRecord* record) {
    return b58::GuardExport("GetGammaInfo", record, [&] { return b58::GammaInfo(record); });
}

B58_EXPORT int32_t B58_CALL CarriageHome(ControlRecord* record) {
    return b58::GuardExport("CarriageHome", record, [&] { return b58::HomeCarriage(record); });
}

B58_EXPORT int32_t B58_CALL PowerControl(ControlRecord* record) {
    return b58::GuardExport("PowerControl", record, [&] { return b58::SwitchLight(record); });
}

B58_EXPORT int32_t B58_CALL GetDeviceStatus(ControlRecord* record) {
    return b58::GuardExport("GetDeviceStatus", record, [&] { return b58::DeviceStatus(record); });
}

B58_EXPORT int32_t B58_CALL GetKeyStatus(uint8_t* keyState) {
    return b58::GuardExport("GetKeyStatus", nullptr, [&] { return b58::KeyStatus(keyState); });
}

B58_EXPORT int32_t B58_CALL TestEntry(uint16_t code, void* data) {
    return b58::GuardExport("TestEntry", nullptr, [&] { return b58::DiagnosticEntry(code, data); });
}

}  // extern "C"

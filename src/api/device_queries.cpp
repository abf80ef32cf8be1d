// The device queries and controls: version, device and gamma information, carriage home,
// light control, device and key status, and the diagnostic entry.
#include <cstdio>
#include <cstring>

#include "api/device_requests.h"
#include "api/export_guard.h"
#include "api/exports.h"
#include "api/open_state.h"
#include "device/command_packets.h"
#include "device/command_set.h"
#include "device/command_transport.h"
#include "device/device_discovery.h"
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

uint8_t QueryIdentity(Driver& driver, uint16_t* third) {
    ScannerIdentity ids;
    if (!ProcessCommandGetAllID(nullptr, kReportSilent, driver.Link(), &ids)) return 0;
    *third = ids.id3;
    return 1;
}

uint8_t SendMiscControl(Driver& driver, uint8_t command) {
    return ProcessCommandMiscControl(nullptr, kReportSilent, driver.Link(), command, driver.MiscControlBuffer,
                                     driver.MiscControlBuffer);
}

uint8_t CurrentLamp(const Driver& driver) {
    return driver.Session.TaMode ? kLampTa : kLampFlatbed;
}

void CloseDevice(Driver& driver) {
    CloseScanner(driver.DeviceHandle);
    driver.DeviceHandle = INVALID_HANDLE_VALUE;
}

// While a scan runs its reader thread and StopScan own the command buffers and the
// scanner's state: calls that would send a command are refused then.
bool ScanRunning(const Driver& driver) {
    return driver.Run.Running();
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

int32_t VersionInfo(Driver& driver, VersionRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner(driver, "GetVersionInfo", record)) return 0;
    record->Status = kStatusOk;
    uint16_t unused = 0;
    if (!ScanRunning(driver) && !QueryIdentity(driver, &unused))
        return DeviceFailed("GetVersionInfo", record);
    record->VersionMajor = kVersionMajor;
    record->VersionMinor = kVersionMinor;
    return 1;
}

int32_t DeviceInfo(Driver& driver, DeviceInfoRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner(driver, "GetDeviceInfo", record)) return 0;
    if (ScanRunning(driver)) return Refused(record, kStatusScanRunning);
    uint16_t identifier = 0;
    if (!QueryIdentity(driver, &identifier)) return DeviceFailed("GetDeviceInfo", record);
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
        std::memcpy(driver.DeviceInfoBlock + kIdentifierOffset, digits, 4);
    }

    uint8_t packet[kCommandPacketSize] = {};
    packet[0] = kCmdFeatureQuery;
    uint32_t returned = 0;
    driver.LastStatus = ScannerIoControl(driver.DeviceHandle, kCommandExchange, packet, kCommandPacketSize,
                                         packet, kCommandPacketSize, &returned);
    if (driver.LastStatus == 0) return DeviceFailed("GetDeviceInfo", record);

    std::memset(record, 0, sizeof *record);
    record->Status = kStatusOk;
    record->InfoVersion = 2;
    record->InfoBlockSize = kDeviceInfoBlockSize;
    record->DeviceInfoBlock = driver.DeviceInfoBlock;
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

int32_t HomeCarriage(Driver& driver, ControlRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner(driver, "CarriageHome", record)) return 0;
    if (ScanRunning(driver)) return Refused(record, kStatusCarriageHomeFailed);
    driver.LastStatus = SendMiscControl(driver, kCmdCarriageHome);
    record->Status = driver.LastStatus ? kStatusOk : kStatusCarriageHomeFailed;
    return driver.LastStatus;
}

int32_t SwitchLight(Driver& driver, ControlRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner(driver, "PowerControl", record)) return 0;
    if (ScanRunning(driver)) return Refused(record, kStatusScanRunning);
    driver.LastStatus = SendMiscControl(driver, kCmdLampPowerQuery);
    // A query that failed leaves the buffer as the previous command left it: no answer is
    // no permission.
    if (driver.LastStatus == 0 || driver.MiscControlBuffer[0] != kLampPowerAllowed) {
        record->Status = kStatusLightControlFailed;
        return 0;
    }
    driver.LastStatus = SendLampControl(driver, record->PowerOn == 0 ? kLampNone : CurrentLamp(driver));
    record->Status = driver.LastStatus ? kStatusOk : kStatusLightControlFailed;
    return driver.LastStatus;
}

int32_t DeviceStatus(Driver& driver, ControlRecord* record) {
    if (record == nullptr) return 0;
    if (!HostHoldsScanner(driver, "GetDeviceStatus", record)) return 0;
    if (driver.DeviceHandle == INVALID_HANDLE_VALUE) {
        record->Status = kStatusNoDevice;
        return 0;
    }
    if (ScanRunning(driver)) return Refused(record, kStatusScanRunning);
    record->Status = kStatusOk;
    driver.LastStatus = SendLampControl(driver, CurrentLamp(driver));  // the current light source once more
    if (driver.LastStatus == 0) return DeviceFailed("GetDeviceStatus", record);
    record->PowerOn = 0;
    record->Byte3 = 0;
    record->Byte4 = 0;
    record->Byte5 = 0;
    return 1;
}

int32_t KeyStatus(Driver& driver, uint8_t* keyState) {
    if (keyState == nullptr || ScanRunning(driver)) return 0;
    if (driver.DeviceHandle == INVALID_HANDLE_VALUE) {
        driver.DeviceHandle = OpenScannerByName();
        if (driver.DeviceHandle == INVALID_HANDLE_VALUE) return 0;
    }
    driver.LastStatus = SendKeyQuery(driver);
    if (driver.LastStatus == 0) return 0;
    *keyState = KeyWasPressed(driver) ? 0x10 : 0;
    // Closed whoever opened it: the next SetParameters opens the device again.
    CloseDevice(driver);
    driver.LastStatus = 1;
    return driver.LastStatus;
}

int32_t DiagnosticEntry(Driver& driver, uint16_t code, void* data) {
    if (ScanRunning(driver) && TestCodeSendsCommand(code)) return 0;
    bool openedHere = false;
    if (driver.DeviceHandle == INVALID_HANDLE_VALUE) {
        driver.DeviceHandle = OpenScannerByName();
        if (driver.DeviceHandle == INVALID_HANDLE_VALUE) return 0;
        openedHere = true;
        driver.LastStatus = DownloadFirmwareToDevice(driver);
    }

    // Codes 1 and 3 answer at once and leave a device they opened open.
    if (code == kTestOpen) return 1;
    if (code == kTestKey) {
        driver.LastStatus = SendKeyQuery(driver);
        return driver.LastStatus && KeyWasPressed(driver) ? 1 : 0;
    }

    int32_t result = 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    switch (code) {
        case kTestLampsOff:
            driver.LastStatus = SendLampControl(driver, kLampNone);
            result = driver.LastStatus;
            break;
        case kTestLampsOn:
            SendLampControl(driver, kLampBoth);
            driver.LastStatus = 1;
            result = 1;
            break;
        case kTestKeyClear:
            driver.LastStatus = SendKeyQuery(driver);
            if (data != nullptr) *static_cast<uint8_t*>(data) = 0;
            result = driver.LastStatus;
            break;
        case kTestScanFromOrigin:
            if (bytes != nullptr) driver.ScanFromOrigin = ReadLe16(bytes);
            result = driver.LastStatus;
            break;
        case kTestScanCalibrationArea:
            if (bytes != nullptr) driver.ScanCalibrationArea = ReadLe16(bytes);
            result = driver.LastStatus;
            break;
        case kTestDirectRead:
            driver.DirectReadMode = bytes != nullptr ? 1 : 0;
            if (bytes != nullptr) {
                driver.DirectReadPacing =
                    static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(bytes[0])));
            }
            result = driver.LastStatus;
            break;
        default:
            result = driver.LastStatus;
            break;
    }

    if (openedHere) {
        CloseDevice(driver);
        driver.LastStatus = 1;
    }
    return result;
}

}  // namespace
}  // namespace b58

extern "C" {

B58_EXPORT int32_t B58_CALL GetVersionInfo(VersionRecord* record) {
    return b58::GuardExport("GetVersionInfo", record,
                            [&] { return b58::VersionInfo(b58::TheDriver(), record); });
}

B58_EXPORT int32_t B58_CALL GetDeviceInfo(DeviceInfoRecord* record) {
    return b58::GuardExport("GetDeviceInfo", record,
                            [&] { return b58::DeviceInfo(b58::TheDriver(), record); });
}

B58_EXPORT int32_t B58_CALL GetGammaInfo(GammaInfoRecord* record) {
    return b58::GuardExport("GetGammaInfo", record, [&] { return b58::GammaInfo(record); });
}

B58_EXPORT int32_t B58_CALL CarriageHome(ControlRecord* record) {
    return b58::GuardExport("CarriageHome", record,
                            [&] { return b58::HomeCarriage(b58::TheDriver(), record); });
}

B58_EXPORT int32_t B58_CALL PowerControl(ControlRecord* record) {
    return b58::GuardExport("PowerControl", record,
                            [&] { return b58::SwitchLight(b58::TheDriver(), record); });
}

B58_EXPORT int32_t B58_CALL GetDeviceStatus(ControlRecord* record) {
    return b58::GuardExport("GetDeviceStatus", record,
                            [&] { return b58::DeviceStatus(b58::TheDriver(), record); });
}

B58_EXPORT int32_t B58_CALL GetKeyStatus(uint8_t* keyState) {
    return b58::GuardExport("GetKeyStatus", nullptr,
                            [&] { return b58::KeyStatus(b58::TheDriver(), keyState); });
}

B58_EXPORT int32_t B58_CALL TestEntry(uint16_t code, void* data) {
    return b58::GuardExport("TestEntry", nullptr,
                            [&] { return b58::DiagnosticEntry(b58::TheDriver(), code, data); });
}

}  // extern "C"

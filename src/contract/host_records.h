// The records the driver's entry points exchange with the host imaging application, their
// status codes, and the calling conventions of the entry points and of the host's progress
// routine. Nothing here depends on the rest of the driver.
//
// Every record is packed (each field follows the previous one without a gap) and
// little-endian, and begins with a 16-bit Status. Address fields are pointers: 32 bits on
// a 32-bit target, which gives the record sizes the host expects there, and pointer-sized
// on a 64-bit target (same field order, still packed).
//
// Calling conventions: the entry points are C functions with undecorated names, called
// with the caller-cleans convention (__cdecl); the host's progress routine is called with
// the platform's callback convention (__stdcall on 32-bit Windows).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define B58_CALL __cdecl
#define B58_CALLBACK __stdcall
#define B58_EXPORT
#else
#define B58_CALL
#define B58_CALLBACK
#define B58_EXPORT __attribute__((visibility("default")))
#endif

// Status codes written into the records.
//
// While a scan runs (from a StartScan that started the reader until StopScan has finished)
// the calls that would send the scanner a command are refused with result 0: SetParameters,
// GetDeviceInfo, PowerControl and GetDeviceStatus with kStatusScanRunning, CarriageHome with
// kStatusCarriageHomeFailed; GetKeyStatus and TestEntry codes 3, 5, 6 and 7 (no record)
// return 0 only. GetVersionInfo answers without asking the scanner.
//
// StopScan may come from any thread. A ReadScannedData call it meets ends within one poll of
// its line routine, with result 1, kStatusNoFurtherLine and LinesDone counting only the lines
// it wrote; a ReadScannedData after the stop returns 0 with kStatusNoFurtherLine. StopScan
// frees the scan's memory only once both that call and the reader thread have ended; when one
// has not within its wait, StopScan returns 0 and keeps the memory (call it again).
enum B58Status : uint16_t {
    kStatusOk = 0,
    kStatusCarriageHomeFailed = 26,
    kStatusNoFurtherLine = 29,  // end of the image, a reader failure, or a StopScan
    kStatusLightControlFailed = 31,
    // No device open: this process's _Open has not succeeded (or _Close came since), or
    // the device handle was given up. Every entry point that talks to the scanner, but for
    // GetKeyStatus and TestEntry, answers it with result 0 and does nothing.
    kStatusNoDevice = 37,
    kStatusStoppedByHost = 42,
    kStatusScanStarting = 43,
    // SetParameters refusals, each with result 0. The first two change nothing; after the
    // third no working memory is left and the request must be made again.
    kStatusRequestRejected = 44,  // unknown ScanMode, or a window the driver cannot scan
    kStatusScanRunning = 45,      // called between StartScan and StopScan
    kStatusOutOfMemory = 46,      // memory ran out (any entry point, result 0)
    // The scanner failed the call: it refused a command, a transfer failed, it stayed busy
    // past the wait's limit, it did not confirm a firmware download, or it is gone. Result
    // 0; the trace names the step. Written by SetParameters, StartScan, GetVersionInfo,
    // GetDeviceInfo and GetDeviceStatus.
    kStatusDeviceFailed = 47,
    kStatusInternalError = 48,  // an unexpected fault inside the driver (any entry point, result 0)
};

// Scan modes and sources of ScanParameters.
enum B58ScanMode : uint16_t { ModeLineArt = 0, ModeGray = 1, ModeColor24 = 2, ModeColor48 = 10 };

// The host's progress routine: called with the lines delivered so far in the current
// ReadScannedData call; returning 0 asks the driver to stop delivering.
typedef int32_t(B58_CALLBACK* ProgressRoutine)(int32_t linesDone);

#pragma pack(push, 1)

struct ScanParameters {
    uint16_t Status;      // out: 0 after a successful call; on failure (result 0) 37 not open,
                          // 44, 45, 46, or 47 (also: no scanner found)
    uint16_t Left;        // 300-dpi units
    uint16_t Top;         // 300-dpi units
    uint16_t Right;       // 300-dpi units
    uint16_t Bottom;      // 300-dpi units
    uint16_t Resolution;  // in: requested dpi; out: the normalised horizontal resolution
    uint16_t ScanMode;    // B58ScanMode
    uint16_t Threshold;   // line-art threshold
    uint8_t WindowByte;   // passed to the scan-window command
    uint8_t ScanSource;   // 0 flatbed; 1, 2, 4 transparency adapter
    uint16_t* GammaTable; // host's lookup tables, or null
};

struct ScanParametersInfo {
    uint16_t Status;
    uint16_t RXDPI;
    uint16_t RYDPI;
    uint32_t LineBytes;
    uint32_t ImageLines;
};

struct VersionRecord {
    uint16_t Status;
    uint8_t VersionMajor;  // 2
    uint8_t VersionMinor;  // 4
};

struct DeviceInfoRecord {
    uint16_t Status;
    uint16_t InfoVersion;       // 2
    uint16_t Reserved4;         // 0
    uint16_t Reserved6;         // 0
    uint16_t InfoBlockSize;     // 96, the size of DeviceInfoBlock
    uint8_t* DeviceInfoBlock;   // the driver's 96-byte block, valid for the life of the process
    uint8_t DeviceFlag;         // 1 when the feature query reports the feature
    uint8_t Reserved15;         // 0
    uint8_t Byte16;             // 1
    uint8_t Byte17;             // 8
    uint8_t Byte18;             // 8
    uint8_t Reserved19;         // 0
    uint8_t Reserved20;         // 0
    uint8_t Reserved21;         // 0
};

struct GammaInfoRecord {
    uint16_t Status;
    uint16_t ScanMode;      // in
    uint16_t GammaInBits;   // out: 16 for ModeColor48, else 8
    uint16_t GammaOutBits;  // out: 16 for ModeColor48, else 8
};

struct ControlRecord {
    uint16_t Status;
    uint8_t PowerOn;  // PowerControl in: 0 light off, nonzero on; GetDeviceStatus out: 0
    uint8_t Byte3;
    uint8_t Byte4;
    uint8_t Byte5;
};

struct ScanStartRecord {
    uint16_t Status;                   // out: 43; 47 when the scanner failed a step, 44 for a window
                                       // the device cannot take, 37 without _Open
    ProgressRoutine ProgressCallback;  // or null
};

struct ReadRequest {
    uint16_t Status;       // out: 0, 29 no further line (also: no Buffer), 42 stopped by the progress routine
    uint16_t BgrOrder;     // 0: red, green, blue; else blue, green, red
    uint16_t LinesWanted;  // in
    uint16_t LinesDone;    // out
    uint8_t* Buffer;       // LinesWanted x LineBytes bytes
};

struct StopRecord {
    uint16_t Status;
};

#pragma pack(pop)

#define B58_ADDRESS_SIZE sizeof(void*)
static_assert(sizeof(ScanParameters) == 18 + B58_ADDRESS_SIZE);
static_assert(offsetof(ScanParameters, Resolution) == 10 && offsetof(ScanParameters, ScanMode) == 12);
static_assert(offsetof(ScanParameters, WindowByte) == 16 && offsetof(ScanParameters, ScanSource) == 17);
static_assert(offsetof(ScanParameters, GammaTable) == 18);
static_assert(sizeof(ScanParametersInfo) == 14);
static_assert(offsetof(ScanParametersInfo, LineBytes) == 6 && offsetof(ScanParametersInfo, ImageLines) == 10);
static_assert(sizeof(VersionRecord) == 4);
static_assert(sizeof(DeviceInfoRecord) == 18 + B58_ADDRESS_SIZE);
static_assert(offsetof(DeviceInfoRecord, InfoBlockSize) == 8);
static_assert(offsetof(DeviceInfoRecord, DeviceInfoBlock) == 10);
static_assert(offsetof(DeviceInfoRecord, DeviceFlag) == 10 + B58_ADDRESS_SIZE);
static_assert(sizeof(GammaInfoRecord) == 8 && offsetof(GammaInfoRecord, GammaOutBits) == 6);
static_assert(sizeof(ControlRecord) == 6 && offsetof(ControlRecord, PowerOn) == 2);
static_assert(sizeof(ScanStartRecord) == 2 + B58_ADDRESS_SIZE);
static_assert(offsetof(ScanStartRecord, ProgressCallback) == 2);
static_assert(sizeof(ReadRequest) == 8 + B58_ADDRESS_SIZE && offsetof(ReadRequest, Buffer) == 8);
static_assert(offsetof(ReadRequest, LinesWanted) == 4 && offsetof(ReadRequest, LinesDone) == 6);
static_assert(sizeof(StopRecord) == 2);
#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit layout the host application was built against.
static_assert(sizeof(ScanParameters) == 22 && sizeof(DeviceInfoRecord) == 22);
static_assert(sizeof(ScanStartRecord) == 6 && sizeof(ReadRequest) == 12);
#endif

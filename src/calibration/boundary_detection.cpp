#include "calibration/boundary_detection.h"

#include <cstring>
#include <vector>

#include "calibration/edge_search.h"
#include "contract/scanner_model.h"
#include "device/command_packets.h"
#include "device/command_set.h"
#include "device/image_reader.h"
#include "device/scan_geometry.h"
#include "state/trace.h"

namespace b58 {
namespace {

constexpr uint16_t kStripDpi = Model().strips.originDpi;
constexpr uint16_t kStripLines = Model().strips.originLines;
constexpr uint16_t kGreyPixelFormat = 2;
constexpr DWORD kFlatbedStripWaitMs = 150000;
constexpr DWORD kAfterHomeMs = 500;
constexpr uint32_t kTaReadBlock = 5120;

// The geometry of an origin strip: one grey plane at the strip resolution.
GeometryRequest StripGeometry(uint8_t colourOrderCode, uint8_t planeLineOffset, uint16_t pixels) {
    return GeometryRequest{.colourOrderCode = colourOrderCode,
                           .planeLineOffset = planeLineOffset,
                           .pixelFormatCode = kGreyPixelFormat,
                           .baseX = kStripDpi,
                           .baseY = kStripDpi,
                           .targetX = kStripDpi,
                           .targetY = kStripDpi,
                           .xCount = pixels,
                           .yCount = kStripLines};
}

// The window both origin strips are taken with; the adapter's differs in its last fields.
ScanWindowParameters OriginStripWindow(const ScanGeometry& geometry, int32_t deviceKind) {
    ScanWindowParameters w;
    w.myStartx = 0;
    w.myStarty = 0;
    w.HWWidth = geometry.HWWidth;
    w.HWHeight = geometry.HWHeight;
    w.RXDPI = kStripDpi;
    w.SWWidth = geometry.SWWidth;
    w.SWHeight = geometry.SWHeight;
    w.PixelFormatCode = kGreyPixelFormat;
    w.DataWidth = 8;
    w.InterfaceType = static_cast<uint16_t>(deviceKind);
    w.Option20_0 = 1;
    w.Option20_1 = 1;
    w.RYDPI = kStripDpi;
    w.Wide16 = 0;
    w.Unused = 300;
    w.YMAXDPI = kStripDpi;
    w.LAMPSTEP = 0;
    return w;
}

// Reads the whole strip in one overlapped read. True when it arrived complete within the
// wait; a read still running then is cancelled and collected before its buffer goes away.
bool ReadWholeStrip(HANDLE device, uint8_t* strip, DWORD size) {
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return false;
    if (!ReadFile(device, strip, size, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        CloseHandle(overlapped.hEvent);
        return false;
    }
    const bool inTime = WaitForSingleObject(overlapped.hEvent, kFlatbedStripWaitMs) == WAIT_OBJECT_0;
    if (!inTime) CancelIo(device);
    DWORD transferred = 0;
    GetOverlappedResult(device, &overlapped, &transferred, TRUE);
    CloseHandle(overlapped.hEvent);
    return inTime && transferred == size;
}

}  // namespace

ScanOrigin FindFlatbedBounds(const ScannerLink& link, const AfeValues& afe, uint16_t* lineTable) {
    const ScanGeometry geometry =
        ComputeScanGeometry(StripGeometry(0, 0, Model().strips.flatbedOriginPixels), lineTable);
    const uint16_t width = geometry.SWWidth;
    const uint16_t height = geometry.SWHeight;
    std::vector<uint8_t> strip(static_cast<size_t>(width) * height);

    const ScanWindowParameters window = OriginStripWindow(geometry, link.kind);
    if (!ProcessCommandSetScanWindowN(nullptr, kReportSilent, link, window)) return {};
    // The lamp command's block goes out again with the carriage-home command at the end.
    uint8_t block[kCommandPacketSize] = {};
    block[0] = Model().lamps.flatbed;
    if (!ProcessCommandMiscControl(nullptr, kReportSilent, link, kCmdLampControl, block, block)) return {};
    if (!SetAFEParameters(nullptr, kReportSilent, link, afe)) return {};
    if (!WaitScannerReady(link.handle)) return {};
    if (!ProcessCommandSetStartScan(nullptr, kReportSilent, link)) return {};
    // A scanner that refuses the handshake or does not deliver the strip has failed; only a
    // strip that arrived and shows no edge falls back to the fixed origin.
    const bool arrived = WaitScanData(nullptr, link) != 0 &&
                         ReadWholeStrip(link.handle, strip.data(), static_cast<DWORD>(strip.size()));
    const bool stopped = SendStopCommand(link.handle) != 0;
    if (!arrived || !stopped) return {};
    uint16_t left = 0;
    int32_t top = 0;
    FlatbedOriginFromStrip(strip.data(), width, height, &left, &top);

    if (!ProcessCommandSendUserCommand(nullptr, kReportSilent, link,
                                       {kCmdCarriageHome, block, sizeof block, block, sizeof block}) ||
        !WaitScannerReady(link.handle))
        return {};
    Sleep(kAfterHomeMs);

    Trace("LeftBound = %d, TopBound = %d", left, top);
    return {1, left, top};
}

int FindTaBounds(const ScannerLink& link, const TaOriginRequest& request, TaOrigin* origin) {
    uint16_t* const leftbound = &origin->leftbound;
    int32_t* const TopLine = &origin->TopLine;
    const ScanGeometry geometry =
        ComputeScanGeometry(StripGeometry(kGeometrySizesOnly, static_cast<uint8_t>(request.LAMPSTEP),
                                          Model().strips.adapterOriginPixels),
                            nullptr);
    if (geometry.sized) {
        origin->sized = true;
        origin->HWWidth = geometry.HWWidth;
        origin->HWHeight = geometry.HWHeight;
    }
    const uint16_t width = geometry.SWWidth;
    const uint16_t height = geometry.SWHeight;
    std::vector<uint8_t> strip(static_cast<size_t>(width) * height);
    if (*leftbound < kTaMinimumLeftbound) *leftbound = kTaMinimumLeftbound;

    ScanWindowParameters window = OriginStripWindow(geometry, link.kind);
    window.TaMode = 1;
    window.YMAXDPI = request.YMAXDPI;
    window.LAMPSTEP = request.LAMPSTEP;
    const AfeValues& afe = request.afe;
    // Each step is judged: a strip the scanner was not set up for would place the window
    // by edges that are not there.
    const bool started =
        ProcessCommandSetScanWindowN(nullptr, kReportSilent, link, window) &&
        SetAFEParameters(nullptr, kReportSilent, link, afe) && WaitScannerReady(link.handle) &&
        ProcessCommandSetStartScan(nullptr, kReportSilent, link) && WaitScanData(nullptr, link);
    if (!started) {
        // The scanner sends nothing: no strip to read.
        SendStopCommand(link.handle);
        return 0;
    }

    OpenImageReader(link, static_cast<uint32_t>(strip.size()), kTaReadBlock, 1);
    for (int row = 0; row < height; ++row) {
        uint32_t delivered = 0;
        const uint8_t read =
            ReadImageBytes(link, strip.data() + static_cast<size_t>(row) * width, width, &delivered);
        if (!read || delivered != width) {
            // The reader's block reads belong to it alone; closing it ends them now rather
            // than at the next scan's first read.
            CloseImageReader(link);
            return 0;
        }
    }
    Trace("SWWidth=%d,SWHeight=%d", width, height);
    Trace("ScanPixelModeFlag=%d", 0);

    const int left = FindTaLeftEdge(strip.data(), width, height);
    const int top = FindTaTopEdge(strip.data(), width, height, left);
    *leftbound = static_cast<uint16_t>(left);
    *TopLine = top;
    Trace("LeftSide=%d,TopSide=%d", left, top);

    const uint8_t stopped = SendStopCommand(link.handle);
    CloseImageReader(link);
    return stopped;
}

}  // namespace b58

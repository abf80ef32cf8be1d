#include "sim/scan_window_decoder.h"

namespace b58::sim {
namespace {

uint16_t Word(const uint8_t* packet, int at) {
    return static_cast<uint16_t>(packet[at] | packet[at + 1] << 8);
}

}  // namespace

ScanWindow DecodeScanWindow(const uint8_t* packet) {
    ScanWindow w;
    w.startLine = Word(packet, 2);
    w.hwHeight = Word(packet, 4);
    w.startPixel = Word(packet, 6);
    w.hwWidth = Word(packet, 8);
    w.formatByte = packet[10];
    w.optionByte = packet[11];
    w.xDpi = Word(packet, 12);
    w.lineBlocks = Word(packet, 14);
    w.lineBytes = Word(packet, 16);
    w.linesToDeliver = Word(packet, 18);
    w.options20 = packet[20];
    w.modeByte = packet[21];
    w.dataWidth = Word(packet, 22);
    w.trailingWord = Word(packet, 24);
    return w;
}

bool FormatBitsMatchDataWidth(uint8_t formatByte, uint16_t dataWidth) {
    const bool b7 = formatByte & 0x80, b6 = formatByte & 0x40, b5 = formatByte & 0x20;
    const bool b4 = formatByte & 0x10, b3 = formatByte & 0x08;
    switch (dataWidth) {
        case 6:
            return b7 && b6 && !b4 && !b3;
        case 7:
            return b7 && b6 && !b4 && b3;
        case 10:
            return !b6 && !b4 && b3;  // bit 7 says whether samples are widened to 16 bits
        case 12:
        case 14:
            return !b6 && b4 && !b3;
        case 16:
            return !b6 && b5 && !b4 && !b3;
        default:
            return b7 && !b6 && !b4 && !b3;  // 8 and the widths without a code of their own
    }
}

const char* ScanWindowProblem(const ScanWindow& window) {
    const uint8_t format = window.PixelFormatCode();
    if (format != 1 && format != 2 && format != 4) return "unknown pixel format";
    if (window.dataWidth == 0 || window.dataWidth > 16) return "data width outside 1..16";
    if (!FormatBitsMatchDataWidth(window.formatByte, window.dataWidth))
        return "format bits do not match the data width";
    if (window.hwWidth == 0 || window.hwHeight == 0) return "empty hardware window";
    if (window.lineBytes == 0 || window.linesToDeliver == 0) return "nothing to deliver";
    if (window.lineBlocks != BytesPerScanLine(window) / 64) return "line blocks do not match the line bytes";
    return nullptr;
}

}  // namespace b58::sim

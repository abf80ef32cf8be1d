#include "device/command_packets.h"

#include <algorithm>
#include <cstring>

namespace b58 {

uint16_t TaTypeCode(uint16_t taType) {
    switch (taType) {
        case 1:
            return 1;
        case 2:
            return 2;
        case 4:
            return 3;
        default:
            return 0;
    }
}

uint16_t ScanWindowModeField(bool pixelMode, bool noLampStep, uint16_t taTypeCode) {
    return static_cast<uint16_t>((pixelMode ? kModePixel : 0) | (noLampStep ? kModeNoLampStep : 0) |
                                 ((taTypeCode & 0x3) << 2));
}

uint8_t ScanWindowFormatByte(uint16_t pixelFormatCode, uint16_t dataWidth, uint16_t option10_5,
                             uint16_t wide16) {
    const unsigned format = pixelFormatCode & 0x07;
    const unsigned bit5 = (option10_5 & 1u) << 5;
    const unsigned wide = (wide16 & 1u) << 7;
    unsigned high = 0;
    switch (dataWidth) {
        case 6:
            high = 0x80 | 0x40 | bit5;
            break;
        case 7:
            high = 0x80 | 0x40 | bit5 | 0x08;
            break;
        case 8:
            high = 0x80 | bit5;
            break;
        case 10:
            high = wide | bit5 | 0x08;
            break;
        case 12:
        case 14:
            high = wide | bit5 | 0x10;
            break;
        case 16:
            high = wide | 0x20;
            break;
        default:
            high = 0x80 | bit5;
            break;
    }
    return static_cast<uint8_t>(high | format);
}

uint16_t EffectiveSampleBits(uint16_t dataWidth, uint16_t wide16) {
    const bool wide = (wide16 & 1u) != 0;
    switch (dataWidth) {
        case 6:
        case 7:
            return 12;
        case 8:
            return 8;
        case 10:
        case 12:
        case 14:
            return wide ? 16 : dataWidth;
        case 16:
            return 16;
        default:
            return dataWidth;
    }
}

uint16_t ScanWindowLineBytes(uint16_t swWidth, uint16_t dataWidth, uint16_t wide16) {
    const uint32_t bits = static_cast<uint32_t>(swWidth) * EffectiveSampleBits(dataWidth, wide16);
    return static_cast<uint16_t>(bits / 8);
}

uint16_t ScanWindowLineBlocks(uint16_t lineBytes, uint16_t pixelFormatCode) {
    const uint32_t planes = pixelFormatCode == 4 ? 3 : 1;
    return static_cast<uint16_t>(static_cast<uint32_t>(lineBytes) * planes / 64);
}

uint16_t ScanWindowLines(uint16_t swHeight, bool noLampStep, uint16_t rydpi, uint16_t lampStep,
                         uint16_t ymaxdpi) {
    if (noLampStep || ymaxdpi == 0) return swHeight;
    const uint32_t lag = static_cast<uint32_t>(rydpi) * lampStep;
    if (lag / ymaxdpi < 1) return swHeight;
    return static_cast<uint16_t>(swHeight + (2 * lag) / ymaxdpi);
}

void WriteScanWindowPacket(const ScanWindowParameters& w, uint8_t* packet) {
    const bool noLampStep = (w.ModeField & kModeNoLampStep) != 0;
    const uint16_t lineBytes = ScanWindowLineBytes(w.SWWidth, w.DataWidth, w.Wide16);

    packet[0] = kCmdScanWindow;
    packet[1] = 1;
    PutLe16(packet + 2, w.myStarty);
    PutLe16(packet + 4, w.HWHeight);
    PutLe16(packet + 6, w.myStartx);
    PutLe16(packet + 8, w.HWWidth);
    packet[10] = ScanWindowFormatByte(w.PixelFormatCode, w.DataWidth, w.Option10_5, w.Wide16);
    packet[11] = static_cast<uint8_t>((w.Option11_0 & 1u) | ((w.Option11_1 & 1u) << 1) |
                                      ((w.WindowByte & 1u) << 2) | ((w.InterfaceType & 7u) << 3) |
                                      ((w.Option11_6 & 1u) << 6) | ((w.Option11_7 & 1u) << 7));
    PutLe16(packet + 12, w.RXDPI);
    PutLe16(packet + 14, ScanWindowLineBlocks(lineBytes, w.PixelFormatCode));
    PutLe16(packet + 16, lineBytes);
    PutLe16(packet + 18, ScanWindowLines(w.SWHeight, noLampStep, w.RYDPI, w.LAMPSTEP, w.YMAXDPI));
    packet[20] =
        static_cast<uint8_t>((w.Option20_0 & 1u) | ((w.Option20_1 & 1u) << 1) | ((w.Option20_2 & 1u) << 2) |
                             ((w.Option20_3 & 1u) << 3) | ((w.Option20_4Nibble & 0xFu) << 4));
    packet[21] =
        static_cast<uint8_t>((w.TaMode & 1u) | ((w.Option21_1 & 1u) << 1) | ((w.ModeField & 1u) << 2) |
                             (noLampStep ? 0x08 : 0) | (((w.ModeField >> 2) & 3u) << 4));
    PutLe16(packet + 22, w.DataWidth);
    PutLe16(packet + 24, w.TrailingWord);
}

uint8_t MapAfeGain(uint8_t gain) {
    if (gain > 51) return 63;
    if (gain > 31) return static_cast<uint8_t>(gain + 12);
    return gain;
}

void BuildCommandPacket(const uint8_t* input, uint16_t inputSize, uint8_t* packet64) {
    std::memset(packet64, 0, kCommandPacketSize);
    const size_t size = std::min<size_t>(inputSize, kCommandPacketSize);
    if (size == 0) return;
    packet64[0] = input[0];
    packet64[1] = 1;
    if (size > 2) std::memcpy(packet64 + 2, input + 2, size - 2);
}

void BuildShortBlock(const uint8_t* packet, uint8_t* block64) {
    for (size_t group = 0; group < kCommandPacketSize; group += 8) std::memcpy(block64 + group, packet, 8);
}

void FillShortCommand(uint8_t command, uint8_t* block64) {
    std::memset(block64, 0, kCommandPacketSize);
    for (size_t group = 0; group < kCommandPacketSize; group += 8) {
        block64[group] = command;
        block64[group + 1] = 1;
    }
}

void BuildDownloadCompletePacket(uint16_t bytesWritten, uint8_t* packet64) {
    std::memset(packet64, 0, kCommandPacketSize);
    packet64[0] = kCmdDownloadComplete;
    packet64[1] = 1;
    PutLe16(packet64 + 2, bytesWritten);
}

uint16_t FirmwareTransferLength(uint32_t imageBytes) {
    if (imageBytes == 0 || imageBytes > kMaxFirmwareImage) return 0;
    const uint32_t units = (imageBytes + kFirmwareUnit - 1) / kFirmwareUnit;
    return static_cast<uint16_t>(units * kFirmwareUnit);
}

}  // namespace b58

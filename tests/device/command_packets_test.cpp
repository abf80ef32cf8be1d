#include "device/command_packets.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace b58 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes WindowBytes(const ScanWindowParameters& w, uint8_t fill = 0xEE) {
    uint8_t packet[kCommandPacketSize];
    std::memset(packet, fill, sizeof packet);
    WriteScanWindowPacket(w, packet);
    for (size_t i = kScanWindowPacketSize; i < kCommandPacketSize; ++i)
        EXPECT_EQ(packet[i], fill) << "byte " << i << " lies beyond the window and must be left alone";
    return Bytes(packet, packet + kScanWindowPacketSize);
}

// The scan itself: 24-bit colour in pixel mode, lamp lag added to the lines.
TEST(ScanWindowPacket, ScanStartColourWindow) {
    ScanWindowParameters w;
    w.myStartx = 100;
    w.myStarty = 250;
    w.HWWidth = 2550;
    w.HWHeight = 3300;
    w.RXDPI = 300;
    w.SWWidth = 2550;
    w.SWHeight = 3300;
    w.PixelFormatCode = 4;
    w.DataWidth = 8;
    w.WindowByte = 1;
    w.InterfaceType = 4;
    w.Option20_1 = 1;
    w.Option20_3 = 1;
    w.ModeField = ScanWindowModeField(true, false, 0);
    w.RYDPI = 300;
    w.TrailingWord = 60;
    w.Wide16 = 1;
    w.YMAXDPI = 300;
    w.LAMPSTEP = 2;
    const Bytes expected = {0x20, 0x01, 0xFA, 0x00, 0xE4, 0x0C, 0x64, 0x00, 0xF6, 0x09, 0x84, 0x24, 0x2C,
                            0x01, 0x77, 0x00, 0xF6, 0x09, 0xE8, 0x0C, 0x0A, 0x04, 0x08, 0x00, 0x3C, 0x00};
    EXPECT_EQ(WindowBytes(w), expected);
}

// A calibration strip on the adapter: no lamp step, adapter type 4, all high option bits.
TEST(ScanWindowPacket, CalibrationStripOnTheAdapter) {
    ScanWindowParameters w;
    w.myStarty = 450;
    w.HWWidth = 3700;
    w.HWHeight = 2;
    w.RXDPI = 150;
    w.SWWidth = 1850;
    w.SWHeight = 1;
    w.PixelFormatCode = 4;
    w.DataWidth = 8;
    w.InterfaceType = 4;
    w.Option20_0 = w.Option20_1 = w.Option20_2 = 1;
    w.TaMode = 1;
    w.ModeField = ScanWindowModeField(true, true, TaTypeCode(4));
    EXPECT_EQ(w.ModeField, 15);
    w.RYDPI = 150;
    w.Wide16 = 1;
    w.YMAXDPI = 300;
    const Bytes expected = {0x20, 0x01, 0xC2, 0x01, 0x02, 0x00, 0x00, 0x00, 0x74, 0x0E, 0x84, 0x20, 0x96,
                            0x00, 0x56, 0x00, 0x3A, 0x07, 0x01, 0x00, 0x07, 0x3D, 0x08, 0x00, 0x00, 0x00};
    EXPECT_EQ(WindowBytes(w), expected);
}

ScanWindowParameters BoundaryWindow() {
    ScanWindowParameters w;
    w.HWWidth = 512;
    w.HWHeight = 200;
    w.RXDPI = 300;
    w.SWWidth = 512;
    w.SWHeight = 200;
    w.PixelFormatCode = 2;
    w.DataWidth = 8;
    w.InterfaceType = 4;
    w.Option20_0 = w.Option20_1 = 1;
    w.RYDPI = 300;
    w.YMAXDPI = 300;
    return w;
}

TEST(ScanWindowPacket, BoundaryScanOnTheFlatbed) {
    const Bytes expected = {0x20, 0x01, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x02, 0x82, 0x20, 0x2C,
                            0x01, 0x08, 0x00, 0x00, 0x02, 0xC8, 0x00, 0x03, 0x00, 0x08, 0x00, 0x00, 0x00};
    EXPECT_EQ(WindowBytes(BoundaryWindow()), expected);
}

TEST(ScanWindowPacket, BoundaryScanOnTheAdapterAddsTheLampLag) {
    ScanWindowParameters w = BoundaryWindow();
    w.TaMode = 1;
    w.YMAXDPI = 600;
    w.LAMPSTEP = 2;
    const Bytes bytes = WindowBytes(w);
    EXPECT_EQ(GetLe16(&bytes[18]), 202);  // q = 300 x 2 / 600 = 1: two lines more
    EXPECT_EQ(bytes[21], 0x01);
}

TEST(ScanWindowPacket, SingleBitOptionsUseBitZeroOnly) {
    ScanWindowParameters w = BoundaryWindow();
    w.Option11_0 = 2;  // bit 0 clear: not set
    w.Option11_1 = 3;
    w.WindowByte = 0xFE;
    w.InterfaceType = 0x0C;  // low three bits 4
    w.Option11_6 = 1;
    w.Option11_7 = 1;
    w.Option20_4Nibble = 0x1A;  // low nibble A
    w.Option21_1 = 1;
    const Bytes bytes = WindowBytes(w);
    EXPECT_EQ(bytes[11], 0x02 | 0x20 | 0x40 | 0x80);
    EXPECT_EQ(bytes[20], 0xA3);
    EXPECT_EQ(bytes[21], 0x02);
}

TEST(ScanWindowFormat, FormatByteAndSampleBitsFollowTheWidthTable) {
    struct Row {
        uint16_t dataWidth, wide16, option10_5;
        uint8_t formatHigh;  // bits 3-7
        uint16_t sampleBits;
    };
    const Row rows[] = {
        {6, 0, 0, 0xC0, 12},  {6, 0, 1, 0xE0, 12},  {7, 1, 0, 0xC8, 12},  {8, 0, 0, 0x80, 8},
        {8, 1, 1, 0xA0, 8},   {10, 0, 0, 0x08, 10}, {10, 1, 0, 0x88, 16}, {12, 0, 0, 0x10, 12},
        {12, 1, 1, 0xB0, 16}, {14, 0, 0, 0x10, 14}, {14, 1, 0, 0x90, 16}, {16, 0, 0, 0x20, 16},
        {16, 1, 0, 0xA0, 16}, {1, 0, 0, 0x80, 1},   {24, 1, 1, 0xA0, 24},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "DataWidth " << row.dataWidth << " Wide16 " << row.wide16
                                        << " option 10.5 " << row.option10_5);
        EXPECT_EQ(ScanWindowFormatByte(2, row.dataWidth, row.option10_5, row.wide16), row.formatHigh | 0x02);
        EXPECT_EQ(EffectiveSampleBits(row.dataWidth, row.wide16), row.sampleBits);
    }
    EXPECT_EQ(ScanWindowFormatByte(4, 8, 0, 1), 0x84);
    EXPECT_EQ(ScanWindowFormatByte(4, 16, 0, 1), 0xA4);
    EXPECT_EQ(ScanWindowFormatByte(2, 8, 0, 1), 0x82);
    EXPECT_EQ(ScanWindowFormatByte(0x0C, 8, 0, 0), 0x84);  // only the low three bits of the code
}

TEST(ScanWindowFormat, LineBytesAndBlocks) {
    EXPECT_EQ(ScanWindowLineBytes(100, 12, 0), 150);
    EXPECT_EQ(ScanWindowLineBlocks(150, 4), 7);  // 450 / 64
    EXPECT_EQ(ScanWindowLineBlocks(150, 2), 2);
    EXPECT_EQ(ScanWindowLineBytes(3700, 16, 1), 7400);
    EXPECT_EQ(ScanWindowLineBlocks(7400, 4), 346);  // 22200 / 64, formed past 16 bits
    EXPECT_EQ(ScanWindowLineBytes(5, 8, 0), 5);
    EXPECT_EQ(ScanWindowLineBytes(3, 10, 0), 3);  // 30 bits: whole bytes only
}

TEST(ScanWindowLinesRule, LagIsAddedOnlyFromOneMotorLineOn) {
    EXPECT_EQ(ScanWindowLines(1000, false, 300, 2, 600), 1002);  // q = 1
    EXPECT_EQ(ScanWindowLines(1000, false, 100, 2, 600), 1000);  // q = 0
    EXPECT_EQ(ScanWindowLines(1000, true, 300, 2, 600), 1000);   // no lamp step
    EXPECT_EQ(ScanWindowLines(1000, true, 600, 8, 300), 1000);
    EXPECT_EQ(ScanWindowLines(1000, false, 600, 8, 300), 1032);  // 2 x 4800 / 300
    EXPECT_EQ(ScanWindowLines(65535, false, 300, 2, 300), 3);    // kept in 16 bits
    EXPECT_EQ(ScanWindowLines(1000, false, 300, 2, 0), 1000);    // no motor resolution: no lag
}

TEST(ScanWindowModes, AdapterTypeCodes) {
    EXPECT_EQ(TaTypeCode(0), 0);
    EXPECT_EQ(TaTypeCode(1), 1);
    EXPECT_EQ(TaTypeCode(2), 2);
    EXPECT_EQ(TaTypeCode(3), 0);
    EXPECT_EQ(TaTypeCode(4), 3);
    EXPECT_EQ(ScanWindowModeField(false, false, 1), 4);
    EXPECT_EQ(ScanWindowModeField(true, false, 2), 9);
    EXPECT_EQ(ScanWindowModeField(false, true, 0), 2);
}

TEST(AfeGainMapping, GainsAreMappedOntoTheFrontEndCodes) {
    const std::array<std::pair<int, int>, 9> cases = {
        {{0, 0}, {2, 2}, {31, 31}, {32, 44}, {40, 52}, {51, 63}, {52, 63}, {63, 63}, {255, 63}}};
    for (auto [gain, code] : cases)
        EXPECT_EQ(MapAfeGain(static_cast<uint8_t>(gain)), code) << "gain " << gain;
}

TEST(CommandPacket, CallerBytesAreCopiedAfterTheFixedOne) {
    uint8_t input[kCommandPacketSize];
    for (size_t i = 0; i < sizeof input; ++i) input[i] = static_cast<uint8_t>(0xA0 + i);
    uint8_t packet[kCommandPacketSize];

    BuildCommandPacket(input, 1, packet);
    EXPECT_EQ(packet[0], 0xA0);
    EXPECT_EQ(packet[1], 1);
    for (size_t i = 2; i < sizeof packet; ++i) EXPECT_EQ(packet[i], 0) << i;

    BuildCommandPacket(input, 12, packet);
    EXPECT_EQ(packet[1], 1);  // the caller's byte 1 (0xA1) is not used
    for (size_t i = 2; i < 12; ++i) EXPECT_EQ(packet[i], input[i]);
    for (size_t i = 12; i < sizeof packet; ++i) EXPECT_EQ(packet[i], 0) << i;

    BuildCommandPacket(input, 200, packet);  // never past the packet
    EXPECT_EQ(packet[63], input[63]);
}

TEST(CommandPacket, ShortFormRepeatsTheFirstEightBytes) {
    uint8_t packet[kCommandPacketSize];
    for (size_t i = 0; i < sizeof packet; ++i) packet[i] = static_cast<uint8_t>(i + 1);
    uint8_t block[kCommandPacketSize];
    BuildShortBlock(packet, block);
    for (size_t i = 0; i < sizeof block; ++i) EXPECT_EQ(block[i], i % 8 + 1) << i;

    FillShortCommand(kCmdFirmwareState, block);
    for (size_t i = 0; i < sizeof block; ++i)
        EXPECT_EQ(block[i], i % 8 == 0 ? 0x70 : i % 8 == 1 ? 1 : 0) << i;
}

TEST(Firmware, TransferLengthIsWholeUnitsThatFitFourteenBits) {
    EXPECT_EQ(FirmwareTransferLength(1), 4096);
    EXPECT_EQ(FirmwareTransferLength(1000), 4096);
    EXPECT_EQ(FirmwareTransferLength(4096), 4096);
    EXPECT_EQ(FirmwareTransferLength(4097), 8192);
    EXPECT_EQ(FirmwareTransferLength(8192), 8192);
    EXPECT_EQ(FirmwareTransferLength(12288), 12288);
    EXPECT_EQ(FirmwareTransferLength(0), 0);
    EXPECT_EQ(FirmwareTransferLength(12289), 0);  // 16384 would wrap to 0 in 14 bits
    EXPECT_EQ(FirmwareTransferLength(16384), 0);
}

TEST(Firmware, DownloadCompletePacketCarriesTheByteCount) {
    uint8_t packet[kCommandPacketSize];
    std::memset(packet, 0xEE, sizeof packet);
    BuildDownloadCompletePacket(4096, packet);
    EXPECT_EQ(packet[0], 0x69);
    EXPECT_EQ(packet[1], 1);
    EXPECT_EQ(packet[2], 0x00);
    EXPECT_EQ(packet[3], 0x10);
    for (size_t i = 4; i < sizeof packet; ++i) EXPECT_EQ(packet[i], 0) << i;
    BuildDownloadCompletePacket(12288, packet);
    EXPECT_EQ(GetLe16(packet + 2), 12288);
}

}  // namespace
}  // namespace b58

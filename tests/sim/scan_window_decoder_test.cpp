#include <gtest/gtest.h>

#include "controller_harness.h"
#include "sim/scan_window_decoder.h"

namespace b58::sim {
namespace {

using harness::Packet;
using harness::WindowPacket;
using harness::WindowSpec;

TEST(ScanWindowDecoder, EveryFieldLandsWhereThePacketPutsIt) {
    Packet packet{};
    for (size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<uint8_t>(i * 11 + 1);
    const ScanWindow w = DecodeScanWindow(packet.data());
    EXPECT_EQ(w.startLine, 0x2217);
    EXPECT_EQ(w.hwHeight, 0x382D);
    EXPECT_EQ(w.startPixel, 0x4E43);
    EXPECT_EQ(w.hwWidth, 0x6459);
    EXPECT_EQ(w.formatByte, 0x6F);
    EXPECT_EQ(w.optionByte, 0x7A);
    EXPECT_EQ(w.xDpi, 0x9085);
    EXPECT_EQ(w.lineBlocks, 0xA69B);
    EXPECT_EQ(w.lineBytes, 0xBCB1);
    EXPECT_EQ(w.linesToDeliver, 0xD2C7);
    EXPECT_EQ(w.options20, 0xDD);
    EXPECT_EQ(w.modeByte, 0xE8);
    EXPECT_EQ(w.dataWidth, 0xFEF3);
    EXPECT_EQ(w.trailingWord, 0x1409);
}

TEST(ScanWindowDecoder, HostWindowsAreAccepted) {
    WindowSpec colour;
    EXPECT_EQ(ScanWindowProblem(DecodeScanWindow(WindowPacket(colour).data())), nullptr);
    WindowSpec deep;
    deep.dataWidth = 16;
    deep.pixelMode = false;
    const ScanWindow w16 = DecodeScanWindow(WindowPacket(deep).data());
    EXPECT_EQ(w16.formatByte, 0xA4);
    EXPECT_EQ(ScanWindowProblem(w16), nullptr);
    WindowSpec grey;
    grey.colour = false;
    grey.pixelMode = false;
    const ScanWindow w8 = DecodeScanWindow(WindowPacket(grey).data());
    EXPECT_EQ(w8.formatByte, 0x82);
    EXPECT_EQ(ScanWindowProblem(w8), nullptr);
    EXPECT_EQ(StreamBytes(w8), 300u * 20u);
    EXPECT_EQ(StreamBytes(DecodeScanWindow(WindowPacket(colour).data())), 3u * 300u * 20u);
    EXPECT_EQ(StreamBytes(w16), 3u * 600u * 20u);
}

TEST(ScanWindowDecoder, InconsistentWindowsAreNamed) {
    const auto problem = [](void (*change)(Packet&)) {
        Packet packet = WindowPacket(WindowSpec{});
        change(packet);
        return ScanWindowProblem(DecodeScanWindow(packet.data()));
    };
    EXPECT_NE(problem([](Packet& p) { p[8] = p[9] = 0; }), nullptr);    // no width
    EXPECT_NE(problem([](Packet& p) { p[4] = p[5] = 0; }), nullptr);    // no height
    EXPECT_NE(problem([](Packet& p) { p[18] = p[19] = 0; }), nullptr);  // no lines
    EXPECT_NE(problem([](Packet& p) { p[16] = p[17] = 0; }), nullptr);  // no line bytes
    EXPECT_NE(problem([](Packet& p) { p[14] += 1; }), nullptr);         // line blocks
    EXPECT_NE(problem([](Packet& p) { p[10] = 0x83; }), nullptr);       // pixel format 3
    EXPECT_NE(problem([](Packet& p) { p[22] = 16; }), nullptr);         // 16 bits without bit 5
    EXPECT_NE(problem([](Packet& p) { p[22] = 0; }), nullptr);          // no data width
    EXPECT_EQ(problem([](Packet& p) { p[10] |= 0x20; }), nullptr);      // option 10.5 is free
}

TEST(ScanWindowDecoder, FormatBitsFollowTheWidthTable) {
    EXPECT_TRUE(FormatBitsMatchDataWidth(0xC0, 6));
    EXPECT_TRUE(FormatBitsMatchDataWidth(0xC8, 7));
    EXPECT_TRUE(FormatBitsMatchDataWidth(0x08, 10));  // narrow 10-bit samples
    EXPECT_TRUE(FormatBitsMatchDataWidth(0x90, 12));
    EXPECT_TRUE(FormatBitsMatchDataWidth(0x10, 14));
    EXPECT_TRUE(FormatBitsMatchDataWidth(0x20, 16));
    EXPECT_TRUE(FormatBitsMatchDataWidth(0x80, 5));
    EXPECT_FALSE(FormatBitsMatchDataWidth(0x80, 12));
    EXPECT_FALSE(FormatBitsMatchDataWidth(0x00, 8));
}

}  // namespace
}  // namespace b58::sim

// Talking to the virtual scanner the way the class driver does: vendor control transfers for
// command packets, replies and controller memory, and bulk reads for the image stream.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/controller_protocol.h"
#include "sim/firmware_image.h"
#include "sim/virtual_scanner.h"

namespace b58::sim::harness {

using Packet = std::array<uint8_t, kPacketSize>;

inline usbscan::UsbSetup MakeSetup(uint8_t type, uint16_t value, uint16_t index, uint16_t length) {
    return usbscan::UsbSetup{type, static_cast<uint8_t>(length > 1 ? kRequestBlock : kRequestSingle), value,
                             index, length};
}

inline Packet MakePacket(uint8_t code) {
    Packet packet{};
    packet[0] = code;
    packet[1] = 1;
    return packet;
}

inline void PutWord(Packet& packet, int at, uint16_t value) {
    packet[at] = static_cast<uint8_t>(value);
    packet[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline bool WriteFull(usbscan::UsbBackend& device, const Packet& packet) {
    return device.ControlOut(MakeSetup(kRequestTypeOut, kValueCommand, kIndexCommand, 64), packet.data());
}

// The short form: the first 8 bytes of the packet written eight times over.
inline bool WriteShort(usbscan::UsbBackend& device, const Packet& packet) {
    Packet block{};
    for (size_t i = 0; i < block.size(); ++i) block[i] = packet[i % kShortPacketSize];
    return device.ControlOut(MakeSetup(kRequestTypeOut, kValueShortCommand, kIndexCommand, 64), block.data());
}

inline Packet ReadReply(usbscan::UsbBackend& device, bool shortForm = false) {
    Packet reply{};
    uint32_t got = 0;
    const uint16_t length = shortForm ? 8 : 64;
    EXPECT_TRUE(device.ControlIn(
        MakeSetup(kRequestTypeIn, shortForm ? kValueShortReply : kValueReply, kIndexReply, length),
        reply.data(), &got));
    EXPECT_EQ(got, length);
    return reply;
}

// One exchange: the packet, then its reply.
inline Packet Exchange(usbscan::UsbBackend& device, const Packet& packet) {
    EXPECT_TRUE(WriteFull(device, packet));
    return ReadReply(device);
}

inline Packet ExchangeShort(usbscan::UsbBackend& device, uint8_t code) {
    EXPECT_TRUE(WriteShort(device, MakePacket(code)));
    return ReadReply(device, true);
}

inline bool WriteMemory(usbscan::UsbBackend& device, uint16_t address, const uint8_t* data,
                        uint16_t length = 64) {
    return device.ControlOut(MakeSetup(kRequestTypeOut, kValueMemoryWrite, address, length), data);
}

inline bool ReadMemory(usbscan::UsbBackend& device, uint16_t address, uint8_t* data, uint16_t length = 64) {
    uint32_t got = 0;
    return device.ControlIn(MakeSetup(kRequestTypeIn, kValueMemoryRead, address, length), data, &got) &&
           got == length;
}

// Writes an image the way the host does (zero-filled to whole 4096-byte units, 64-byte blocks,
// each read back) and sends download complete; returns its reply status, or -1 when a block
// read back wrong (nothing more is sent then).
inline int Download(usbscan::UsbBackend& device, std::vector<uint8_t> image) {
    const size_t count = (image.size() + 4095) / 4096 * 4096;
    image.resize(count, 0);
    for (size_t at = 0; at < count; at += 64) {
        uint8_t back[64] = {};
        WriteMemory(device, static_cast<uint16_t>(at), image.data() + at);
        ReadMemory(device, static_cast<uint16_t>(at), back);
        if (std::memcmp(back, image.data() + at, 64) != 0) return -1;
    }
    Packet complete = MakePacket(kCmdDownloadComplete);
    PutWord(complete, 2, static_cast<uint16_t>(count));
    return Exchange(device, complete)[0];
}

// A scan window as the host programs it.
struct WindowSpec {
    uint16_t startLine = 100;
    uint16_t hwHeight = 40;
    uint16_t startPixel = 12;
    uint16_t hwWidth = 600;
    uint16_t pixels = 300;  // per delivered line
    uint16_t lines = 20;    // lines to deliver
    bool colour = true;
    bool pixelMode = true;
    uint16_t dataWidth = 8;
};

inline Packet WindowPacket(const WindowSpec& shape) {
    Packet packet = MakePacket(kCmdScanWindow);
    const uint16_t lineBytes = static_cast<uint16_t>(shape.pixels * (shape.dataWidth > 8 ? 2 : 1));
    PutWord(packet, 2, shape.startLine);
    PutWord(packet, 4, shape.hwHeight);
    PutWord(packet, 6, shape.startPixel);
    PutWord(packet, 8, shape.hwWidth);
    packet[10] = static_cast<uint8_t>((shape.colour ? 4 : 2) | (shape.dataWidth == 16 ? 0xA0 : 0x80));
    packet[11] = 4 << 3;  // interface type 4
    PutWord(packet, 12, 300);
    PutWord(packet, 14, static_cast<uint16_t>(lineBytes * (shape.colour ? 3 : 1) / 64));
    PutWord(packet, 16, lineBytes);
    PutWord(packet, 18, shape.lines);
    packet[20] = 0x02;
    packet[21] = shape.pixelMode ? 0x04 : 0x00;
    PutWord(packet, 22, shape.dataWidth);
    PutWord(packet, 24, 60);
    return packet;
}

// A configuration without waits: no start time, no motor time, no rate limit.
inline ScannerConfig Instant(bool firmwareRunning = true) {
    ScannerConfig config;
    config.firmwareRunning = firmwareRunning;
    config.time.startMs = 0;
    config.time.stepUs = 0;
    config.time.bytesPerSecond = 0;
    return config;
}

// Window, AFE, start and handshake, each expected to succeed.
inline void StartScan(usbscan::UsbBackend& device, const WindowSpec& shape) {
    ASSERT_EQ(Exchange(device, WindowPacket(shape))[0], kStatusDone);
    Packet afe = MakePacket(kCmdAfe);
    for (int i = 2; i < 8; ++i) afe[i] = 20;
    ASSERT_EQ(Exchange(device, afe)[0], kStatusDone);
    ASSERT_EQ(Exchange(device, MakePacket(kCmdStart))[0], kStatusDone);
    ASSERT_EQ(Exchange(device, MakePacket(kCmdHandshake))[0], kStatusDone);
}

}  // namespace b58::sim::harness

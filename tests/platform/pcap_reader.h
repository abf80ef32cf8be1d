// Reads pcap files of usbmon records back, for tests of the transfer capture.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace b58::test {

struct PcapRecord {
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    uint32_t originalLength = 0;
    std::vector<uint8_t> bytes;  // the captured bytes
};

struct PcapFile {
    uint32_t linkType = 0;
    uint32_t snapLength = 0;
    std::vector<PcapRecord> records;
};

struct UsbmonPacket {
    uint64_t id = 0;
    char type = 0;
    uint8_t transferType = 0;
    uint8_t endpoint = 0;
    uint8_t device = 0;
    uint16_t bus = 0;
    uint8_t setupFlag = 0;
    uint8_t dataFlag = 0;
    int32_t status = 0;
    uint32_t length = 0;
    uint32_t capturedLength = 0;
    std::array<uint8_t, 8> setup{};
    std::vector<uint8_t> data;
};

namespace pcap_detail {
inline uint64_t Little(const uint8_t* at, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}
}  // namespace pcap_detail

// Null for a file that is not a little-endian microsecond pcap file or is cut short.
inline std::optional<PcapFile> ReadPcapFile(const std::string& path) {
    using pcap_detail::Little;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 24 || Little(bytes.data(), 4) != 0xA1B2C3D4) return std::nullopt;
    PcapFile file;
    file.snapLength = static_cast<uint32_t>(Little(&bytes[16], 4));
    file.linkType = static_cast<uint32_t>(Little(&bytes[20], 4));
    size_t at = 24;
    while (at < bytes.size()) {
        if (bytes.size() - at < 16) return std::nullopt;
        PcapRecord record;
        record.seconds = static_cast<uint32_t>(Little(&bytes[at], 4));
        record.microseconds = static_cast<uint32_t>(Little(&bytes[at + 4], 4));
        uint32_t captured = static_cast<uint32_t>(Little(&bytes[at + 8], 4));
        record.originalLength = static_cast<uint32_t>(Little(&bytes[at + 12], 4));
        at += 16;
        if (bytes.size() - at < captured) return std::nullopt;
        record.bytes.assign(bytes.begin() + static_cast<ptrdiff_t>(at),
                            bytes.begin() + static_cast<ptrdiff_t>(at + captured));
        at += captured;
        file.records.push_back(std::move(record));
    }
    return file;
}

// Null when the record is shorter than its usbmon header says.
inline std::optional<UsbmonPacket> ParseUsbmonPacket(const std::vector<uint8_t>& bytes) {
    using pcap_detail::Little;
    if (bytes.size() < 64) return std::nullopt;
    UsbmonPacket packet;
    packet.id = Little(&bytes[0], 8);
    packet.type = static_cast<char>(bytes[8]);
    packet.transferType = bytes[9];
    packet.endpoint = bytes[10];
    packet.device = bytes[11];
    packet.bus = static_cast<uint16_t>(Little(&bytes[12], 2));
    packet.setupFlag = bytes[14];
    packet.dataFlag = bytes[15];
    packet.status = static_cast<int32_t>(static_cast<uint32_t>(Little(&bytes[28], 4)));
    packet.length = static_cast<uint32_t>(Little(&bytes[32], 4));
    packet.capturedLength = static_cast<uint32_t>(Little(&bytes[36], 4));
    for (size_t i = 0; i < 8; ++i) packet.setup[i] = bytes[40 + i];
    if (bytes.size() - 64 != packet.capturedLength) return std::nullopt;
    packet.data.assign(bytes.begin() + 64, bytes.end());
    return packet;
}

}  // namespace b58::test

#include "sim/firmware_image.h"

#include <array>

namespace b58::sim {
namespace {

std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

void Put16(std::vector<uint8_t>& image, size_t at, uint16_t value) {
    image[at] = static_cast<uint8_t>(value);
    image[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const std::array<uint32_t, 256> table = MakeCrcTable();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::vector<uint8_t> BuildFirmwareImage(uint32_t seed, size_t totalSize) {
    if (totalSize < kFirmwareHeaderSize + 4) totalSize = kFirmwareHeaderSize + 4;
    std::vector<uint8_t> image(totalSize, 0);
    const uint32_t length = static_cast<uint32_t>(totalSize - 4);
    Put32(image, 0, kFirmwareMagic);
    Put16(image, 4, kFirmwareVersion);
    Put32(image, 8, length);
    Put32(image, 12, seed);
    // xorshift32: any fixed sequence does; a seed of 0 would stay 0, so it is bent away.
    uint32_t state = seed != 0 ? seed : 0x9E3779B9u;
    for (size_t i = kFirmwareHeaderSize; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<uint8_t>(state >> 24);
    }
    Put32(image, length, Crc32(image.data(), length));
    return image;
}

FirmwareCheck CheckFirmwareImage(const uint8_t* memory, size_t count) {
    if (count < 6 || Get32(memory) != kFirmwareMagic || memory[4] != (kFirmwareVersion & 0xFF) ||
        memory[5] != (kFirmwareVersion >> 8)) {
        return FirmwareCheck::BadMagic;
    }
    if (count < kFirmwareHeaderSize + 4) return FirmwareCheck::Truncated;
    const uint64_t length = Get32(memory + 8);
    if (length < kFirmwareHeaderSize || length + 4 > count) return FirmwareCheck::Truncated;
    if (Crc32(memory, static_cast<size_t>(length)) != Get32(memory + length))
        return FirmwareCheck::BadChecksum;
    for (size_t i = static_cast<size_t>(length) + 4; i < count; ++i) {
        if (memory[i] != 0) return FirmwareCheck::NonZeroPadding;
    }
    return FirmwareCheck::Ok;
}

const char* FirmwareCheckName(FirmwareCheck check) {
    switch (check) {
        case FirmwareCheck::Ok:
            return "ok";
        case FirmwareCheck::BadMagic:
            return "no image";
        case FirmwareCheck::Truncated:
            return "truncated";
        case FirmwareCheck::BadChecksum:
            return "checksum mismatch";
        case FirmwareCheck::NonZeroPadding:
            return "bytes after the image";
    }
    return "?";
}

}  // namespace b58::sim

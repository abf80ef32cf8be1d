// The virtual scanner's firmware image: what the project ships as the controller's firmware
// file, and the check the controller's boot code makes before it runs what was downloaded.
//
// Layout (little-endian):
//   0   4  magic "B58F"
//   4   2  format version (1)
//   6   2  0
//   8   4  image length L: the offset of the checksum, at least the header size
//   12  4  build seed the payload was generated from
//   16  L-16  payload (opaque to everybody but the controller)
//   L   4  CRC-32 over bytes 0 to L-1
// The host sends the image rounded up with zero bytes; the boot code checks the CRC over the
// length the image states and requires every byte after the checksum, up to the count the
// download-complete command gives, to be zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace b58::sim {

inline constexpr uint32_t kFirmwareMagic = 0x46383542;  // "B58F" read little-endian
inline constexpr uint16_t kFirmwareVersion = 1;
inline constexpr size_t kFirmwareHeaderSize = 16;
inline constexpr uint32_t kFirmwareDefaultSeed = 0x5EED0B58;
inline constexpr size_t kFirmwareDefaultSize = 9600;  // fits the host's 12,288-byte transfer

// CRC-32 as used by Ethernet and zip (reflected polynomial 0xEDB88320).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// The image of totalSize bytes (at least header + checksum) with a payload drawn from seed.
std::vector<uint8_t> BuildFirmwareImage(uint32_t seed = kFirmwareDefaultSeed,
                                        size_t totalSize = kFirmwareDefaultSize);

enum class FirmwareCheck {
    Ok,
    BadMagic,   // no image at address 0, or an unknown format version
    Truncated,  // the stated length reaches beyond the downloaded count
    BadChecksum,
    NonZeroPadding,  // bytes after the image that are not zero
};

// Checks the first `count` bytes of controller memory as a downloaded image.
FirmwareCheck CheckFirmwareImage(const uint8_t* memory, size_t count);

const char* FirmwareCheckName(FirmwareCheck check);

}  // namespace b58::sim

// Transfer records in the form of the Linux usbmon binary interface, as pcap files with link
// type 220 (USB with the 64-byte memory-mapped usbmon header) store them, so captures open in
// the usual protocol analysers. All fields are written little-endian, matching the file
// header's byte order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

inline constexpr uint32_t kPcapLinkTypeUsbLinuxMmapped = 220;
inline constexpr uint32_t kUsbmonHeaderSize = 64;

inline constexpr uint8_t kTransferControl = 2;
inline constexpr uint8_t kTransferBulk = 3;
inline constexpr uint8_t kEndpointIn = 0x80;

// URB status values as usbmon shows them (negated errno values).
inline constexpr int32_t kUrbInProgress = -115;  // a submission
inline constexpr int32_t kUrbOk = 0;
inline constexpr int32_t kUrbStalled = -32;    // the device refused the transfer
inline constexpr int32_t kUrbUnlinked = -2;    // cancelled by the host
inline constexpr int32_t kUrbShutdown = -108;  // the device went away
inline constexpr int32_t kUrbProtocolError = -71;

struct UsbmonEvent {
    uint64_t id = 0;  // the same for a transfer's submission and completion
    char type = 'S';  // 'S' submission, 'C' completion
    uint8_t transferType = kTransferControl;
    uint8_t endpoint = 0;  // endpoint number, with kEndpointIn for device-to-host
    uint8_t device = 1;
    uint16_t bus = 1;
    std::optional<UsbSetup> setup;  // control submissions only
    int64_t seconds = 0;
    int32_t microseconds = 0;
    int32_t status = 0;
    uint32_t length = 0;  // requested (submission) or transferred (completion) bytes
    const uint8_t* data = nullptr;
    uint32_t dataSize = 0;  // bytes of `data` stored after the header
};

// The pcap file header for captures of these records.
std::array<uint8_t, 24> PcapFileHeader(uint32_t snapLength);

// One pcap record (16-byte record header, 64-byte usbmon header, the data). Data beyond
// `snapLength` bytes of record is left out; the usbmon length still tells the full size.
std::vector<uint8_t> EncodePcapRecord(const UsbmonEvent& event, uint32_t snapLength);

}  // namespace b58::usbscan

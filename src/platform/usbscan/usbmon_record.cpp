#include "platform/usbscan/usbmon_record.h"

#include <algorithm>

namespace b58::usbscan {
namespace {

class LittleEndianWriter {
  public:
    explicit LittleEndianWriter(uint8_t* at) : at_(at) {}
    void U8(uint8_t value) { *at_++ = value; }
    void U16(uint16_t value) { Bytes(value, 2); }
    void U32(uint32_t value) { Bytes(value, 4); }
    void U64(uint64_t value) { Bytes(value, 8); }

  private:
    void Bytes(uint64_t value, int count) {
        for (int i = 0; i < count; ++i) *at_++ = static_cast<uint8_t>(value >> (8 * i));
    }
    uint8_t* at_;
};

// The usbmon flags say why no data follows the header: the setup flag is 0 when a setup
// packet is present, '-' otherwise; the data flag is 0 when data is present, '<' for a
// device-to-host submission (the data comes with the completion), '>' for a host-to-device
// completion (the data went with the submission), 'Z' for a transfer of no data.
char DataFlag(const UsbmonEvent& event) {
    if (event.dataSize > 0) return 0;
    bool deviceToHost = (event.endpoint & kEndpointIn) != 0;
    if (event.type == 'S' && deviceToHost && event.length > 0) return '<';
    if (event.type == 'C' && !deviceToHost && event.length > 0) return '>';
    return 'Z';
}

}  // namespace

std::array<uint8_t, 24> PcapFileHeader(uint32_t snapLength) {
    std::array<uint8_t, 24> header{};
    LittleEndianWriter out(header.data());
    out.U32(0xA1B2C3D4);  // microsecond timestamps
    out.U16(2);
    out.U16(4);
    out.U32(0);  // time zone
    out.U32(0);  // timestamp accuracy
    out.U32(snapLength);
    out.U32(kPcapLinkTypeUsbLinuxMmapped);
    return header;
}

std::vector<uint8_t> EncodePcapRecord(const UsbmonEvent& event, uint32_t snapLength) {
    uint32_t room = snapLength > kUsbmonHeaderSize ? snapLength - kUsbmonHeaderSize : 0;
    uint32_t captured = std::min(event.dataSize, room);

    std::vector<uint8_t> record(16 + kUsbmonHeaderSize + captured);
    LittleEndianWriter out(record.data());
    out.U32(static_cast<uint32_t>(event.seconds));
    out.U32(static_cast<uint32_t>(event.microseconds));
    out.U32(kUsbmonHeaderSize + captured);
    out.U32(kUsbmonHeaderSize + event.dataSize);

    out.U64(event.id);
    out.U8(static_cast<uint8_t>(event.type));
    out.U8(event.transferType);
    out.U8(event.endpoint);
    out.U8(event.device);
    out.U16(event.bus);
    out.U8(event.setup ? 0 : static_cast<uint8_t>('-'));
    out.U8(static_cast<uint8_t>(DataFlag(event)));
    out.U64(static_cast<uint64_t>(event.seconds));
    out.U32(static_cast<uint32_t>(event.microseconds));
    out.U32(static_cast<uint32_t>(event.status));
    out.U32(event.length);
    out.U32(captured);
    UsbSetup setup = event.setup.value_or(UsbSetup{});
    out.U8(setup.bmRequestType);
    out.U8(setup.bRequest);
    out.U16(setup.wValue);
    out.U16(setup.wIndex);
    out.U16(setup.wLength);
    out.U32(0);  // interval
    out.U32(0);  // start frame
    out.U32(0);  // transfer flags
    out.U32(0);  // isochronous descriptors

    if (captured > 0) std::copy_n(event.data, captured, record.begin() + 16 + kUsbmonHeaderSize);
    return record;
}

}  // namespace b58::usbscan

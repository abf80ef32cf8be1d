#include "platform/usbscan/replay/recorded_transfers.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "platform/usbscan/usbmon_record.h"

namespace b58::usbscan {
namespace {

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(U16(p)) | static_cast<uint32_t>(U16(p + 2)) << 16;
}
uint64_t U64(const uint8_t* p) {
    return static_cast<uint64_t>(U32(p)) | static_cast<uint64_t>(U32(p + 4)) << 32;
}

}  // namespace

bool ReadRecordedSession(const std::string& path, int address, RecordedSession* session, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read \"" + path + "\"";
        return false;
    }
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 24 || U32(file.data()) != 0xA1B2C3D4 ||
        U32(file.data() + 20) != kPcapLinkTypeUsbLinuxMmapped) {
        *error = "\"" + path + "\" is not a capture of USB transfers (pcap, link type 220)";
        return false;
    }
    // Submissions waiting for their completions, by id: an index into one of the lists.
    std::map<uint64_t, std::pair<bool, size_t>> open;
    size_t at = 24;
    while (at + 16 + kUsbmonHeaderSize <= file.size()) {
        const uint8_t* record = file.data() + at;
        const uint32_t captured = U32(record + 8);
        const uint32_t original = U32(record + 12);
        if (captured < kUsbmonHeaderSize || at + 16 + captured > file.size()) {
            *error = "\"" + path + "\" ends inside a record";
            return false;
        }
        at += 16 + captured;
        const uint8_t* h = record + 16;
        const uint8_t* data = h + kUsbmonHeaderSize;
        const uint32_t dataSize = captured - kUsbmonHeaderSize;
        if (original != captured && dataSize > 0) {
            *error = "\"" + path + "\" holds transfers cut short (snap length)";
            return false;
        }
        const uint64_t id = U64(h);
        const char type = static_cast<char>(h[8]);
        const uint8_t transferType = h[9];
        const uint8_t endpoint = h[10];
        const uint8_t device = h[11];
        if (address == 0) address = device;
        if (device != address) continue;
        const int32_t status = static_cast<int32_t>(U32(h + 28));
        if (type == 'S') {
            RecordedTransfer transfer;
            if (transferType == kTransferControl) {
                transfer.kind = (endpoint & kEndpointIn) != 0 ? RecordedTransfer::Kind::ControlIn
                                                              : RecordedTransfer::Kind::ControlOut;
                transfer.setup = UsbSetup{h[40], h[41], U16(h + 42), U16(h + 44), U16(h + 46)};
                if (transfer.kind == RecordedTransfer::Kind::ControlOut)
                    transfer.data.assign(data, data + dataSize);
                open[id] = {true, session->control.size()};
                session->control.push_back(std::move(transfer));
            } else if (transferType == kTransferBulk && (endpoint & kEndpointIn) != 0) {
                transfer.kind = RecordedTransfer::Kind::BulkIn;
                transfer.requested = U32(h + 32);
                open[id] = {false, session->bulk.size()};
                session->bulk.push_back(std::move(transfer));
            }
        } else if (type == 'C') {
            auto it = open.find(id);
            if (it == open.end()) continue;
            RecordedTransfer& transfer =
                it->second.first ? session->control[it->second.second] : session->bulk[it->second.second];
            transfer.status = status;
            if (transfer.kind != RecordedTransfer::Kind::ControlOut)
                transfer.data.assign(data, data + dataSize);
            open.erase(it);
        }
    }
    if (session->control.empty() && session->bulk.empty()) {
        *error = "\"" + path + "\" holds no transfers of the device";
        return false;
    }
    return true;
}

}  // namespace b58::usbscan

#include "platform/usbscan/replay/replay_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/usbscan/usbmon_record.h"
#include "platform/win32.h"

namespace b58::usbscan {
namespace {

std::string Hex(const uint8_t* data, size_t size) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < size && i < 16; ++i) {
        std::snprintf(byte, sizeof byte, "%s%02X", i == 0 ? "" : " ", data[i]);
        text += byte;
    }
    if (size > 16) text += " ...";
    return text;
}

std::string Describe(RecordedTransfer::Kind kind, const UsbSetup& setup, const uint8_t* data, size_t size) {
    char head[96];
    std::snprintf(head, sizeof head, "control %s %02X %02X value %04X index %04X length %u",
                  kind == RecordedTransfer::Kind::ControlIn ? "in" : "out", setup.bmRequestType,
                  setup.bRequest, setup.wValue, setup.wIndex, setup.wLength);
    std::string text = head;
    if (kind == RecordedTransfer::Kind::ControlOut) text += " [" + Hex(data, size) + "]";
    return text;
}

bool SameSetup(const UsbSetup& a, const UsbSetup& b) {
    return a.bmRequestType == b.bmRequestType && a.bRequest == b.bRequest && a.wValue == b.wValue &&
           a.wIndex == b.wIndex && a.wLength == b.wLength;
}

}  // namespace

ReplayBackend::ReplayBackend(std::string name, RecordedSession session)
    : name_(std::move(name)), session_(std::move(session)) {}

bool ReplayBackend::Diverge(const std::string& message) {
    if (divergence_.empty()) {
        divergence_ = message;
        const std::string line =
            "usbscan: replay of " + name_ + " differs from the recording: " + message + "\n";
        OutputDebugStringA(line.c_str());
        std::fputs(line.c_str(), stderr);
    }
    return false;
}

const RecordedTransfer* ReplayBackend::NextControl(RecordedTransfer::Kind kind, const UsbSetup& setup,
                                                   const uint8_t* data) {
    if (!divergence_.empty()) return nullptr;
    const size_t index = control_;
    const std::string came =
        Describe(kind, setup, data, kind == RecordedTransfer::Kind::ControlOut ? setup.wLength : 0);
    if (index >= session_.control.size()) {
        Diverge("control transfer " + std::to_string(index + 1) + ": the recording has no more, came " +
                came);
        return nullptr;
    }
    const RecordedTransfer& expected = session_.control[index];
    const bool same = expected.kind == kind && SameSetup(expected.setup, setup) &&
                      (kind != RecordedTransfer::Kind::ControlOut ||
                       (expected.data.size() == setup.wLength &&
                        std::memcmp(expected.data.data(), data, setup.wLength) == 0));
    if (!same) {
        Diverge("control transfer " + std::to_string(index + 1) + ": expected " +
                Describe(expected.kind, expected.setup, expected.data.data(), expected.data.size()) +
                ", came " + came);
        return nullptr;
    }
    ++control_;
    return &expected;
}

bool ReplayBackend::ControlOut(const UsbSetup& setup, const uint8_t* data) {
    std::lock_guard<std::mutex> hold(lock_);
    const RecordedTransfer* recorded = NextControl(RecordedTransfer::Kind::ControlOut, setup, data);
    return recorded != nullptr && recorded->status == 0;
}

bool ReplayBackend::ControlIn(const UsbSetup& setup, uint8_t* data, uint32_t* transferred) {
    std::lock_guard<std::mutex> hold(lock_);
    const RecordedTransfer* recorded = NextControl(RecordedTransfer::Kind::ControlIn, setup, nullptr);
    if (recorded == nullptr || recorded->status != 0) return false;
    const size_t size = std::min<size_t>(recorded->data.size(), setup.wLength);
    std::memcpy(data, recorded->data.data(), size);
    *transferred = static_cast<uint32_t>(size);
    return true;
}

BulkStatus ReplayBackend::BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) {
    *transferred = 0;
    std::unique_lock<std::mutex> hold(lock_);
    if (!divergence_.empty()) return BulkStatus::Failed;
    const size_t index = bulk_;
    if (index >= session_.bulk.size()) {
        Diverge("bulk read " + std::to_string(index + 1) + ": the recording has no more, came a read of " +
                std::to_string(length) + " bytes");
        return BulkStatus::Failed;
    }
    const RecordedTransfer& expected = session_.bulk[index];
    if (expected.requested != length) {
        Diverge("bulk read " + std::to_string(index + 1) + ": expected a read of " +
                std::to_string(expected.requested) + " bytes, came one of " + std::to_string(length));
        return BulkStatus::Failed;
    }
    ++bulk_;
    if (expected.status == kUrbUnlinked) {
        // Cancelled in the recording: the read waits for this run's cancel.
        cancelled_.wait(hold, [this] { return cancel_; });
        cancel_ = false;
    }
    const size_t size = std::min<size_t>(expected.data.size(), length);
    std::memcpy(data, expected.data.data(), size);
    *transferred = static_cast<uint32_t>(size);
    if (expected.status == kUrbUnlinked) return BulkStatus::Cancelled;
    return expected.status == kUrbOk ? BulkStatus::Ok : BulkStatus::Failed;
}

void ReplayBackend::CancelBulk() {
    std::lock_guard<std::mutex> hold(lock_);
    cancel_ = true;
    cancelled_.notify_all();
}

std::string ReplayBackend::Divergence() const {
    std::lock_guard<std::mutex> hold(lock_);
    return divergence_;
}

bool ReplayBackend::Complete() const {
    std::lock_guard<std::mutex> hold(lock_);
    return control_ == session_.control.size() && bulk_ == session_.bulk.size();
}

std::shared_ptr<UsbBackend> CreateReplayBackend(const std::string& options, std::string* error) {
    std::string file;
    int device = 0;
    size_t start = 0;
    while (start < options.size()) {
        size_t comma = options.find(',', start);
        const std::string item =
            options.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? options.size() : comma + 1;
        if (item.rfind("file=", 0) == 0) {
            file = item.substr(5);
        } else if (item.rfind("device=", 0) == 0) {
            device = std::atoi(item.c_str() + 7);
        } else if (!item.empty()) {
            *error = "unknown option \"" + item + "\"";
            return nullptr;
        }
    }
    if (file.empty()) {
        *error = "no capture given (file=...)";
        return nullptr;
    }
    RecordedSession session;
    if (!ReadRecordedSession(file, device, &session, error)) return nullptr;
    return std::make_shared<ReplayBackend>(file, std::move(session));
}

}  // namespace b58::usbscan

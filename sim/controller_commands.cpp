// The virtual scanner's command set: what the controller does with each command packet it
// takes, and the reply it leaves for the host. Runs under the scanner's lock.
#include <algorithm>
#include <cstring>

#include "sim/placeholder_stream.h"
#include "sim/scan_window_decoder.h"
#include "sim/virtual_scanner.h"

namespace b58::sim {
namespace {

uint16_t Word(const uint8_t* packet, int at) {
    return static_cast<uint16_t>(packet[at] | packet[at + 1] << 8);
}

void PutWord(uint8_t* reply, int at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) reply[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t RoundUp(uint64_t value, uint32_t unit) {
    return unit > 1 ? (value + unit - 1) / unit * unit : value;
}

constexpr uint32_t kMaxPosition = 0xFFFF;  // the carriage cannot go further than a 16-bit step count

}  // namespace

void VirtualScanner::Execute(const uint8_t* packet) {
    const uint8_t command = packet[0];
    if (!IsKnownCommand(command)) {
        Answer(kStatusUnknownCommand);
        return;
    }
    if (NeedsFirmware(command) && !firmwareRunning_) {
        Answer(kStatusNoFirmware);
        return;
    }
    ++executed_[command];
    Answer(kStatusDone);
    switch (command) {
        case kCmdMoveForward:
            MoveCarriage(false, Word(packet, 2));
            break;
        case kCmdStatus:
            QueryStatus();
            break;
        case kCmdScanWindow:
            SetWindow(packet);
            break;
        case kCmdAfe:
            SetAfe(packet);
            break;
        case kCmdHome:
            MoveCarriage(true, 0);
            break;
        case kCmdLamp:
            SetLamps(packet[2]);
            break;
        case kCmdFeature:
            reply_[8] = config_.feature;
            break;
        case kCmdIdentity:
            PutWord(reply_.data(), 2, config_.identity.word1, 2);
            PutWord(reply_.data(), 4, config_.identity.word2, 2);
            PutWord(reply_.data(), 6, config_.identity.word3, 2);
            PutWord(reply_.data(), 8, config_.identity.word4, 2);
            PutWord(reply_.data(), 10, config_.identity.value5, 4);
            break;
        case kCmdHandshake:
            Handshake();
            break;
        case kCmdLampPower:
            reply_[2] = config_.lampPower;
            break;
        case kCmdStop:
            StopScan();
            break;
        case kCmdStart:
            StartScan();
            break;
        case kCmdDownloadComplete:
            CompleteDownload(Word(packet, 2));
            break;
        case kCmdFirmwareState:
            reply_[2] = firmwareRunning_ ? kFirmwareRunning : kFirmwareAbsent;
            break;
        case kCmdKey:
            // The press is latched until the host has seen it once.
            reply_[2] = keyPressed_ ? 1 : 0;
            keyPressed_ = false;
            break;
        default:
            break;
    }
}

uint8_t VirtualScanner::BusyCode(DeviceClock::time_point now) const {
    if (now < motorBusyUntil_) return kBusyMotor;
    if (now < preparingUntil_) return kBusyPreparing;
    return kIdle;
}

void VirtualScanner::QueryStatus() {
    const DeviceClock::time_point now = DeviceClock::now();
    if (faults_.busyMs > 0) {
        preparingUntil_ = std::max(preparingUntil_, now + ScaledDuration(faults_.busyMs * 1000.0));
        faults_.busyMs = 0;
    }
    reply_[3] = BusyCode(now);
}

void VirtualScanner::SetWindow(const uint8_t* packet) {
    const ScanWindow window = DecodeScanWindow(packet);
    if (const char* problem = ScanWindowProblem(window)) {
        lastWindowProblem_ = problem;
        Answer(kStatusBadParameter);
        return;
    }
    // A running scan keeps its stream; the window is used by the next start.
    window_ = window;
}

void VirtualScanner::SetAfe(const uint8_t* packet) {
    for (int i = 2; i < 8; ++i) {
        // The front end's registers are six bits wide.
        if (packet[i] > 63) {
            Answer(kStatusBadParameter);
            return;
        }
    }
    for (int c = 0; c < 3; ++c) {
        afe_.offset[c] = packet[2 + 2 * c];
        afe_.gain[c] = packet[3 + 2 * c];
    }
}

void VirtualScanner::SetLamps(uint8_t mask) {
    if (mask & ~(kLampFlatbed | kLampTa)) {
        Answer(kStatusBadParameter);
        return;
    }
    lamps_ = mask;
    reply_[2] = mask;
}

bool VirtualScanner::ScanHoldsCarriage() const {
    return phase_ != ScanPhase::Idle && !pipe_.Drained();
}

uint32_t VirtualScanner::CarriageNow() const {
    if (phase_ == ScanPhase::Idle || !window_) return position_;
    // During a scan the carriage passes the window's height in step with the data sent.
    const uint64_t wire = pipe_.WireBytes();
    const uint64_t travelled = wire == 0 ? 0 : uint64_t{window_->hwHeight} * pipe_.Delivered() / wire;
    return static_cast<uint32_t>(std::min<uint64_t>(scanFrom_ + travelled, kMaxPosition));
}

void VirtualScanner::EndScan() {
    if (phase_ == ScanPhase::Idle) return;
    position_ = CarriageNow();
    pipe_.Abort();
    phase_ = ScanPhase::Idle;
}

void VirtualScanner::MoveCarriage(bool home, uint16_t steps) {
    if (ScanHoldsCarriage()) {
        Answer(kStatusRefused);
        return;
    }
    EndScan();
    const uint32_t target = home ? 0 : std::min<uint32_t>(position_ + steps, kMaxPosition);
    const uint32_t distance = target > position_ ? target - position_ : position_ - target;
    const DeviceClock::time_point now = DeviceClock::now();
    motorBusyUntil_ =
        std::max(motorBusyUntil_, now) + ScaledDuration(static_cast<double>(config_.time.stepUs) * distance);
    position_ = target;
}

void VirtualScanner::StartScan() {
    if (!window_) {
        Answer(kStatusRefused);
        return;
    }
    // A start during a scan begins the scan afresh.
    EndScan();
    const ScanWindow& window = *window_;
    // The first line is a 16-bit two's complement value; the carriage cannot go behind home.
    const int32_t firstLine = static_cast<int16_t>(window.startLine);
    const uint32_t target = static_cast<uint32_t>(std::max(firstLine, 0));
    const uint32_t distance = target > position_ ? target - position_ : position_ - target;
    const DeviceClock::time_point now = DeviceClock::now();
    firstDataDue_ =
        std::max(now, motorBusyUntil_) +
        ScaledDuration(config_.time.startMs * 1000.0 + static_cast<double>(config_.time.stepUs) * distance);
    position_ = target;
    scanFrom_ = target;

    std::unique_ptr<StreamSource> source = config_.streamFactory(window, afe_, lamps_);
    uint64_t wire = RoundUp(source ? source->TotalBytes() : 0, config_.time.packetBytes);
    if (faults_.streamEndAfter) wire = std::min(wire, *faults_.streamEndAfter);
    pipe_.Begin(std::move(source), wire, config_.time);
    readsThisScan_ = 0;
    phase_ = ScanPhase::Started;
}

void VirtualScanner::Handshake() {
    if (phase_ == ScanPhase::Idle) {
        Answer(kStatusRefused);
        return;
    }
    if (faults_.handshakeRefusals > 0) {
        --faults_.handshakeRefusals;
        Answer(kStatusRefused);
        return;
    }
    if (phase_ == ScanPhase::Started) {
        pipe_.Release(std::max(DeviceClock::now(), firstDataDue_));
        phase_ = ScanPhase::Streaming;
    }
}

void VirtualScanner::StopScan() {
    EndScan();
}

void VirtualScanner::Restart() {
    EndScan();
    window_.reset();
    afe_ = AfeSettings{};
    lamps_ = 0;
    preparingUntil_ = {};
}

void VirtualScanner::CompleteDownload(uint16_t count) {
    // The boot code checks what was written and, when it is sound, runs it; a running
    // firmware is restarted either way, so a failed download leaves none running.
    const FirmwareCheck check =
        count > kMemorySize ? FirmwareCheck::Truncated : CheckFirmwareImage(memory_.data(), count);
    lastDownload_ = check;
    Restart();
    firmwareRunning_ = check == FirmwareCheck::Ok;
    if (!firmwareRunning_) Answer(kStatusBadImage);
}

}  // namespace b58::sim

// The virtual scanner's transfer layer: which control transfers the controller takes, its
// memory, the reply buffer, and the fault switches that act on transfers. The commands
// themselves are in controller_commands.cpp.
#include "sim/virtual_scanner.h"

#include <algorithm>
#include <cstring>

#include "sim/placeholder_stream.h"

namespace b58::sim {

using usbscan::BulkStatus;
using usbscan::UsbSetup;

namespace {

// The class driver asks for a block request when more than one byte moves.
ScannerConfig WithStreamFactory(ScannerConfig config) {
    if (!config.streamFactory) config.streamFactory = PlaceholderStreamFactory(config.seed);
    return config;
}

bool RequestMatches(const UsbSetup& setup, uint8_t requestType) {
    const uint8_t expected = setup.wLength > 1 ? kRequestBlock : kRequestSingle;
    return setup.bmRequestType == requestType && setup.bRequest == expected;
}

}  // namespace

VirtualScanner::VirtualScanner(ScannerConfig config)
    : config_(WithStreamFactory(std::move(config))),
      faults_(config_.faults),
      keyPressed_(config_.keyPressed) {
    reply_[0] = kStatusNoCommand;
    if (config_.firmwareRunning) {
        // As if the firmware had been downloaded before the process started.
        const std::vector<uint8_t> image = BuildFirmwareImage();
        std::copy(image.begin(), image.end(), memory_.begin());
        firmwareRunning_ = true;
    }
}

VirtualScanner::~VirtualScanner() {
    pipe_.Unplug();
}

bool VirtualScanner::TransferAllowed() {
    if (unplugged_) return false;
    if (faults_.unplugAfter) {
        if (*faults_.unplugAfter == 0) {
            faults_.unplugAfter.reset();
            unplugged_ = true;
            pipe_.Unplug();
            return false;
        }
        --*faults_.unplugAfter;
    }
    if (faults_.failAllTransfers) return false;
    if (faults_.failTransfers > 0) {
        --faults_.failTransfers;
        return false;
    }
    return true;
}

bool VirtualScanner::ControlOut(const UsbSetup& setup, const uint8_t* data) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!TransferAllowed()) return false;
    // Anything the controller does not know stalls the control pipe: the transfer fails.
    if (!RequestMatches(setup, kRequestTypeOut) || (setup.wLength > 0 && data == nullptr)) return false;
    switch (setup.wValue) {
        case kValueCommand:
        case kValueShortCommand:
            if (setup.wIndex != kIndexCommand || setup.wLength != kPacketSize) return false;
            TakePacket(data, setup.wValue == kValueShortCommand);
            return true;
        case kValueMemoryWrite:
            return WriteMemory(setup.wIndex, data, setup.wLength);
        default:
            return false;
    }
}

bool VirtualScanner::ControlIn(const UsbSetup& setup, uint8_t* data, uint32_t* transferred) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (transferred != nullptr) *transferred = 0;
    if (!TransferAllowed()) return false;
    if (!RequestMatches(setup, kRequestTypeIn) || (setup.wLength > 0 && data == nullptr)) return false;
    size_t size = 0;
    switch (setup.wValue) {
        case kValueReply:
            size = kPacketSize;
            break;
        case kValueShortReply:
            size = kShortPacketSize;
            break;
        case kValueMemoryRead:
            return ReadMemory(setup.wIndex, data, setup.wLength, transferred);
        default:
            return false;
    }
    if (setup.wIndex != kIndexReply) return false;
    // The reply of the last command stays readable until the next command replaces it.
    size = std::min<size_t>(size, setup.wLength);
    std::memcpy(data, reply_.data(), size);
    if (transferred != nullptr) *transferred = static_cast<uint32_t>(size);
    return true;
}

bool VirtualScanner::WriteMemory(uint16_t address, const uint8_t* data, uint16_t length) {
    if (length == 0 || length > kMemoryBlockSize || size_t{address} + length > kMemorySize) return false;
    std::memcpy(memory_.data() + address, data, length);
    return true;
}

bool VirtualScanner::ReadMemory(uint16_t address, uint8_t* data, uint16_t length, uint32_t* transferred) {
    if (length == 0 || length > kMemoryBlockSize || size_t{address} + length > kMemorySize) return false;
    std::memcpy(data, memory_.data() + address, length);
    if (faults_.badReadBackBlock) {
        const size_t blockStart = size_t{*faults_.badReadBackBlock} * kMemoryBlockSize;
        const size_t first = std::max<size_t>(blockStart, address);
        if (first < std::min<size_t>(blockStart + kMemoryBlockSize, size_t{address} + length)) {
            data[first - address] ^= 0xFF;
            if (faults_.badReadBackTimes > 0 && --faults_.badReadBackTimes == 0)
                faults_.badReadBackBlock.reset();
        }
    }
    if (transferred != nullptr) *transferred = length;
    return true;
}

void VirtualScanner::Answer(uint8_t status) {
    reply_.fill(0);
    reply_[0] = status;
}

void VirtualScanner::TakePacket(const uint8_t* data, bool shortForm) {
    // "Not taken" means the controller was still busy with the previous packet: it does not
    // look at this one, and the host sends it again.
    if (faults_.notTaken > 0) {
        --faults_.notTaken;
        Answer(kStatusNotTaken);
        return;
    }
    uint8_t packet[kPacketSize] = {};
    if (shortForm) {
        for (size_t copy = 1; copy < kPacketSize / kShortPacketSize; ++copy) {
            if (std::memcmp(data, data + copy * kShortPacketSize, kShortPacketSize) != 0) {
                Answer(kStatusBadPacket);
                return;
            }
        }
        std::memcpy(packet, data, kShortPacketSize);
    } else {
        std::memcpy(packet, data, kPacketSize);
    }
    const uint8_t command = packet[0];
    if (packet[1] != 1 || IsShortFormCommand(command) != shortForm) {
        Answer(kStatusBadPacket);
        return;
    }
    if (auto failing = faults_.failCommand.find(command); failing != faults_.failCommand.end()) {
        Answer(failing->second);
        return;
    }
    Execute(packet);
}

BulkStatus VirtualScanner::BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) {
    DeviceClock::duration stall = DeviceClock::duration::zero();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (transferred != nullptr) *transferred = 0;
        if (unplugged_) return BulkStatus::Failed;
        if (faults_.failBulkReads > 0) {
            --faults_.failBulkReads;
            return BulkStatus::Failed;
        }
        ++readsThisScan_;
        if (faults_.stallRead != 0 && readsThisScan_ == faults_.stallRead) {
            stall = ScaledDuration(faults_.stallMs * 1000.0);
        }
    }
    return pipe_.Read(data, length, transferred, stall);
}

void VirtualScanner::CancelBulk() {
    pipe_.Cancel();
}

void VirtualScanner::ChangeFaults(const std::function<void(FaultConfig&)>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(faults_);
}

void VirtualScanner::PressKey() {
    std::lock_guard<std::mutex> lock(mutex_);
    keyPressed_ = true;
}

void VirtualScanner::Unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    unplugged_ = true;
    pipe_.Unplug();
}

ControllerState VirtualScanner::State() const {
    std::lock_guard<std::mutex> lock(mutex_);
    ControllerState state;
    state.firmwareRunning = firmwareRunning_;
    state.lastDownload = lastDownload_;
    state.phase = phase_;
    state.window = window_;
    state.lastWindowProblem = lastWindowProblem_;
    state.afe = afe_;
    state.lamps = lamps_;
    state.carriagePosition = CarriageNow();
    state.busy = BusyCode(DeviceClock::now()) != kIdle;
    state.keyPressed = keyPressed_;
    state.unplugged = unplugged_;
    state.streamDelivered = phase_ == ScanPhase::Idle ? 0 : pipe_.Delivered();
    state.streamWireBytes = phase_ == ScanPhase::Idle ? 0 : pipe_.WireBytes();
    return state;
}

uint32_t VirtualScanner::ExecutedCount(uint8_t command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return executed_[command];
}

std::vector<uint8_t> VirtualScanner::Memory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<uint8_t>(memory_.begin(), memory_.end());
}

}  // namespace b58::sim

// The virtual scanner as a device behind the stand-in class driver: a model of the scanner's
// controller (command packets and replies, controller memory and firmware boot, carriage,
// lamps, scan state) with the bulk image stream of the programmed window. sim/README.md
// describes what it models, its options, faults and time model.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/bulk_pipe.h"
#include "sim/controller_protocol.h"
#include "sim/device_time.h"
#include "sim/firmware_image.h"
#include "sim/scan_window.h"
#include "sim/scanner_config.h"
#include "src/platform/usbscan/usb_backend.h"

namespace b58::sim {

enum class ScanPhase {
    Idle,       // no scan: after power-on, a stop, a firmware restart
    Started,    // start taken; the stream waits for the data-transfer handshake
    Streaming,  // handshake taken; the stream flows (or has been delivered) until the stop
};

// What the controller holds at one moment, for tests and diagnostics.
struct ControllerState {
    bool firmwareRunning = false;
    std::optional<FirmwareCheck> lastDownload;  // result of the last download-complete command
    ScanPhase phase = ScanPhase::Idle;
    std::optional<ScanWindow> window;
    std::string lastWindowProblem;  // why the last refused window was refused
    AfeSettings afe;
    uint8_t lamps = 0;              // LampBits
    uint32_t carriagePosition = 0;  // motor steps from home; where the carriage is or is heading
    bool busy = false;              // the status query would answer busy now
    bool keyPressed = false;
    bool unplugged = false;
    uint64_t streamDelivered = 0;  // bytes of the current stream handed out
    uint64_t streamWireBytes = 0;  // the current stream's length on the wire
};

class VirtualScanner : public usbscan::UsbBackend {
  public:
    explicit VirtualScanner(ScannerConfig config = {});
    ~VirtualScanner() override;
    VirtualScanner(const VirtualScanner&) = delete;
    VirtualScanner& operator=(const VirtualScanner&) = delete;

    bool ControlOut(const usbscan::UsbSetup& setup, const uint8_t* data) override;
    bool ControlIn(const usbscan::UsbSetup& setup, uint8_t* data, uint32_t* transferred) override;
    usbscan::BulkStatus BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) override;
    void CancelBulk() override;

    // Fault switches and front-panel events; safe from any thread.
    void ChangeFaults(const std::function<void(FaultConfig&)>& change);
    void PressKey();
    void Unplug();  // every later transfer fails; waiting bulk reads fail at once

    ControllerState State() const;
    // How often each command was carried out (not counting packets refused unseen: "not
    // taken", a failing-command fault, a malformed packet, no firmware).
    uint32_t ExecutedCount(uint8_t command) const;
    std::vector<uint8_t> Memory() const;

  private:
    using Reply = std::array<uint8_t, kPacketSize>;

    // Transfer layer.
    bool TransferAllowed();
    bool WriteMemory(uint16_t address, const uint8_t* data, uint16_t length);
    bool ReadMemory(uint16_t address, uint8_t* data, uint16_t length, uint32_t* transferred);
    void TakePacket(const uint8_t* data, bool shortForm);
    void Answer(uint8_t status);

    // Commands (controller_commands.cpp); each fills reply_ and returns nothing.
    void Execute(const uint8_t* packet);
    void QueryStatus();
    void SetWindow(const uint8_t* packet);
    void SetAfe(const uint8_t* packet);
    void MoveCarriage(bool home, uint16_t steps);
    void SetLamps(uint8_t mask);
    void StartScan();
    void Handshake();
    void StopScan();
    void CompleteDownload(uint16_t count);

    // Scan and carriage bookkeeping.
    bool ScanHoldsCarriage() const;
    uint32_t CarriageNow() const;
    void EndScan();
    void Restart();
    uint8_t BusyCode(DeviceClock::time_point now) const;

    const ScannerConfig config_;
    BulkPipe pipe_;

    mutable std::mutex mutex_;
    FaultConfig faults_;
    std::array<uint8_t, kMemorySize> memory_{};
    Reply reply_{};
    bool firmwareRunning_ = false;
    std::optional<FirmwareCheck> lastDownload_;
    bool keyPressed_ = false;
    bool unplugged_ = false;
    ScanPhase phase_ = ScanPhase::Idle;
    std::optional<ScanWindow> window_;
    std::string lastWindowProblem_;
    AfeSettings afe_;
    uint8_t lamps_ = 0;
    uint32_t position_ = 0;  // carriage, motor steps from home
    uint32_t scanFrom_ = 0;  // where the current scan's window begins
    DeviceClock::time_point firstDataDue_{};
    DeviceClock::time_point motorBusyUntil_{};
    DeviceClock::time_point preparingUntil_{};
    uint32_t readsThisScan_ = 0;
    std::array<uint32_t, 256> executed_{};
};

// Builds a virtual scanner from an option string (the part after "sim" in B58_DEVICES, e.g.
// "firmware=running,seed=7"); null, with a message in *error, for options it does not know.
std::shared_ptr<usbscan::UsbBackend> CreateVirtualScanner(const std::string& options, std::string* error);
std::unique_ptr<VirtualScanner> MakeVirtualScanner(const std::string& options, std::string* error);

}  // namespace b58::sim

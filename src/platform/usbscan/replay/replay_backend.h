// A backend that answers from a capture of an earlier session ("replay@N:file=session.pcap"):
// control reads and bulk reads get the recorded replies, as long as the driver sends what
// was recorded. At the first transfer that differs it fails loudly: a message on the debug
// channel and standard error saying which transfer, what was recorded and what came; it and
// every later transfer fail. Control transfers and bulk reads are followed as two sequences,
// since the driver's threads interleave them differently from run to run.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/usbscan/replay/recorded_transfers.h"
#include "platform/usbscan/usb_backend.h"

namespace b58::usbscan {

class ReplayBackend final : public UsbBackend {
  public:
    ReplayBackend(std::string name, RecordedSession session);

    bool ControlOut(const UsbSetup& setup, const uint8_t* data) override;
    bool ControlIn(const UsbSetup& setup, uint8_t* data, uint32_t* transferred) override;
    // A read that was cancelled in the recording waits for CancelBulk.
    BulkStatus BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) override;
    void CancelBulk() override;

    // The first difference from the recording; empty while there is none.
    std::string Divergence() const;
    // True when every recorded transfer has been replayed.
    bool Complete() const;

  private:
    bool Diverge(const std::string& message);  // false
    const RecordedTransfer* NextControl(RecordedTransfer::Kind kind, const UsbSetup& setup,
                                        const uint8_t* data);

    const std::string name_;
    const RecordedSession session_;
    mutable std::mutex lock_;
    std::condition_variable cancelled_;
    size_t control_ = 0;
    size_t bulk_ = 0;
    bool cancel_ = false;
    std::string divergence_;
};

// "file=<capture>[,device=<USB address>]".
std::shared_ptr<UsbBackend> CreateReplayBackend(const std::string& options, std::string* error);

}  // namespace b58::usbscan

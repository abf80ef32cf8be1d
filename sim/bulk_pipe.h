// The controller's bulk image endpoint: hands out the current scan's stream to the host's
// bulk reads at the configured data rate, and pends reads while there is nothing to send.
//
// How a read behaves, as on a device that NAKs its bulk IN endpoint while it has no data:
// - no stream (before a start, after a stop, after the stream's end): the read waits until
//   a new stream delivers data, or until it is cancelled (Cancelled, 0 bytes) or the device
//   goes away (Failed);
// - a stream: the read waits until its bytes have been produced at the data rate, then
//   returns them all; at the end of the stream it returns the bytes that are left (short).
// The stream is padded with zeros to whole packets, as the controller sends it.
// Reads are served one at a time, in the order they get the pipe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sim/device_time.h"
#include "sim/scanner_config.h"
#include "sim/stream_source.h"
#include "src/platform/usbscan/usb_backend.h"

namespace b58::sim {

class BulkPipe {
  public:
    // Replaces any stream with `source`, of which `wireBytes` go out (the source's bytes
    // followed by zero padding, or fewer when the stream is cut short). Data flows once
    // Release has been called.
    void Begin(std::unique_ptr<StreamSource> source, uint64_t wireBytes, const TimeModel& time);
    // Lets the current stream flow, its first byte due at `firstData`.
    void Release(DeviceClock::time_point firstData);
    // Ends the current stream; reads waiting for it go on waiting for the next one.
    void Abort();
    // Fails every waiting and later read.
    void Unplug();

    // Bytes of the current stream handed out so far, and its length on the wire.
    uint64_t Delivered() const;
    uint64_t WireBytes() const;
    // True when there is no stream left to deliver (none begun, aborted, or all handed out).
    bool Drained() const;

    // A bulk read; `stall` delays its completion beyond the data rate.
    usbscan::BulkStatus Read(uint8_t* data, uint32_t length, uint32_t* transferred,
                             DeviceClock::duration stall);
    // Ends every read waiting at this moment with Cancelled.
    void Cancel();

  private:
    struct Stream {
        std::unique_ptr<StreamSource> source;
        uint64_t sourceBytes = 0;  // bytes the source produces; the rest of the wire bytes are zero
        uint64_t wireBytes = 0;
        uint64_t delivered = 0;
        bool released = false;
        bool aborted = false;
        TimeModel time;
        // Production model: `produced` bytes existed at `producedAt`; the controller goes on
        // producing at the data rate while it has room in its buffer.
        uint64_t produced = 0;
        DeviceClock::time_point producedAt;
    };

    static uint64_t ProducedBy(const Stream& stream, DeviceClock::time_point now, uint64_t want);
    static DeviceClock::time_point ReadyAt(const Stream& stream, DeviceClock::time_point now, uint64_t want);
    static void Fill(Stream& stream, uint8_t* data, uint64_t from, uint64_t count);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<Stream> stream_;
    uint64_t cancelGeneration_ = 0;
    bool unplugged_ = false;
    bool reading_ = false;  // a read is being served
};

}  // namespace b58::sim

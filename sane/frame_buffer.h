// The hand-over between the scan, which runs on the driver thread and pushes lines, and
// sane_read, which pulls bytes in whatever amounts the frontend asks for.
#pragma once

#include <sane/sane.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "line_sink.h"

namespace b58::sane {

class FrameBuffer : public host::LineSink {
  public:
    // At most `capacityBytes` wait for the frontend (at least one line); the scan waits
    // for room beyond that. `cancelled` is polled while either side waits, so that a
    // cancel that can only store a flag (a signal handler's) still ends every wait.
    FrameBuffer(size_t capacityBytes, const std::atomic<bool>& cancelled);

    // LineSink, called by the scan.
    bool Begin(const host::ImageFormat& format, std::string& error) override;
    bool WriteLine(const uint8_t* row, std::string& error) override;
    bool End(uint32_t lines, std::string& error) override;

    // The scan ended without a Begin or with an error; `status` is what sane_start or
    // sane_read reports.
    void Fail(SANE_Status status);

    // Waits until the image's shape is known (Begin) or the scan failed. GOOD with `format`
    // set, else the failure.
    SANE_Status WaitForFormat(host::ImageFormat& format);

    // sane_read: up to `max` bytes. GOOD with `length` > 0; EOF at the end of a complete
    // image; CANCELLED once cancelled; the failure status when the scan failed before its
    // end. Without `blocking`, GOOD with `length` 0 when nothing is there yet.
    SANE_Status Read(SANE_Byte* data, SANE_Int max, SANE_Int& length, bool blocking);

    // Every line the scan will give has been read (or the scan failed and said so).
    bool Drained();

  private:
    bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }

    const size_t capacity_;
    const std::atomic<bool>& cancelled_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> lines_;  // whole lines; the first partly read
    size_t firstLineRead_ = 0;                // bytes of the first line already read
    size_t queuedBytes_ = 0;
    host::ImageFormat format_;
    size_t rowBytes_ = 0;
    bool begun_ = false;
    bool ended_ = false;  // End: every line the scan will give is in bytes_
    SANE_Status failure_ = SANE_STATUS_GOOD;
};

}  // namespace b58::sane

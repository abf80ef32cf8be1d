#include "frame_buffer.h"

#include <algorithm>
#include <bit>
#include <chrono>

namespace b58::sane {
namespace {

// How often a waiting side looks at the cancel flag: a signal handler cannot notify.
constexpr auto kCancelPoll = std::chrono::milliseconds(20);

}  // namespace

FrameBuffer::FrameBuffer(size_t capacityBytes, const std::atomic<bool>& cancelled)
    : capacity_(capacityBytes), cancelled_(cancelled) {}

bool FrameBuffer::Begin(const host::ImageFormat& format, std::string&) {
    std::lock_guard<std::mutex> hold(lock_);
    format_ = format;
    rowBytes_ = host::RowBytes(format);
    begun_ = true;
    changed_.notify_all();
    return true;
}

bool FrameBuffer::WriteLine(const uint8_t* row, std::string&) {
    std::unique_lock<std::mutex> hold(lock_);
    while (queuedBytes_ > 0 && queuedBytes_ + rowBytes_ > capacity_ && !Cancelled()) {
        changed_.wait_for(hold, kCancelPoll);
    }
    if (Cancelled()) return true;  // nobody reads it; the scan sees the cancel itself
    std::vector<uint8_t>& line = lines_.emplace_back(row, row + rowBytes_);
    // SANE wants 16-bit samples in the host's order; the driver gives them low byte first.
    if constexpr (std::endian::native == std::endian::big) {
        if (format_.kind == host::PixelKind::Rgb48) {
            for (size_t i = 0; i + 1 < line.size(); i += 2) std::swap(line[i], line[i + 1]);
        }
    }
    queuedBytes_ += line.size();
    changed_.notify_all();
    return true;
}

bool FrameBuffer::End(uint32_t lines, std::string&) {
    std::lock_guard<std::mutex> hold(lock_);
    ended_ = true;
    if (lines < format_.height && failure_ == SANE_STATUS_GOOD) failure_ = SANE_STATUS_IO_ERROR;
    changed_.notify_all();
    return true;
}

void FrameBuffer::Fail(SANE_Status status) {
    std::lock_guard<std::mutex> hold(lock_);
    ended_ = true;
    failure_ = status;
    changed_.notify_all();
}

bool FrameBuffer::Drained() {
    std::lock_guard<std::mutex> hold(lock_);
    return ended_ && queuedBytes_ == 0;
}

SANE_Status FrameBuffer::WaitForFormat(host::ImageFormat& format) {
    std::unique_lock<std::mutex> hold(lock_);
    while (!begun_ && !ended_ && !Cancelled()) changed_.wait_for(hold, kCancelPoll);
    if (Cancelled()) return SANE_STATUS_CANCELLED;
    if (!begun_) return failure_ != SANE_STATUS_GOOD ? failure_ : SANE_STATUS_IO_ERROR;
    format = format_;
    return SANE_STATUS_GOOD;
}

SANE_Status FrameBuffer::Read(SANE_Byte* data, SANE_Int max, SANE_Int& length, bool blocking) {
    length = 0;
    std::unique_lock<std::mutex> hold(lock_);
    while (queuedBytes_ == 0 && !ended_ && !Cancelled() && blocking) changed_.wait_for(hold, kCancelPoll);
    if (Cancelled()) return SANE_STATUS_CANCELLED;
    if (queuedBytes_ == 0) {
        if (!ended_) return SANE_STATUS_GOOD;  // non-blocking, nothing yet
        return failure_ != SANE_STATUS_GOOD ? failure_ : SANE_STATUS_EOF;
    }
    size_t wanted = static_cast<size_t>(std::max(max, 0));
    while (wanted > 0 && !lines_.empty()) {
        const std::vector<uint8_t>& line = lines_.front();
        const size_t count = std::min(wanted, line.size() - firstLineRead_);
        std::copy_n(line.data() + firstLineRead_, count, data + length);
        length += static_cast<SANE_Int>(count);
        wanted -= count;
        queuedBytes_ -= count;
        firstLineRead_ += count;
        if (firstLineRead_ == line.size()) {
            lines_.pop_front();
            firstLineRead_ = 0;
        }
    }
    changed_.notify_all();
    return SANE_STATUS_GOOD;
}

}  // namespace b58::sane

#include "sim/bulk_pipe.h"

#include <algorithm>
#include <cstring>

namespace b58::sim {

using usbscan::BulkStatus;

void BulkPipe::Begin(std::unique_ptr<StreamSource> source, uint64_t wireBytes, const TimeModel& time) {
    auto stream = std::make_shared<Stream>();
    stream->sourceBytes = source ? source->TotalBytes() : 0;
    stream->source = std::move(source);
    stream->wireBytes = wireBytes;
    stream->time = time;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stream_) stream_->aborted = true;
    stream_ = std::move(stream);
    changed_.notify_all();
}

void BulkPipe::Release(DeviceClock::time_point firstData) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stream_ || stream_->released) return;
    stream_->released = true;
    stream_->produced = 0;
    stream_->producedAt = firstData;
    changed_.notify_all();
}

void BulkPipe::Abort() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stream_) stream_->aborted = true;
    stream_.reset();
    changed_.notify_all();
}

void BulkPipe::Unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    unplugged_ = true;
    changed_.notify_all();
}

void BulkPipe::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++cancelGeneration_;
    changed_.notify_all();
}

uint64_t BulkPipe::Delivered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream_ ? stream_->delivered : 0;
}

uint64_t BulkPipe::WireBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream_ ? stream_->wireBytes : 0;
}

bool BulkPipe::Drained() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !stream_ || stream_->delivered >= stream_->wireBytes;
}

uint64_t BulkPipe::ProducedBy(const Stream& stream, DeviceClock::time_point now, uint64_t want) {
    if (now < stream.producedAt) return stream.produced;
    const double scale = platform::TimeScale();
    const uint64_t room = stream.delivered + std::max<uint64_t>(stream.time.bufferBytes, want);
    if (stream.time.bytesPerSecond == 0 || !(scale > 0.0)) return std::max(room, stream.produced);
    const double seconds = std::chrono::duration<double>(now - stream.producedAt).count() / scale;
    const double more = seconds * static_cast<double>(stream.time.bytesPerSecond);
    const double total = static_cast<double>(stream.produced) + more;
    const uint64_t produced = total >= static_cast<double>(room) ? room : static_cast<uint64_t>(total);
    return std::max(produced, stream.produced);
}

DeviceClock::time_point BulkPipe::ReadyAt(const Stream& stream, DeviceClock::time_point now, uint64_t want) {
    const uint64_t target = stream.delivered + want;
    const DeviceClock::time_point from = std::max(now, stream.producedAt);
    const uint64_t produced = ProducedBy(stream, from, want);
    if (produced >= target || stream.time.bytesPerSecond == 0) return from;
    // Only a limited rate leaves bytes missing here.
    const double missing = static_cast<double>(target - produced);
    return from + ScaledDuration(missing * 1e6 / static_cast<double>(stream.time.bytesPerSecond));
}

void BulkPipe::Fill(Stream& stream, uint8_t* data, uint64_t from, uint64_t count) {
    uint64_t fromSource = 0;
    if (from < stream.sourceBytes) fromSource = std::min(count, stream.sourceBytes - from);
    size_t made = 0;
    if (fromSource > 0 && stream.source) made = stream.source->Produce(data, static_cast<size_t>(fromSource));
    // A source that runs dry early, and the padding after its end, go out as zeros.
    std::memset(data + made, 0, static_cast<size_t>(count - made));
}

BulkStatus BulkPipe::Read(uint8_t* data, uint32_t length, uint32_t* transferred,
                          DeviceClock::duration stall) {
    if (transferred != nullptr) *transferred = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    if (unplugged_) return BulkStatus::Failed;
    if (length == 0) return BulkStatus::Ok;  // nothing asked, nothing to wait for
    const uint64_t generation = cancelGeneration_;
    const auto cancelled = [&] { return cancelGeneration_ != generation; };
    changed_.wait(lock, [&] { return !reading_ || cancelled() || unplugged_; });
    if (unplugged_) return BulkStatus::Failed;
    if (cancelled()) return BulkStatus::Cancelled;
    reading_ = true;
    struct Leave {
        BulkPipe& pipe;
        ~Leave() {
            pipe.reading_ = false;
            pipe.changed_.notify_all();
        }
    } leave{*this};

    const DeviceClock::time_point stallUntil = DeviceClock::now() + stall;
    while (true) {
        if (unplugged_) return BulkStatus::Failed;
        if (cancelled()) return BulkStatus::Cancelled;
        std::shared_ptr<Stream> stream = stream_;
        if (!stream || stream->aborted || !stream->released || stream->delivered >= stream->wireBytes) {
            changed_.wait(lock);
            continue;
        }
        const DeviceClock::time_point now = DeviceClock::now();
        const uint64_t want = std::min<uint64_t>(length, stream->wireBytes - stream->delivered);
        const DeviceClock::time_point ready = std::max(ReadyAt(*stream, now, want), stallUntil);
        if (now < ready) {
            changed_.wait_until(lock, ready);
            continue;
        }
        const uint64_t from = stream->delivered;
        stream->produced = std::max(ProducedBy(*stream, now, want), from + want);
        stream->producedAt = now;
        stream->delivered = from + want;
        // Only the reader being served touches the source, so it is filled without the lock.
        lock.unlock();
        Fill(*stream, data, from, want);
        lock.lock();
        if (transferred != nullptr) *transferred = static_cast<uint32_t>(want);
        return BulkStatus::Ok;
    }
}

}  // namespace b58::sim

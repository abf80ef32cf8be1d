#include "device/image_reader.h"

#include <cstdlib>
#include <cstring>

#include "device/scanner_link.h"

namespace b58 {
namespace {

uint32_t BlockBytes(const ImageReaderState& r, uint32_t block) {
    return block + 1 == r.TotalBlocks ? r.LastBlockSize : r.BlockSize;
}

// Starts the read of `block` into `slot`. False when it could not be started;
// the slot then has no read outstanding and fetching it fails.
bool IssueBlockRead(ImageReaderState& r, HANDLE device, uint32_t slot, uint32_t block) {
    if (r.SlotEvent[slot] == nullptr) r.SlotEvent[slot] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (r.SlotEvent[slot] == nullptr) return false;
    OVERLAPPED& overlapped = r.SlotOverlapped[slot];
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = r.SlotEvent[slot];
    ResetEvent(overlapped.hEvent);
    r.ReadHandle = device;
    if (!ReadFile(device, r.SlotBuffer[slot], BlockBytes(r, block), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    r.SlotOutstanding[slot] = true;
    return true;
}

// Waits for the end of the slot's read and takes its result; the slot is the
// driver's again.
BOOL CollectSlot(ImageReaderState& r, uint32_t slot, DWORD* bytes) {
    *bytes = 0;
    const BOOL ok = GetOverlappedResult(r.ReadHandle, &r.SlotOverlapped[slot], bytes, TRUE);
    r.SlotOutstanding[slot] = false;
    r.SlotBytesRead[slot] = *bytes;
    return ok;
}

enum class ReadWait { Done, TimedOut, Stopped };

bool StopSeen(const std::atomic<int32_t>* stop) {
    return stop != nullptr && stop->load(std::memory_order_acquire) != 0;
}

// Waits up to kImageBlockWaitMs for a read's event; in slices when a stop can
// come.
ReadWait WaitForRead(HANDLE event, const std::atomic<int32_t>* stop) {
    if (stop == nullptr) {
        return WaitForSingleObject(event, kImageBlockWaitMs) == WAIT_OBJECT_0 ? ReadWait::Done
                                                                              : ReadWait::TimedOut;
    }
    for (DWORD waited = 0; waited < kImageBlockWaitMs; waited += kImageStopPollMs) {
        if (StopSeen(stop)) return ReadWait::Stopped;
        if (WaitForSingleObject(event, kImageStopPollMs) == WAIT_OBJECT_0) return ReadWait::Done;
    }
    return ReadWait::TimedOut;
}

bool FetchImageBlock(ImageReaderState& r, HANDLE device) {
    if (r.BlocksConsumed >= r.TotalBlocks) return false;  // the whole transfer has been handed out
    if (r.FirstFetch) {
        if (r.TotalBlocks <= r.SlotCount) r.SlotCount = r.TotalBlocks;
        for (uint32_t i = 0; i < r.SlotCount; ++i) IssueBlockRead(r, device, i, i);
        r.FirstFetch = 0;
    }
    const uint32_t slot = r.BlocksConsumed % r.SlotCount;
    if (!r.SlotOutstanding[slot]) return false;

    DWORD bytes = 0;
    const ReadWait wait = WaitForRead(r.SlotEvent[slot], r.StopFlag);
    if (wait != ReadWait::Done) {
        // A stalled device or a stop: end the read rather than wait for it, so that
        // its buffer is ours again before anyone releases it.
        CancelIo(r.ReadHandle);
        CollectSlot(r, slot, &bytes);
        if (wait == ReadWait::TimedOut) OutputDebugStringA("!WAIT_OBJECT_0");
        return false;
    }
    const BOOL ok = CollectSlot(r, slot, &bytes);
    if (!ok || bytes != BlockBytes(r, r.BlocksConsumed)) return false;

    std::memcpy(r.CurrentBlock, r.SlotBuffer[slot], r.BlockSize);
    r.NeedBlock = 0;
    const uint32_t next = r.BlocksConsumed + r.SlotCount;
    if (next < r.TotalBlocks) IssueBlockRead(r, device, slot, next);
    ++r.BlocksConsumed;
    return true;
}

}  // namespace

uint8_t ImageDataReader::Open(uint32_t totalBytes, uint32_t blockSize, uint32_t slotCount,
                              const std::atomic<int32_t>* stopFlag) {
    Close();  // a reader left open: its reads must end before its buffers go
    if (blockSize == 0 || slotCount == 0 || slotCount > kImageReaderMaxSlots) return 0;

    ImageReaderState& r = state_;
    r.StopFlag = stopFlag;
    r.SlotCount = slotCount;
    r.BlockSize = blockSize;
    r.BlocksConsumed = 0;
    r.Position = 0;
    r.NeedBlock = 1;
    r.FirstFetch = 1;
    const uint32_t remainder = totalBytes % blockSize;
    r.TotalBlocks = totalBytes / blockSize + (remainder != 0 ? 1 : 0);
    r.LastBlockSize = blockSize;
    if (remainder != 0) {
        const uint32_t rounded = (remainder + kImageBlockAlign - 1) / kImageBlockAlign * kImageBlockAlign;
        // Never more than the slot buffer holds.
        if (rounded < blockSize) r.LastBlockSize = rounded;
    }

    bool complete = true;
    for (uint32_t i = 0; i < slotCount; ++i) {
        r.SlotBuffer[i] = static_cast<uint8_t*>(std::calloc(blockSize, 1));
        complete = complete && r.SlotBuffer[i] != nullptr;
    }
    r.CurrentBlock = static_cast<uint8_t*>(std::calloc(blockSize, 1));
    complete = complete && r.CurrentBlock != nullptr;
    if (!complete) {
        Close();
        return 0;
    }
    return 1;
}

uint8_t ImageDataReader::ReadBytes(HANDLE device, uint8_t* destination, uint32_t count, uint32_t* delivered) {
    ImageReaderState& r = state_;
    if (r.CurrentBlock == nullptr || count > r.BlockSize) return 0;
    if (r.NeedBlock && !FetchImageBlock(r, device)) return 0;

    const uint32_t end = r.Position + count;
    if (end < r.BlockSize) {
        std::memcpy(destination, r.CurrentBlock + r.Position, count);
        r.Position = end;
    } else if (end == r.BlockSize) {
        std::memcpy(destination, r.CurrentBlock + r.Position, count);
        r.Position = 0;
        r.NeedBlock = 1;
    } else {
        // The tail of this block, then the head of the next.
        const uint32_t head = r.BlockSize - r.Position;
        std::memcpy(destination, r.CurrentBlock + r.Position, head);
        if (!FetchImageBlock(r, device)) return 0;
        std::memcpy(destination + head, r.CurrentBlock, count - head);
        r.Position = count - head;
    }
    if (delivered != nullptr) *delivered = count;
    return 1;
}

uint8_t ImageDataReader::Close() {
    ImageReaderState& r = state_;
    // A stopped scan's reads may wait for data the scanner no longer sends: no
    // grace then.
    const bool stopping = StopSeen(r.StopFlag);
    bool stillRunning = false;
    for (uint32_t i = 0; i < kImageReaderMaxSlots; ++i) {
        if (r.SlotOutstanding[i] &&
            (stopping || WaitForSingleObject(r.SlotEvent[i], kImageCloseWaitMs) != WAIT_OBJECT_0)) {
            stillRunning = true;
        }
    }
    if (stillRunning) CancelIo(r.ReadHandle);
    for (uint32_t i = 0; i < kImageReaderMaxSlots; ++i) {
        DWORD bytes = 0;
        if (r.SlotOutstanding[i]) CollectSlot(r, i, &bytes);
        std::free(r.SlotBuffer[i]);
        r.SlotBuffer[i] = nullptr;
        if (r.SlotEvent[i] != nullptr) CloseHandle(r.SlotEvent[i]);
        r.SlotEvent[i] = nullptr;
        r.SlotOverlapped[i].hEvent = nullptr;
    }
    std::free(r.CurrentBlock);
    r.CurrentBlock = nullptr;
    r.ReadHandle = nullptr;
    r.StopFlag = nullptr;
    return 1;
}

uint8_t ImageDataReader::ReadBlockOnce(HANDLE device, uint8_t* destination, uint32_t count,
                                       uint32_t* transferred) const {
    if (transferred != nullptr) *transferred = 0;
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return 0;
    if (!ReadFile(device, destination, count, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        CloseHandle(overlapped.hEvent);
        return 0;
    }
    const bool inTime = WaitForRead(overlapped.hEvent, state_.StopFlag) == ReadWait::Done;
    if (!inTime) CancelIo(device);
    DWORD bytes = 0;
    GetOverlappedResult(device, &overlapped, &bytes, TRUE);
    if (transferred != nullptr) *transferred = bytes;
    CloseHandle(overlapped.hEvent);
    return inTime ? 1 : 0;
}

// ---- the scanner's reader
// ---------------------------------------------------------------

uint8_t OpenImageReader(const ScannerLink& link, uint32_t totalBytes, uint32_t blockSize, uint32_t slotCount,
                        const std::atomic<int32_t>* stopFlag) {
    return link.reader.Open(totalBytes, blockSize, slotCount, stopFlag);
}

uint8_t ReadImageBytes(const ScannerLink& link, uint8_t* destination, uint32_t count, uint32_t* delivered) {
    return link.reader.ReadBytes(link.handle, destination, count, delivered);
}

uint8_t CloseImageReader(const ScannerLink& link) {
    return link.reader.Close();
}

uint8_t ReadImageBlockOnce(const ScannerLink& link, uint8_t* destination, uint32_t count,
                           uint32_t* transferred) {
    return link.reader.ReadBlockOnce(link.handle, destination, count, transferred);
}

}  // namespace b58

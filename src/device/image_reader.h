// The image data reader: hands out the raw image stream of a scan in any byte
// counts while several overlapped block reads stay in flight on the device, so
// that the scanner never waits for the host. A reader is used by one thread at
// a time, which must also be the thread that closes it. The free functions
// below work on the reader of a scanner link, reading from the link's device.
//
// Use: Open with the total the consumer will ask for, ReadBytes until that
// total is consumed, Close.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

namespace b58 {

inline constexpr uint32_t kImageReaderMaxSlots = 50;
inline constexpr DWORD kImageBlockWaitMs = 30000;  // per block read
inline constexpr DWORD kImageCloseWaitMs = 500;    // per outstanding read when closing
inline constexpr uint32_t kImageBlockAlign = 64;   // the final read is rounded up to this
inline constexpr DWORD kImageStopPollMs = 100;     // how often a block wait looks for a stop

// What an image data reader keeps between calls.
struct ImageReaderState {
    uint32_t SlotCount = 0;       // N, 1 to 50
    uint32_t BlockSize = 0;       // B
    uint32_t TotalBlocks = 0;     // T
    uint32_t LastBlockSize = 0;   // LB
    uint32_t BlocksConsumed = 0;  // K
    uint32_t Position = 0;        // P
    int32_t NeedBlock = 0;
    int32_t FirstFetch = 0;
    OVERLAPPED SlotOverlapped[50] = {};
    HANDLE SlotEvent[50] = {};
    DWORD SlotBytesRead[50] = {};
    uint8_t* SlotBuffer[50] = {};
    uint8_t* CurrentBlock = nullptr;
    // A read was issued into the slot and its result has not been collected yet:
    // its buffer and OVERLAPPED record still belong to the device.
    bool SlotOutstanding[50] = {};
    HANDLE ReadHandle = nullptr;  // the device the reads were issued on
    // Set while the reader may be asked to stop: a block wait then ends within
    // one poll of it, and closing cancels the reads at once.
    const std::atomic<int32_t>* StopFlag = nullptr;
};

class ImageDataReader {
  public:
    // Prepares a reader for `totalBytes` in blocks of `blockSize` with
    // `slotCount` (1 to 50) reads in flight. A reader still open is closed first.
    // 0 when an argument is out of range or a buffer cannot be allocated (nothing
    // stays allocated then). With `stopFlag`, a block wait looks at it every
    // kImageStopPollMs: once it is set the wait gives up (the reads are
    // cancelled, by the thread that issued them, as the platform requires) and
    // the read fails.
    uint8_t Open(uint32_t totalBytes, uint32_t blockSize, uint32_t slotCount,
                 const std::atomic<int32_t>* stopFlag = nullptr);

    // Delivers the next `count` bytes (at most one block) of the stream into
    // `destination`; the first call starts the reads. 1 when all `count` bytes
    // were delivered; 0 on a block of the wrong size, a block read that did not
    // end within 30000 ms (it is cancelled; the debugger channel gets
    // "!WAIT_OBJECT_0"), a request beyond the total or larger than a block, or no
    // open reader. The destination may hold part of the bytes after a failure.
    uint8_t ReadBytes(HANDLE device, uint8_t* destination, uint32_t count, uint32_t* delivered);

    // Ends every read still in flight (each gets 500 ms to finish, or none once
    // the stop flag is set; then the rest are cancelled and collected) and
    // releases the buffers and events. Always 1.
    uint8_t Close();

    // One overlapped read of `count` bytes. 1 when it ended within 30000 ms; a
    // slower read, or one still running when the open reader's stop flag is set,
    // is cancelled and 0 comes back. The bytes transferred are stored either way.
    uint8_t ReadBlockOnce(HANDLE device, uint8_t* destination, uint32_t count, uint32_t* transferred) const;

    // For tests that look at the slots and the blocks handed out.
    const ImageReaderState& State() const { return state_; }

  private:
    ImageReaderState state_;
};

struct ScannerLink;

// The same on the link's reader and device.
uint8_t OpenImageReader(const ScannerLink& link, uint32_t totalBytes, uint32_t blockSize, uint32_t slotCount,
                        const std::atomic<int32_t>* stopFlag = nullptr);
uint8_t ReadImageBytes(const ScannerLink& link, uint8_t* destination, uint32_t count, uint32_t* delivered);
uint8_t CloseImageReader(const ScannerLink& link);
uint8_t ReadImageBlockOnce(const ScannerLink& link, uint8_t* destination, uint32_t count,
                           uint32_t* transferred);

}  // namespace b58

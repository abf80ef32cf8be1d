// One scan while it runs: its working memory, the reader thread that fills the line ring and
// the host-side read cursor, and what the host's thread, the reader thread and a StopScan from
// any thread hand each other.
//
// Who touches what:
// - The working memory is allocated and freed by the host's thread only, and only while no
//   reader thread is alive and no read is inside (StopScan waits for both, and keeps the
//   memory when they do not leave). While the scan runs the reader thread writes ring slots it
//   has taken with SlotFree and hands each over with FileLine; the host's thread converts a slot
//   only after SlotFree has said it is filled, and gives it back with ReleaseLine.
// - The read cursor (NextLineIndex, LinesDelivered, the colour offsets, PrerollPending,
//   ProgressCallback), the line routine and the join repair's noise belong to the host's thread.
// - The reader thread's context is written by the host's thread before the thread starts and
//   read by the reader thread only until StartReader is called for the next scan.
// - A stop can be asked for from any thread (RequestStop); the reader and the line routines
//   look at StopRequested between lines. A reader that fails says so with MarkReaderFailed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "contract/host_records.h"
#include "contract/scanner_model.h"
#include "platform/win32.h"
#include "scan/join_repair.h"
#include "scan/line_routines.h"
#include "scan/reader_threads.h"
#include "scan/scan_hand_off.h"

namespace b58 {

inline constexpr int kMaxLinePixels =
    Model().sensor.linePixels;           // pixel maps per colour, plane slot size in samples
inline constexpr int kRingSlots = 1200;  // line slots per plane
inline constexpr int kPlanes = 3;
inline constexpr uint32_t kLineRingBytes = 26'640'000;
inline constexpr size_t kPixelMapBytes = 256;
inline constexpr size_t kGammaEntries8 = 256;
inline constexpr size_t kGammaEntries16 = 65536;
inline constexpr size_t kShadingReferenceBytes = 29'600;

// Returns memory that std::free releases, or null. Tests pass one that fails on purpose.
using ScanAllocator = void* (*)(size_t bytes);

inline int RingSlot(uint32_t line) {
    return static_cast<int>(line % kRingSlots);
}

class ScanRun {
  public:
    ScanRun() = default;
    ~ScanRun() { FreeMemory(); }
    ScanRun(const ScanRun&) = delete;
    ScanRun& operator=(const ScanRun&) = delete;

    // ---- working memory (host's thread) -------------------------------------------------
    // Allocates and initialises the whole set for samples of `dataWidth` bits (16, or 8 for
    // anything else): identity pixel maps, the ring planes and slot addresses, every slot free,
    // and the gamma table (the host's table when `hostGammaTable` is not null, else identity
    // tables the run owns). Either everything is allocated or nothing is and false comes back
    // with the run untouched. The previous set must have been freed.
    bool AllocateMemory(uint16_t dataWidth, uint16_t* hostGammaTable, ScanAllocator allocate = nullptr);
    // The six 16-bit shading references, zeroed, replacing any there are; false when one is
    // missing (those that were allocated stay until FreeMemory).
    bool AllocateShadingReferences();
    // Frees whatever the run owns and clears the slot addresses and flags; a host gamma table
    // is only forgotten. Never while a reader thread or a read can still touch the ring.
    void FreeMemory();

    int32_t WorkingMemoryAllocated() const { return memoryAllocated_ ? 1 : 0; }
    uint16_t* GammaTable() const { return gammaTable_; }
    int32_t DriverGammaTable() const { return driverGammaTable_ ? 1 : 0; }
    uint8_t* PixelMapR() const { return pixelMaps_[0]; }  // kMaxLinePixels maps of 256 bytes
    uint8_t* PixelMapG() const { return pixelMaps_[1]; }
    uint8_t* PixelMapB() const { return pixelMaps_[2]; }
    uint8_t* LineRing() const { return lineRing_; }  // kLineRingBytes
    uint8_t* PlaneLines(int plane, uint32_t line) const { return planeLines_[plane][RingSlot(line)]; }
    uint16_t* WhiteRefR() const { return references_[0]; }
    uint16_t* WhiteRefG() const { return references_[1]; }
    uint16_t* WhiteRefB() const { return references_[2]; }
    uint16_t* DarkRefR() const { return references_[3]; }
    uint16_t* DarkRefG() const { return references_[4]; }
    uint16_t* DarkRefB() const { return references_[5]; }

    // ---- the ring slots' hand-over between the reader and the host's thread -------------
    // True when the slot of `line` is free for the reader: acquire, so that the host's
    // reading of the slot's previous line is complete.
    bool SlotFree(int plane, uint32_t line) const {
        return lineFree_[plane][RingSlot(line)].load(std::memory_order_acquire) != 0;
    }
    // Reader: the line is in its slot.
    void FileLine(int plane, uint32_t line) {
        lineFree_[plane][RingSlot(line)].store(0, std::memory_order_release);
    }
    // Host: the line has been converted; its slot may be filled again.
    void ReleaseLine(int plane, uint32_t line) {
        lineFree_[plane][RingSlot(line)].store(1, std::memory_order_release);
    }

    // ---- stop and failure -----------------------------------------------------------------
    bool StopRequested() const { return stopRequested_.load(std::memory_order_acquire) != 0; }
    // Any thread. Sequentially consistent: a read entering now either sees the stop or is
    // seen inside by WaitForHostCalls.
    void RequestStop() { stopRequested_.store(1, std::memory_order_seq_cst); }
    void ClearStop() { stopRequested_.store(0, std::memory_order_release); }
    // The flag itself, for waits below the scan layer that end on it.
    const std::atomic<int32_t>* StopFlag() const { return &stopRequested_; }

    bool ReaderFailed() const { return readerFailed_.load(std::memory_order_acquire) != 0; }
    void MarkReaderFailed() { readerFailed_.store(1, std::memory_order_release); }
    void ClearReaderFailed() { readerFailed_.store(0, std::memory_order_release); }

    // ---- the reader thread (host's thread) ------------------------------------------------
    // Keeps `context` in the run, where it stays until the next start, and starts `routine`
    // with it. False when the thread cannot be created, or while a reader is still alive.
    bool StartReader(LPTHREAD_START_ROUTINE routine, const ReaderContext& context);
    HANDLE ReaderThread() const { return readerThread_; }
    bool ReaderAlive() const { return readerThread_ != nullptr; }
    // Closes the handle of a reader that has ended.
    void ForgetReader();

    // ---- host calls and StopScan ----------------------------------------------------------
    // The scan's span: from a started reader until StopScan has finished.
    void Begin() { calls_.Begin(); }
    void End() { calls_.End(); }
    bool Running() const { return calls_.Running(); }
    // A read that converts lines enters (false: a stop came, nothing is held) and leaves.
    bool EnterHostCall() { return calls_.EnterHostCall(stopRequested_); }
    void LeaveHostCall() { calls_.LeaveHostCall(); }
    bool WaitForHostCalls(DWORD timeoutMs) const { return calls_.WaitForHostCalls(timeoutMs); }
    std::unique_lock<std::mutex> SerialiseStop() { return calls_.SerialiseStop(); }

    // ---- the host-side read cursor (host's thread) ----------------------------------------
    ProgressRoutine ProgressCallback = nullptr;
    int32_t PrerollPending = 0;
    uint16_t NextLineIndex = 0;
    uint32_t LinesDelivered = 0;  // host lines handed out since StartScan, at most ImageLines
    int32_t RedOffset = 0;
    int32_t GreenOffset = 1;
    int32_t BlueOffset = 2;

    // The routine that converts the lines of the configured request, null while none is.
    LineRoutineFn LineRoutine = nullptr;

    // The join repair's noise. No scan reseeds it, so the repaired joins of a scan depend on
    // the scans before it in the process; tests that compare whole images reset it first.
    JoinRandom RepairNoise;
    void ResetJoinNoise() { RepairNoise = JoinRandom(); }

  private:
    bool memoryAllocated_ = false;
    bool driverGammaTable_ = false;
    uint16_t* gammaTable_ = nullptr;
    uint8_t* pixelMaps_[kPlanes] = {};
    uint8_t* lineRing_ = nullptr;
    uint8_t* planeLines_[kPlanes][kRingSlots] = {};
    std::atomic<int32_t> lineFree_[kPlanes][kRingSlots] = {};
    uint16_t* references_[6] = {};  // white R, G, B, dark R, G, B

    ReaderContext readerContext_;
    HANDLE readerThread_ = nullptr;
    DWORD readerThreadId_ = 0;
    std::atomic<int32_t> stopRequested_{0};
    std::atomic<int32_t> readerFailed_{0};
    ScanHandOff calls_;
};

}  // namespace b58

// The backend's state between sane_init and sane_exit: the configuration, the driver and
// the thread that calls it, the published devices, and the one open handle (the driver
// serves one scanner per process).
#pragma once

#include <sane/sane.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "backend_config.h"
#include "driver_entry_points.h"
#include "driver_library.h"
#include "driver_thread.h"
#include "frame_buffer.h"
#include "scan_options.h"
#include "scan_runner.h"

namespace b58::sane {

class Backend;

// One opened device: its options and the scan in progress.
class Handle {
  public:
    Handle(Backend& backend, std::string name);
    ~Handle();  // cancels a running scan, waits for it and closes the device
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    const std::string& Name() const { return name_; }
    const SANE_Option_Descriptor* Descriptor(SANE_Int option) const { return options_.Descriptor(option); }
    SANE_Status Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info);
    SANE_Status Parameters(SANE_Parameters& parameters);
    SANE_Status Start();
    SANE_Status Read(SANE_Byte* data, SANE_Int max, SANE_Int& length);
    // Only stores to atomics: safe from a signal handler and from any thread.
    void Cancel() noexcept;
    SANE_Status SetIoMode(bool nonBlocking);

  private:
    enum State : int { kIdle, kScanning };
    void FinishScan();  // waits for the scan job and forgets it
    bool ButtonPressed();

    Backend& backend_;
    std::string name_;
    ScanOptions options_;
    std::atomic<int> state_{kIdle};
    std::atomic<bool> cancelled_{false};
    host::ScanCancel scanCancel_;
    std::shared_ptr<FrameBuffer> frame_;
    std::future<void> scanJob_;
    host::ImageFormat format_;
    bool optionsChanged_ = false;  // since the scan started: its format no longer applies
    bool nonBlocking_ = false;
    std::vector<uint16_t> gamma_;  // the driver's tables for the scan running
};

class Backend {
  public:
    explicit Backend(BackendConfig config);
    ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    const SANE_Device** Devices();
    SANE_Status Open(const std::string& name, Handle*& handle);
    void Close(Handle* handle);
    // Safe from any thread (sane_cancel asks it).
    bool Owns(const Handle* handle) const {
        return handle != nullptr && handle == openHandle_.load(std::memory_order_acquire);
    }

    const host::DriverEntryPoints& Driver() const { return driver_; }
    DriverThread& Thread() { return *thread_; }
    static ScannerCapabilities Capabilities();

  private:
    struct OpenAttempt;

    BackendConfig config_;
    const host::DriverLibrary* library_ = nullptr;  // stays loaded for the process (see Backend())
    host::DriverEntryPoints driver_;
    std::unique_ptr<DriverThread> thread_;
    std::vector<SANE_Device> deviceRecords_;
    std::vector<const SANE_Device*> deviceList_;
    std::unique_ptr<Handle> open_;
    std::atomic<Handle*> openHandle_{nullptr};
    std::shared_ptr<OpenAttempt> lastAttempt_;  // an _Open left running may still be at it
};

// Writes a debug line to standard error when SANE_DEBUG_B58 is at least `level`.
void Debug(int level, const std::string& text);

}  // namespace b58::sane

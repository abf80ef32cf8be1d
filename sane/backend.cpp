#include "backend.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <utility>
#include <vector>

#ifndef B58_SANE_DEFAULT_DRIVER
#define B58_SANE_DEFAULT_DRIVER "libb58spi.so"
#endif

namespace b58::sane {
namespace {

// Lines the frontend may fall behind the scanner before the scan waits for it.
constexpr size_t kFrameBufferBytes = size_t{32} << 20;

// Custom gamma: the host library builds the driver's tables from tone controls, so the
// backend hands its own tables over on the way to SetParameters. The driver keeps the
// address until StopScan; one scan runs at a time in a process.
std::atomic<uint16_t*> g_customGamma{nullptr};
decltype(&::SetParameters) g_setParameters = nullptr;

int32_t B58_CALL SetParametersWithCustomGamma(ScanParameters* parameters) {
    if (uint16_t* gamma = g_customGamma.load(std::memory_order_acquire);
        gamma != nullptr && parameters != nullptr)
        parameters->GammaTable = gamma;
    return g_setParameters(parameters);
}

host::ScanDescription Describe(const ScanSettings& s) {
    host::ScanDescription d;
    d.mode = s.mode == ScanMode::Lineart ? host::ColorMode::Lineart
             : s.mode == ScanMode::Gray  ? host::ColorMode::Gray
                                         : host::ColorMode::Color;
    d.depth = s.depth;
    d.resolution = static_cast<unsigned>(s.resolution);
    d.source = static_cast<host::ScanSource>(s.source->driverSource);
    d.area = {s.leftMm, s.topMm, s.rightMm - s.leftMm, s.bottomMm - s.topMm};
    d.threshold = static_cast<uint16_t>(s.threshold);
    d.polarity = host::BilevelPolarity::OneIsBlack;  // SANE: 1 is black
    return d;
}

void Fill(SANE_Parameters& p, const host::ImageFormat& format) {
    p.format = format.kind == host::PixelKind::Rgb24 || format.kind == host::PixelKind::Rgb48
                   ? SANE_FRAME_RGB
                   : SANE_FRAME_GRAY;
    p.last_frame = SANE_TRUE;
    p.pixels_per_line = static_cast<SANE_Int>(format.width);
    p.lines = static_cast<SANE_Int>(format.height);
    p.bytes_per_line = static_cast<SANE_Int>(host::RowBytes(format));
    p.depth = format.kind == host::PixelKind::Bilevel ? 1 : format.kind == host::PixelKind::Rgb48 ? 16 : 8;
}

int DebugLevel() {
    static const int level = [] {
        const char* text = std::getenv("SANE_DEBUG_B58");
        return text != nullptr ? std::atoi(text) : 0;
    }();
    return level;
}

}  // namespace

void Debug(int level, const std::string& text) {
    if (DebugLevel() >= level) std::cerr << "[b58] " << text << std::endl;
}

struct Backend::OpenAttempt {
    std::mutex lock;
    bool done = false, abandoned = false;
    host::OpenResult result = host::OpenResult::NoScanner;
};

// The driver, once loaded, stays for the life of the process: its platform layer reads
// its configuration once per process and keeps the virtual scanner published, and what it
// keeps for the process would be lost by unloading it. A later sane_init finds it again.
static const host::DriverLibrary* LoadedDriver(const std::string& path) {
    static std::mutex lock;
    static auto* loaded = new std::vector<std::pair<std::string, host::DriverLibrary*>>;  // never freed
    std::lock_guard<std::mutex> hold(lock);
    for (const auto& [name, library] : *loaded) {
        if (name == path) return library;
    }
    std::string error;
    std::unique_ptr<host::DriverLibrary> library = host::DriverLibrary::Load(path, error);
    if (library == nullptr) {
        Debug(1, error);
        return nullptr;
    }
    if (!library->Complete()) {
        Debug(1, "the driver " + library->LoadedFile() + " lacks entry points");
        return nullptr;
    }
    loaded->emplace_back(path, library.release());
    return loaded->back().second;
}

// --- Backend ------------------------------------------------------------------------------

ScannerCapabilities Backend::Capabilities() {
    ScannerCapabilities c;
    for (unsigned dpi : host::DeliveredResolutions()) c.resolutions.push_back(static_cast<int>(dpi));
    const struct {
        const char* name;
        host::ScanSource source;
    } kSources[] = {
        {"Flatbed", host::ScanSource::Flatbed},
        {"Transparency Adapter type 1", host::ScanSource::Adapter1},
        {"Transparency Adapter type 2", host::ScanSource::Adapter2},
        {"Transparency Adapter type 4", host::ScanSource::Adapter4},
    };
    for (const auto& s : kSources) {
        const host::AreaMm limits = host::ScanLimits(s.source);
        c.sources.push_back({s.name, static_cast<uint8_t>(s.source), limits.width, limits.height});
    }
    return c;
}

Backend::Backend(BackendConfig config) : config_(std::move(config)) {
    for (const std::string& problem : config_.problems) Debug(1, "b58.conf: " + problem);
    // The stand-in platform inside the driver reads these once, when it first needs them.
    setenv("B58_DEVICES", config_.DeviceList().c_str(), 1);
    if (!config_.firmwareDir.empty()) setenv("B58_WINDOWS_DIR", config_.firmwareDir.c_str(), 1);

    const std::string path = config_.driverPath.empty() ? B58_SANE_DEFAULT_DRIVER : config_.driverPath;
    library_ = LoadedDriver(path);
    if (library_ != nullptr) {
        driver_ = host::ResolveEntryPoints(*library_);
        Debug(2, "driver " + library_->LoadedFile());
    }
    thread_ = std::make_unique<DriverThread>();

    for (const ConfiguredDevice& device : config_.devices) {
        SANE_Device record{};
        record.name = device.name.c_str();
        record.vendor = "B58";
        record.model = device.entry.rfind("sim@", 0) == 0 ? "virtual scanner" : "USB scanner";
        record.type = "flatbed scanner";
        deviceRecords_.push_back(record);
    }
    for (const SANE_Device& record : deviceRecords_) deviceList_.push_back(&record);
    deviceList_.push_back(nullptr);
}

Backend::~Backend() {
    openHandle_.store(nullptr, std::memory_order_release);
    open_.reset();
    bool openRunning = false;
    if (lastAttempt_ != nullptr) {
        std::lock_guard<std::mutex> hold(lastAttempt_->lock);
        openRunning = !lastAttempt_->done;
    }
    if (openRunning) {
        // An _Open given up on still waits for another program's lock (for seconds); the
        // frontend is leaving and should not wait for it. The thread is left to the end of
        // the process (the driver stays loaded anyway).
        Debug(2, "exit: an open of the scanner is still waiting; left to the process's end");
        static_cast<void>(thread_.release());
        return;
    }
    thread_.reset();
}

const SANE_Device** Backend::Devices() {
    // Configured devices only: listing never opens (or waits for) a scanner.
    return library_ != nullptr ? deviceList_.data() : &deviceList_.back();
}

SANE_Status Backend::Open(const std::string& requested, Handle*& handle) {
    handle = nullptr;
    std::string name = requested.rfind("b58:", 0) == 0 ? requested.substr(4) : requested;
    if (name.empty() && !config_.devices.empty()) name = config_.devices.front().name;
    if (config_.Find(name) == nullptr) return SANE_STATUS_INVAL;
    if (library_ == nullptr) return SANE_STATUS_IO_ERROR;
    if (open_ != nullptr) return SANE_STATUS_DEVICE_BUSY;  // the driver serves one scanner per process

    // _Open waits for another program's lock longer than a frontend should; past the
    // time-out the attempt is left to finish on the driver thread, which closes the
    // device again should it open after all.
    auto attempt = std::make_shared<OpenAttempt>();
    lastAttempt_ = attempt;
    const host::DriverEntryPoints driver = driver_;
    std::future<void> job = thread_->Post([attempt, driver] {
        const host::OpenResult result = host::OpenScanner(driver);
        std::lock_guard<std::mutex> hold(attempt->lock);
        attempt->done = true;
        attempt->result = result;
        if (attempt->abandoned && result == host::OpenResult::Open) driver.close();
    });
    job.wait_for(std::chrono::milliseconds(config_.openTimeoutMs));
    host::OpenResult result;
    {
        std::lock_guard<std::mutex> hold(attempt->lock);
        if (!attempt->done) {
            attempt->abandoned = true;
            Debug(2, "open: the scanner did not answer in time; taken as busy");
            return SANE_STATUS_DEVICE_BUSY;
        }
        result = attempt->result;
    }
    if (result == host::OpenResult::InUse) return SANE_STATUS_DEVICE_BUSY;
    if (result == host::OpenResult::NoScanner) return SANE_STATUS_IO_ERROR;
    open_ = std::make_unique<Handle>(*this, name);
    handle = open_.get();
    openHandle_.store(handle, std::memory_order_release);
    return SANE_STATUS_GOOD;
}

void Backend::Close(Handle* handle) {
    if (!Owns(handle)) return;
    openHandle_.store(nullptr, std::memory_order_release);
    open_.reset();
}

// --- Handle -------------------------------------------------------------------------------

Handle::Handle(Backend& backend, std::string name)
    : backend_(backend), name_(std::move(name)), options_(Backend::Capabilities()) {}

Handle::~Handle() {
    Cancel();
    FinishScan();
    const host::DriverEntryPoints driver = backend_.Driver();
    backend_.Thread().Call([driver] { driver.close(); });
}

void Handle::FinishScan() {
    if (scanJob_.valid()) scanJob_.get();
    frame_.reset();
    state_.store(kIdle, std::memory_order_release);
}

bool Handle::ButtonPressed() {
    if (state_.load(std::memory_order_acquire) == kScanning && !frame_->Drained()) return false;
    const host::DriverEntryPoints driver = backend_.Driver();
    return backend_.Thread().Call([driver] {
        uint8_t key = 0;
        return driver.getKeyStatus(&key) != 0 && (key & 0x10) != 0;
    });
}

SANE_Status Handle::Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info) {
    const bool busy = state_.load(std::memory_order_acquire) == kScanning &&
                      !cancelled_.load(std::memory_order_acquire) && !frame_->Drained();
    const SANE_Status status =
        options_.Control(option, action, value, info, busy, [this] { return ButtonPressed(); });
    if (status == SANE_STATUS_GOOD && action != SANE_ACTION_GET_VALUE) optionsChanged_ = true;
    return status;
}

SANE_Status Handle::Parameters(SANE_Parameters& parameters) {
    parameters = SANE_Parameters{};
    const ScanSettings settings = options_.Settings();
    // The scan's own shape from sane_start on, until it is cancelled or the options change.
    if (state_.load(std::memory_order_acquire) == kScanning && !cancelled_.load(std::memory_order_acquire) &&
        !optionsChanged_) {
        Fill(parameters, format_);
        return SANE_STATUS_GOOD;
    }
    // Before the scan: the host library's plan gives the exact image it will deliver.
    host::PlannedScan plan;
    std::string error;
    parameters.format = settings.mode == ScanMode::Color ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
    parameters.last_frame = SANE_TRUE;
    parameters.depth = settings.depth;
    if (host::PlanScan(Describe(settings), plan, error)) {
        host::ImageFormat format;
        format.kind = plan.kind;
        format.width = plan.width;
        format.height = plan.height;
        Fill(parameters, format);
    }
    return SANE_STATUS_GOOD;
}

SANE_Status Handle::Start() {
    if (state_.load(std::memory_order_acquire) == kScanning) {
        if (!cancelled_.load(std::memory_order_acquire) && !frame_->Drained()) return SANE_STATUS_DEVICE_BUSY;
        FinishScan();
    }
    const ScanSettings settings = options_.Settings();
    const host::ScanDescription description = Describe(settings);
    host::PlannedScan plan;
    std::string error;
    if (!host::PlanScan(description, plan, error)) {
        Debug(1, "start: " + error);
        return SANE_STATUS_INVAL;
    }

    cancelled_.store(false, std::memory_order_release);
    scanCancel_.Reset();
    optionsChanged_ = false;
    gamma_ = settings.gamma;
    frame_ = std::make_shared<FrameBuffer>(kFrameBufferBytes, cancelled_);
    host::DriverEntryPoints driver = backend_.Driver();
    g_setParameters = driver.setParameters;
    driver.setParameters = SetParametersWithCustomGamma;
    std::shared_ptr<FrameBuffer> frame = frame_;
    uint16_t* gamma = gamma_.empty() ? nullptr : gamma_.data();
    scanJob_ = backend_.Thread().Post([this, frame, driver, description, gamma] {
        g_customGamma.store(gamma, std::memory_order_release);
        const host::ScanOutcome outcome = host::RunScan(driver, description, *frame, scanCancel_);
        g_customGamma.store(nullptr, std::memory_order_release);
        if (outcome.end == host::ScanEnd::Refused || outcome.end == host::ScanEnd::SinkFailed) {
            Debug(1, "scan: " + outcome.message);
            frame->Fail(SANE_STATUS_IO_ERROR);
        } else if (outcome.end == host::ScanEnd::Failed) {
            Debug(1, "scan: " + outcome.message);
        }
    });
    state_.store(kScanning, std::memory_order_release);
    const SANE_Status status = frame_->WaitForFormat(format_);
    if (status != SANE_STATUS_GOOD) FinishScan();
    return status;
}

SANE_Status Handle::Read(SANE_Byte* data, SANE_Int max, SANE_Int& length) {
    length = 0;
    if (state_.load(std::memory_order_acquire) != kScanning) {
        return cancelled_.load(std::memory_order_acquire) ? SANE_STATUS_CANCELLED : SANE_STATUS_INVAL;
    }
    return frame_->Read(data, max, length, !nonBlocking_);
}

void Handle::Cancel() noexcept {
    cancelled_.store(true, std::memory_order_release);
    scanCancel_.Request();
}

SANE_Status Handle::SetIoMode(bool nonBlocking) {
    if (state_.load(std::memory_order_acquire) != kScanning) return SANE_STATUS_INVAL;
    nonBlocking_ = nonBlocking;
    return SANE_STATUS_GOOD;
}

}  // namespace b58::sane

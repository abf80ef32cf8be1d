#include "platform/usbscan/usb_capture.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "platform/usbscan/usbmon_record.h"

namespace b58::usbscan {
namespace {

constexpr uint32_t kSnapLength = 256 * 1024;
constexpr uint16_t kBus = 1;

struct CaptureFile {
    std::mutex lock;
    std::FILE* file = nullptr;             // guarded by lock
    std::atomic<bool> active{false};       // a cheap check for the transfer paths
    std::atomic<uint64_t> nextId{0x1000};  // never 0
};

CaptureFile& Capture() {
    static CaptureFile* capture = new CaptureFile;  // never destroyed: workers may outlive main()
    return *capture;
}

void Stamp(UsbmonEvent* event) {
    using namespace std::chrono;
    auto now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    event->seconds = now / 1000000;
    event->microseconds = static_cast<int32_t>(now % 1000000);
}

void Write(UsbmonEvent event) {
    CaptureFile& capture = Capture();
    std::lock_guard<std::mutex> hold(capture.lock);
    if (capture.file == nullptr) return;
    Stamp(&event);  // under the lock, so records stay in time order
    std::vector<uint8_t> record = EncodePcapRecord(event, kSnapLength);
    std::fwrite(record.data(), 1, record.size(), capture.file);
    std::fflush(capture.file);  // a capture stays readable while it runs and after a crash
}

uint64_t NewId() {
    CaptureFile& capture = Capture();
    if (!capture.active.load(std::memory_order_acquire)) return 0;
    return capture.nextId.fetch_add(1, std::memory_order_relaxed);
}

uint8_t ControlEndpoint(const UsbSetup& setup) {
    return (setup.bmRequestType & kEndpointIn) ? kEndpointIn : 0;
}

}  // namespace

bool StartCapture(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        auto header = PcapFileHeader(kSnapLength);
        if (std::fwrite(header.data(), 1, header.size(), file) != header.size() || std::fflush(file) != 0) {
            std::fclose(file);
            file = nullptr;
        }
    }
    CaptureFile& capture = Capture();
    std::lock_guard<std::mutex> hold(capture.lock);
    if (capture.file != nullptr) std::fclose(capture.file);
    capture.file = file;
    capture.active.store(file != nullptr, std::memory_order_release);
    return file != nullptr;
}

void StopCapture() {
    CaptureFile& capture = Capture();
    std::lock_guard<std::mutex> hold(capture.lock);
    capture.active.store(false, std::memory_order_release);
    if (capture.file != nullptr) std::fclose(capture.file);
    capture.file = nullptr;
}

bool CaptureActive() {
    return Capture().active.load(std::memory_order_acquire);
}

uint64_t CaptureControlSubmit(uint8_t device, const UsbSetup& setup, const uint8_t* outData) {
    uint64_t id = NewId();
    if (id == 0) return 0;
    UsbmonEvent event;
    event.id = id;
    event.type = 'S';
    event.transferType = kTransferControl;
    event.endpoint = ControlEndpoint(setup);
    event.device = device;
    event.bus = kBus;
    event.setup = setup;
    event.status = kUrbInProgress;
    event.length = setup.wLength;
    if (event.endpoint == 0 && outData != nullptr) {
        event.data = outData;
        event.dataSize = setup.wLength;
    }
    Write(event);
    return id;
}

void CaptureControlComplete(uint64_t id, uint8_t device, const UsbSetup& setup, int32_t status,
                            const uint8_t* inData, uint32_t transferred) {
    if (id == 0) return;
    UsbmonEvent event;
    event.id = id;
    event.type = 'C';
    event.transferType = kTransferControl;
    event.endpoint = ControlEndpoint(setup);
    event.device = device;
    event.bus = kBus;
    event.status = status;
    event.length = transferred;
    if (event.endpoint != 0 && inData != nullptr) {
        event.data = inData;
        event.dataSize = transferred;
    }
    Write(event);
}

uint64_t CaptureBulkInSubmit(uint8_t device, uint8_t endpoint, uint32_t length) {
    uint64_t id = NewId();
    if (id == 0) return 0;
    UsbmonEvent event;
    event.id = id;
    event.type = 'S';
    event.transferType = kTransferBulk;
    event.endpoint = endpoint;
    event.device = device;
    event.bus = kBus;
    event.status = kUrbInProgress;
    event.length = length;
    Write(event);
    return id;
}

void CaptureBulkInComplete(uint64_t id, uint8_t device, uint8_t endpoint, int32_t status, const uint8_t* data,
                           uint32_t transferred) {
    if (id == 0) return;
    UsbmonEvent event;
    event.id = id;
    event.type = 'C';
    event.transferType = kTransferBulk;
    event.endpoint = endpoint;
    event.device = device;
    event.bus = kBus;
    event.status = status;
    event.length = transferred;
    event.data = data;
    event.dataSize = data != nullptr ? transferred : 0;
    Write(event);
}

}  // namespace b58::usbscan

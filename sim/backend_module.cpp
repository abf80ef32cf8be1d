// The virtual scanner as a backend module of the stand-in class driver (b58backend-sim.so).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/usbscan/backend_module.h"
#include "sim/virtual_scanner.h"

namespace b58::platform {
namespace {

std::atomic<double (*)()> hostTimeScale{nullptr};

double EnvironmentTimeScale() {
    const char* text = std::getenv("B58_TIME_SCALE");
    if (text == nullptr) return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    return (end != text && value >= 0.0) ? value : 1.0;
}

}  // namespace

// The model's device times follow the loading program's time scale.
double TimeScale() {
    if (auto scale = hostTimeScale.load(std::memory_order_acquire)) return scale();
    static const double fromEnvironment = EnvironmentTimeScale();
    return fromEnvironment;
}

void SetHostTimeScale(double (*scale)()) {
    hostTimeScale.store(scale, std::memory_order_release);
}

}  // namespace b58::platform

namespace {

void SetError(char* error, size_t errorSize, const std::string& message) {
    if (error != nullptr && errorSize > 0) std::snprintf(error, errorSize, "%s", message.c_str());
}

}  // namespace

extern "C" __attribute__((visibility("default"))) b58::usbscan::UsbBackend* b58_backend_module_create(
    const b58::usbscan::BackendModuleHost* host, const char* options, char* error, size_t errorSize) {
    if (host == nullptr || host->version != b58::usbscan::kBackendModuleVersion) {
        SetError(error, errorSize, "virtual scanner module: the class driver's interface version differs");
        return nullptr;
    }
    try {
        if (host->timeScale != nullptr) b58::platform::SetHostTimeScale(host->timeScale);
        std::string message;
        auto scanner = b58::sim::MakeVirtualScanner(options != nullptr ? options : "", &message);
        if (!scanner) SetError(error, errorSize, message);
        return scanner.release();
    } catch (const std::exception& e) {
        SetError(error, errorSize, std::string("virtual scanner module: ") + e.what());
    } catch (...) {
        SetError(error, errorSize, "virtual scanner module: failed");
    }
    return nullptr;
}

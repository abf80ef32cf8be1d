#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

double InitialScale() {
    const char* text = std::getenv("B58_TIME_SCALE");
    if (text == nullptr) return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    return (end != text && value >= 0.0) ? value : 1.0;
}

std::atomic<double>& Scale() {
    static std::atomic<double> scale{InitialScale()};
    return scale;
}

}  // namespace

void SetTimeScale(double scale) { Scale().store(scale < 0.0 ? 0.0 : scale, std::memory_order_release); }
double TimeScale() { return Scale().load(std::memory_order_acquire); }

uint32_t ScaledMilliseconds(uint32_t milliseconds) {
    if (milliseconds == INFINITE) return INFINITE;
    double scaled = static_cast<double>(milliseconds) * TimeScale();
    if (scaled >= static_cast<double>(INFINITE - 1)) return INFINITE - 1;
    return static_cast<uint32_t>(scaled);
}

}  // namespace b58::platform

void Sleep(DWORD milliseconds) {
    DWORD scaled = b58::platform::ScaledMilliseconds(milliseconds);
    if (scaled == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(scaled));
}

DWORD GetTickCount() {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

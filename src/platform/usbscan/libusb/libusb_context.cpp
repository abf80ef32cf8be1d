#include "platform/usbscan/libusb/libusb_context.h"

namespace b58::usbscan {

LibusbContext::LibusbContext() {
    initError_ = libusb_init(&context_);
    if (initError_ != 0) context_ = nullptr;
}

LibusbContext::~LibusbContext() {
    if (events_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        libusb_interrupt_event_handler(context_);
        events_.join();
    }
    if (context_ != nullptr) libusb_exit(context_);
}

void LibusbContext::StartEvents() {
    if (events_.joinable() || context_ == nullptr) return;
    events_ = std::thread([this] {
        while (!stopping_.load(std::memory_order_acquire)) {
            // The time-out only bounds a missed interrupt; completions wake it at once.
            timeval wait{0, 200000};
            libusb_handle_events_timeout_completed(context_, &wait, nullptr);
        }
    });
}

}  // namespace b58::usbscan

// A libusb context with the one thread that handles its events.
#pragma once

#include <libusb-1.0/libusb.h>

#include <atomic>
#include <thread>

namespace b58::usbscan {

class LibusbContext {
  public:
    LibusbContext();   // check Valid()
    ~LibusbContext();  // ends the event thread, then the context
    LibusbContext(const LibusbContext&) = delete;
    LibusbContext& operator=(const LibusbContext&) = delete;

    bool Valid() const { return context_ != nullptr; }
    int InitError() const { return initError_; }
    libusb_context* Get() const { return context_; }

    // Starts the event thread (once); transfers complete on it.
    void StartEvents();

  private:
    libusb_context* context_ = nullptr;
    int initError_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread events_;
};

}  // namespace b58::usbscan

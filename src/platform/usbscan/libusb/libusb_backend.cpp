#include "platform/usbscan/libusb/libusb_backend.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/usbscan/libusb/libusb_context.h"

namespace b58::usbscan {
namespace {

std::string Hex4(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFF);
    return text;
}

bool ParseNumber(const std::string& text, long low, long high, int* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || parsed < low || parsed > high) return false;
    *value = static_cast<int>(parsed);
    return true;
}

// Describes the device the options name, for messages.
std::string Describe(const LibusbDeviceChoice& choice) {
    if (choice.bus >= 0)
        return "bus " + std::to_string(choice.bus) + " address " + std::to_string(choice.address);
    return "vid=" + Hex4(choice.vendorId) + ",pid=" + Hex4(choice.productId);
}

class LibusbBackend final : public UsbBackend {
  public:
    LibusbBackend(std::unique_ptr<LibusbContext> context, libusb_device_handle* handle, int interfaceNumber,
                  uint8_t endpoint, uint16_t packetSize, unsigned timeoutMs)
        : context_(std::move(context)),
          handle_(handle),
          interface_(interfaceNumber),
          endpoint_(endpoint),
          packetSize_(packetSize == 0 ? 64 : packetSize),
          timeoutMs_(timeoutMs),
          transfer_(libusb_alloc_transfer(0)) {
        context_->StartEvents();
    }

    ~LibusbBackend() override {
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (inFlight_) libusb_cancel_transfer(transfer_);
            done_.wait(hold, [this] { return !inFlight_; });
        }
        libusb_free_transfer(transfer_);
        libusb_release_interface(handle_, interface_);
        libusb_close(handle_);
        // context_ ends its event thread last.
    }

    bool ControlOut(const UsbSetup& setup, const uint8_t* data) override {
        return Control(setup, const_cast<uint8_t*>(data), nullptr);
    }

    bool ControlIn(const UsbSetup& setup, uint8_t* data, uint32_t* transferred) override {
        return Control(setup, data, transferred);
    }

    // A read of a length that is not a whole number of packets goes through a buffer rounded
    // up to whole packets: a device that has more to send fills the last packet, and a
    // transfer shorter than that packet would fail with an overflow. The driver asks for such
    // a length only for the last block of a window, the rest of whose stream it does not
    // read (it stops the scan next), so what the read did not ask for is dropped: kept for the
    // next read it would land in the next window's image.
    BulkStatus BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) override {
        *transferred = 0;
        if (gone_.load(std::memory_order_acquire)) return BulkStatus::Failed;
        uint8_t* target = data;
        const uint32_t room = length;
        const bool whole = room % packetSize_ == 0;
        if (!whole) bounce_.resize((room / packetSize_ + 1) * packetSize_);
        uint8_t* buffer = whole ? target : bounce_.data();
        const uint32_t size = whole ? room : static_cast<uint32_t>(bounce_.size());

        std::unique_lock<std::mutex> hold(lock_);
        // No time-out: the device sends when it has image data; CancelBulk ends the wait.
        libusb_fill_bulk_transfer(transfer_, handle_, endpoint_, buffer, static_cast<int>(size), &Completed,
                                  this, 0);
        int submitted = libusb_submit_transfer(transfer_);
        if (submitted != 0) {
            NoteError(submitted);
            return BulkStatus::Failed;
        }
        inFlight_ = true;
        done_.wait(hold, [this] { return !inFlight_; });

        const uint32_t got = static_cast<uint32_t>(std::max(transfer_->actual_length, 0));
        if (!whole) {
            const uint32_t taken = std::min(got, room);
            std::memcpy(target, buffer, taken);
            *transferred = taken;
        } else {
            *transferred = got;
        }
        switch (transfer_->status) {
            case LIBUSB_TRANSFER_COMPLETED:
                return BulkStatus::Ok;
            case LIBUSB_TRANSFER_CANCELLED:
                return BulkStatus::Cancelled;
            case LIBUSB_TRANSFER_NO_DEVICE:
                gone_.store(true, std::memory_order_release);
                return BulkStatus::Failed;
            default:  // stall, overflow, error
                return BulkStatus::Failed;
        }
    }

    void CancelBulk() override {
        std::lock_guard<std::mutex> hold(lock_);
        if (inFlight_) libusb_cancel_transfer(transfer_);
    }

    bool Gone() const override { return gone_.load(std::memory_order_acquire); }

  private:
    // One control transfer, asynchronous on the context's event thread like the bulk reads
    // (so that every hand-over between the threads goes through our own lock), with the
    // finite time-out. `transferred` null: host to device.
    bool Control(const UsbSetup& setup, uint8_t* data, uint32_t* transferred) {
        if (gone_.load(std::memory_order_acquire)) return false;
        struct Pending {
            std::mutex lock;
            std::condition_variable done;
            bool finished = false;
        } pending;
        std::vector<uint8_t> buffer(LIBUSB_CONTROL_SETUP_SIZE + setup.wLength);
        libusb_fill_control_setup(buffer.data(), setup.bmRequestType, setup.bRequest, setup.wValue,
                                  setup.wIndex, setup.wLength);
        if (transferred == nullptr && setup.wLength > 0) {
            std::memcpy(buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, data, setup.wLength);
        }
        libusb_transfer* transfer = libusb_alloc_transfer(0);
        if (transfer == nullptr) return false;
        libusb_fill_control_transfer(
            transfer, handle_, buffer.data(),
            [](libusb_transfer* done) {
                auto* waiting = static_cast<Pending*>(done->user_data);
                std::lock_guard<std::mutex> hold(waiting->lock);
                waiting->finished = true;
                waiting->done.notify_all();
            },
            &pending, timeoutMs_);
        int submitted = libusb_submit_transfer(transfer);
        if (submitted != 0) {
            libusb_free_transfer(transfer);
            NoteError(submitted);
            return false;
        }
        {
            std::unique_lock<std::mutex> hold(pending.lock);
            pending.done.wait(hold, [&] { return pending.finished; });
        }
        const libusb_transfer_status status = transfer->status;
        const int length = transfer->actual_length;
        libusb_free_transfer(transfer);
        if (status == LIBUSB_TRANSFER_NO_DEVICE) gone_.store(true, std::memory_order_release);
        if (status != LIBUSB_TRANSFER_COMPLETED) return false;
        if (transferred == nullptr) return length == setup.wLength;
        std::memcpy(data, buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, static_cast<size_t>(length));
        *transferred = static_cast<uint32_t>(length);
        return true;
    }

    static void LIBUSB_CALL Completed(libusb_transfer* transfer) {
        auto* self = static_cast<LibusbBackend*>(transfer->user_data);
        {
            std::lock_guard<std::mutex> hold(self->lock_);
            self->inFlight_ = false;
        }
        self->done_.notify_all();
    }

    void NoteError(int result) {
        if (result == LIBUSB_ERROR_NO_DEVICE) gone_.store(true, std::memory_order_release);
    }

    const std::unique_ptr<LibusbContext> context_;
    libusb_device_handle* const handle_;
    const int interface_;
    const uint8_t endpoint_;
    const uint16_t packetSize_;
    const unsigned timeoutMs_;
    libusb_transfer* const transfer_;
    std::atomic<bool> gone_{false};

    std::mutex lock_;
    std::condition_variable done_;
    bool inFlight_ = false;  // guarded by lock_

    // The rounded-up transfer's buffer (BulkRead's thread only).
    std::vector<uint8_t> bounce_;
};

bool Matches(libusb_device* device, const LibusbDeviceChoice& choice) {
    if (choice.bus >= 0) {
        return libusb_get_bus_number(device) == choice.bus &&
               libusb_get_device_address(device) == choice.address;
    }
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0) return false;
    return descriptor.idVendor == choice.vendorId && descriptor.idProduct == choice.productId;
}

// The first interface with a bulk IN endpoint: its number, the endpoint and its packet size.
bool FindImageEndpoint(libusb_device* device, int* interfaceNumber, uint8_t* endpoint, uint16_t* packetSize) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) return false;
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        if (config->interface[i].num_altsetting < 1) continue;
        const libusb_interface_descriptor& setting = config->interface[i].altsetting[0];
        for (int e = 0; e < setting.bNumEndpoints && !found; ++e) {
            const libusb_endpoint_descriptor& candidate = setting.endpoint[e];
            if ((candidate.bmAttributes & 0x03) == LIBUSB_TRANSFER_TYPE_BULK &&
                (candidate.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0) {
                *interfaceNumber = setting.bInterfaceNumber;
                *endpoint = candidate.bEndpointAddress;
                *packetSize = static_cast<uint16_t>(candidate.wMaxPacketSize & 0x7FF);
                found = true;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

}  // namespace

bool ParseLibusbOptions(const std::string& options, LibusbDeviceChoice* choice, std::string* error) {
    LibusbDeviceChoice parsed;
    size_t start = 0;
    while (start <= options.size()) {
        size_t comma = options.find(',', start);
        std::string item =
            options.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? options.size() + 1 : comma + 1;
        if (item.empty()) continue;
        size_t equals = item.find('=');
        std::string key = item.substr(0, equals);
        std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
        int number = 0;
        bool ok = false;
        if (key == "vid")
            ok = ParseNumber(value, 0, 0xFFFF, &parsed.vendorId);
        else if (key == "pid")
            ok = ParseNumber(value, 0, 0xFFFF, &parsed.productId);
        else if (key == "bus")
            ok = ParseNumber(value, 1, 255, &parsed.bus);
        else if (key == "address")
            ok = ParseNumber(value, 1, 127, &parsed.address);
        else if (key == "timeout_ms") {
            ok = ParseNumber(value, 1, 600000, &number);
            parsed.timeoutMs = static_cast<unsigned>(number);
        } else {
            *error = "unknown option \"" + key + "\"";
            return false;
        }
        if (!ok) {
            *error = "bad value in \"" + item + "\"";
            return false;
        }
    }
    const bool byId = parsed.vendorId >= 0 && parsed.productId >= 0;
    const bool byPlace = parsed.bus >= 0 && parsed.address >= 0;
    const bool anyId = parsed.vendorId >= 0 || parsed.productId >= 0;
    const bool anyPlace = parsed.bus >= 0 || parsed.address >= 0;
    if (byId == byPlace || (byId && anyPlace) || (byPlace && anyId)) {
        *error = "give either vid= and pid=, or bus= and address=";
        return false;
    }
    *choice = parsed;
    return true;
}

std::shared_ptr<UsbBackend> CreateLibusbBackend(const std::string& options, std::string* error) {
    std::string problem;
    LibusbDeviceChoice choice;
    if (!ParseLibusbOptions(options, &choice, &problem)) {
        if (error != nullptr) *error = problem;
        return nullptr;
    }
    auto fail = [error](const std::string& message) {
        if (error != nullptr) *error = message;
        return std::shared_ptr<UsbBackend>();
    };

    auto context = std::make_unique<LibusbContext>();
    if (!context->Valid()) return fail(std::string("libusb: ") + libusb_error_name(context->InitError()));

    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context->Get(), &list);
    if (count < 0) return fail(std::string("libusb: ") + libusb_error_name(static_cast<int>(count)));
    libusb_device* device = nullptr;
    for (ssize_t i = 0; i < count && device == nullptr; ++i) {
        if (Matches(list[i], choice)) device = libusb_ref_device(list[i]);
    }
    libusb_free_device_list(list, 1);
    if (device == nullptr) return fail("no USB device with " + Describe(choice));

    int interfaceNumber = 0;
    uint8_t endpoint = 0;
    uint16_t packetSize = 0;
    if (!FindImageEndpoint(device, &interfaceNumber, &endpoint, &packetSize)) {
        libusb_unref_device(device);
        return fail("the USB device " + Describe(choice) + " has no bulk IN endpoint");
    }
    libusb_device_handle* handle = nullptr;
    int opened = libusb_open(device, &handle);
    libusb_unref_device(device);
    if (opened == LIBUSB_ERROR_ACCESS) {
        return fail("no permission to open the USB device " + Describe(choice) + " (see the udev rule)");
    }
    if (opened != 0)
        return fail("cannot open the USB device " + Describe(choice) + ": " + libusb_error_name(opened));

    libusb_set_auto_detach_kernel_driver(handle, 1);  // not supported everywhere: then nothing to detach
    int claimed = libusb_claim_interface(handle, interfaceNumber);
    if (claimed != 0) {
        libusb_close(handle);
        if (claimed == LIBUSB_ERROR_BUSY)
            return fail("the USB device " + Describe(choice) + " is in use by another program");
        return fail("cannot claim the USB device " + Describe(choice) + ": " + libusb_error_name(claimed));
    }
    return std::make_shared<LibusbBackend>(std::move(context), handle, interfaceNumber, endpoint, packetSize,
                                           choice.timeoutMs);
}

}  // namespace b58::usbscan

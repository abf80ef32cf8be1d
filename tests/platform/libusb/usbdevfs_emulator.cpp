#include "usbdevfs_emulator.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace b58::test {

struct UsbdevfsEmulator::Urb {
    UMockdevIoctlData* record = nullptr;  // the client's struct usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;  // its data buffer
    uint8_t type = 0;
    uint8_t endpoint = 0;
    unsigned flags = 0;
    int length = 0;
    // The outcome, set before the URB goes to the done list.
    int status = 0;
    int actual = 0;
    std::vector<uint8_t> data;  // bytes to put into the buffer (from offset `dataOffset`)
    size_t dataOffset = 0;

    ~Urb() {
        if (buffer != nullptr) g_object_unref(buffer);
        if (record != nullptr) g_object_unref(record);
    }
};

namespace {

std::vector<uint8_t> Descriptors(uint16_t packetSize) {
    const uint8_t lo = static_cast<uint8_t>(packetSize & 0xFF), hi = static_cast<uint8_t>(packetSize >> 8);
    return {
        // device: USB 2.0, vendor class, 64-byte control packets, one configuration
        18, 1, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, static_cast<uint8_t>(UsbdevfsEmulator::kVendor & 0xFF),
        static_cast<uint8_t>(UsbdevfsEmulator::kVendor >> 8),
        static_cast<uint8_t>(UsbdevfsEmulator::kProduct & 0xFF),
        static_cast<uint8_t>(UsbdevfsEmulator::kProduct >> 8), 0x00, 0x01, 0, 0, 0, 1,
        // configuration 1: one interface, three endpoints
        9, 2, 9 + 9 + 3 * 7, 0, 1, 1, 0, 0xC0, 50, 9, 4, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0, 7, 5, 0x81, 0x02, lo,
        hi, 0,                        // bulk IN: the image stream
        7, 5, 0x02, 0x02, lo, hi, 0,  // bulk OUT
        7, 5, 0x83, 0x03, 8, 0, 16,   // interrupt IN
    };
}

usbscan::UsbSetup SetupOf(const uint8_t* bytes) {
    usbscan::UsbSetup setup;
    setup.bmRequestType = bytes[0];
    setup.bRequest = bytes[1];
    setup.wValue = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
    setup.wIndex = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
    setup.wLength = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
    return setup;
}

}  // namespace

// One testbed for the program: once it exists, umockdev serves every path under /dev and
// /sys from its folder, so POSIX shared memory (/dev/shm, the driver's named mutex) needs a
// folder there too.
static UMockdevTestbed* SharedTestbed() {
    static UMockdevTestbed* testbed = [] {
        UMockdevTestbed* created = umockdev_testbed_new();
        if (const char* root = std::getenv("UMOCKDEV_DIR")) {
            std::filesystem::create_directories(std::filesystem::path(root) / "dev" / "shm");
        }
        return created;
    }();
    return testbed;
}

bool UsbdevfsEmulator::Active() {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload.so") == nullptr) return false;
    return SharedTestbed() != nullptr;
}

UsbdevfsEmulator::UsbdevfsEmulator(std::shared_ptr<usbscan::UsbBackend> device, int address,
                                   uint16_t packetSize)
    : device_(std::move(device)), address_(address), packetSize_(packetSize) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", address_);
    devnode_ = node;
    // The device as udev and sysfs describe it, with its node (the "N:" line).
    const std::string devnum = std::to_string(address_);
    std::string record =
        "P: /devices/1-" + devnum + "\nN: " + devnode_.substr(5) + "\nE: DEVNAME=" + devnode_ +
        "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: BUSNUM=001\nE: DEVNUM=" + (node + 15) +
        "\nA: busnum=1\nA: devnum=" + devnum +
        "\nA: speed=480\nA: bConfigurationValue=1\nA: dev=189:" + std::to_string(address_ - 1) +
        "\nH: descriptors=";
    char hex[3];
    for (uint8_t byte : Descriptors(packetSize_)) {
        std::snprintf(hex, sizeof hex, "%02X", byte);
        record += hex;
    }
    record += "\n";
    sysfsPath_ = "/sys/devices/1-" + devnum;
    testbed_ = SharedTestbed();
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        std::fprintf(stderr, "umockdev: cannot add the device: %s\n", error ? error->message : "?");
        g_clear_error(&error);
    }

    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbdevfsEmulator::HandleIoctl), this);
    if (!umockdev_testbed_attach_ioctl(testbed_, devnode_.c_str(), handler_, &error)) {
        std::fprintf(stderr, "umockdev: cannot attach %s: %s\n", devnode_.c_str(),
                     error ? error->message : "?");
        if (error) g_error_free(error);
    }
    bulkWorker_ = std::thread([this] { ServeBulk(); });
}

UsbdevfsEmulator::~UsbdevfsEmulator() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    device_->CancelBulk();
    bulkWorker_.join();
    umockdev_testbed_detach_ioctl(testbed_, devnode_.c_str(), nullptr);
    g_object_unref(handler_);
    umockdev_testbed_remove_device(testbed_, sysfsPath_.c_str());
}

std::string UsbdevfsEmulator::ByAddress() const {
    return "bus=1,address=" + std::to_string(address_);
}

void UsbdevfsEmulator::SetClaimedElsewhere(bool claimed) {
    std::lock_guard<std::mutex> hold(lock_);
    claimedElsewhere_ = claimed;
}

void UsbdevfsEmulator::Unplug() {
    bool reading = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        gone_ = true;
        reading = bulkActive_ != nullptr;
        for (auto& urb : bulkQueue_) {
            urb->status = -ESHUTDOWN;
            done_.push_back(urb);
        }
        bulkQueue_.clear();
    }
    changed_.notify_all();
    if (reading) device_->CancelBulk();
}

void UsbdevfsEmulator::UnplugAfterUrbs(int count) {
    std::lock_guard<std::mutex> hold(lock_);
    unplugAt_ = submitted_ + count;
}

int UsbdevfsEmulator::UrbsSubmitted() const {
    std::lock_guard<std::mutex> hold(lock_);
    return submitted_;
}

std::vector<int> UsbdevfsEmulator::BulkUrbLengths() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bulkLengths_;
}

int UsbdevfsEmulator::Discards() const {
    std::lock_guard<std::mutex> hold(lock_);
    return discards_;
}

int UsbdevfsEmulator::HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    return static_cast<UsbdevfsEmulator*>(self)->Handle(client) ? TRUE : FALSE;
}

void UsbdevfsEmulator::Finish(std::shared_ptr<Urb> urb) {
    std::lock_guard<std::mutex> hold(lock_);
    done_.push_back(std::move(urb));
}

// Runs on umockdev's thread, one ioctl at a time.
bool UsbdevfsEmulator::Handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    bool unplugNow = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (request == USBDEVFS_SUBMITURB && !gone_ && ++submitted_ == unplugAt_) unplugNow = true;
    }
    if (unplugNow) Unplug();
    {
        // Gone: as the kernel does with USBDEVFS_CAP_REAP_AFTER_DISCONNECT, the URBs the
        // disconnect ended can still be reaped; everything else fails.
        std::lock_guard<std::mutex> hold(lock_);
        const bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
        if (gone_ && !(reap && !done_.empty())) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            // No scatter-gather: libusb splits long bulk reads into URBs of 16 KiB.
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
            const uint32_t none = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps->data, &none, sizeof none);
            g_object_unref(caps);
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: {
            std::lock_guard<std::mutex> hold(lock_);
            umockdev_ioctl_client_complete(client, claimedElsewhere_ ? -1 : 0, claimedElsewhere_ ? EBUSY : 0);
            return true;
        }
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_GETDRIVER:
            umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
            return true;
        case USBDEVFS_SUBMITURB: {
            auto urb = std::make_shared<Urb>();
            urb->record = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
            auto* record = reinterpret_cast<usbdevfs_urb*>(urb->record->data);
            urb->type = record->type;
            urb->endpoint = record->endpoint;
            urb->flags = record->flags;
            urb->length = record->buffer_length;
            urb->buffer = umockdev_ioctl_data_resolve(urb->record, offsetof(usbdevfs_urb, buffer),
                                                      static_cast<gsize>(record->buffer_length), nullptr);
            if (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->length >= 8) {
                const usbscan::UsbSetup setup = SetupOf(urb->buffer->data);
                urb->dataOffset = 8;
                bool ok = false;
                if ((setup.bmRequestType & 0x80) != 0) {
                    urb->data.assign(setup.wLength, 0);
                    uint32_t got = 0;
                    ok = device_->ControlIn(setup, urb->data.data(), &got);
                    urb->data.resize(ok ? got : 0);
                    urb->actual = static_cast<int>(urb->data.size());
                } else {
                    ok = device_->ControlOut(setup, urb->buffer->data + 8);
                    urb->actual = ok ? setup.wLength : 0;
                }
                urb->status = ok ? 0 : -EPIPE;
                Finish(std::move(urb));
            } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == 0x81) {
                std::lock_guard<std::mutex> hold(lock_);
                bulkLengths_.push_back(urb->length);
                bulkQueue_.push_back(std::move(urb));
                changed_.notify_all();
            } else {
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                return true;
            }
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        case USBDEVFS_DISCARDURB: {
            uint64_t address = 0;
            std::memcpy(&address, arg->data,
                        std::min<size_t>(sizeof address, static_cast<size_t>(arg->data_len)));
            std::unique_lock<std::mutex> hold(lock_);
            ++discards_;
            for (auto it = bulkQueue_.begin(); it != bulkQueue_.end(); ++it) {
                if ((*it)->record->client_addr == address) {
                    (*it)->status = -ENOENT;
                    done_.push_back(*it);
                    bulkQueue_.erase(it);
                    umockdev_ioctl_client_complete(client, 0, 0);
                    return true;
                }
            }
            const bool active = bulkActive_ != nullptr && bulkActive_->record->client_addr == address;
            hold.unlock();
            if (active) device_->CancelBulk();
            umockdev_ioctl_client_complete(client, active ? 0 : -1, active ? 0 : EINVAL);
            return true;
        }
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            std::shared_ptr<Urb> urb;
            {
                std::lock_guard<std::mutex> hold(lock_);
                if (!done_.empty()) {
                    urb = done_.front();
                    done_.pop_front();
                }
            }
            if (!urb) {
                umockdev_ioctl_client_complete(client, -1, EAGAIN);
                return true;
            }
            auto* record = reinterpret_cast<usbdevfs_urb*>(urb->record->data);
            record->status = urb->status;
            record->actual_length = urb->actual;
            if (!urb->data.empty())
                std::memcpy(urb->buffer->data + urb->dataOffset, urb->data.data(), urb->data.size());
            UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
            umockdev_ioctl_data_set_ptr(slot, 0, urb->record);
            g_object_unref(slot);
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return true;
    }
}

// Serves the bulk URBs in order from the device's image stream. As the kernel does: a URB
// that ends short or failed cancels the URBs queued after it that continue the same transfer
// (USBDEVFS_URB_BULK_CONTINUATION), before any of them can take data of the stream; a short
// URB that was not to be short (USBDEVFS_URB_SHORT_NOT_OK) ends with -EREMOTEIO.
void UsbdevfsEmulator::ServeBulk() {
    bool transferEnded = false;
    for (;;) {
        std::shared_ptr<Urb> urb;
        {
            std::unique_lock<std::mutex> hold(lock_);
            changed_.wait(hold, [this] { return stopping_ || (!bulkQueue_.empty() && !gone_); });
            if (stopping_) return;
            urb = bulkQueue_.front();
            bulkQueue_.pop_front();
            if (transferEnded && (urb->flags & USBDEVFS_URB_BULK_CONTINUATION) != 0) {
                urb->status = -ECONNRESET;
                done_.push_back(std::move(urb));
                continue;
            }
            bulkActive_ = urb;
        }
        // The device sends whole packets: a URB that is not a whole number of them and meets
        // a full last packet overflows (the packet is lost, as on the wire).
        const uint32_t length = static_cast<uint32_t>(urb->length);
        const uint32_t whole = (length + packetSize_ - 1) / packetSize_ * packetSize_;
        urb->data.assign(whole, 0);
        uint32_t got = 0;
        usbscan::BulkStatus status = device_->BulkRead(urb->data.data(), whole, &got);
        urb->status = status == usbscan::BulkStatus::Ok          ? 0
                      : status == usbscan::BulkStatus::Cancelled ? -ENOENT
                                                                 : -EPIPE;
        if (got > length) {
            got = length / packetSize_ * packetSize_;
            urb->status = -EOVERFLOW;
        }
        urb->data.resize(got);
        urb->actual = static_cast<int>(got);
        if (urb->status == 0 && urb->actual < urb->length && (urb->flags & USBDEVFS_URB_SHORT_NOT_OK) != 0) {
            urb->status = -EREMOTEIO;
        }
        transferEnded = urb->status != 0;
        std::lock_guard<std::mutex> hold(lock_);
        if (gone_ && urb->status != 0 && urb->status != -EREMOTEIO) urb->status = -ESHUTDOWN;
        bulkActive_.reset();
        done_.push_back(std::move(urb));
    }
}

}  // namespace b58::test

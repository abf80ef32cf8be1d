// Whole scans through the driver's entry points with the virtual scanner behind libusb and
// emulated usbdevfs, against the same scanner published directly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "driver_session.h"
#include "platform/usbscan/libusb/libusb_backend.h"
#include "usbdevfs_emulator.h"

namespace b58 {
namespace {

// What the class driver got from a backend: the control transfers (setup and data) in
// order, and the bulk stream as one sequence of bytes.
class TransferLog final : public usbscan::UsbBackend {
  public:
    explicit TransferLog(std::shared_ptr<usbscan::UsbBackend> device) : device_(std::move(device)) {}

    bool ControlOut(const usbscan::UsbSetup& setup, const uint8_t* data) override {
        const bool ok = device_->ControlOut(setup, data);
        Control(setup, data, ok ? setup.wLength : 0, ok);
        return ok;
    }
    bool ControlIn(const usbscan::UsbSetup& setup, uint8_t* data, uint32_t* transferred) override {
        const bool ok = device_->ControlIn(setup, data, transferred);
        Control(setup, data, ok ? *transferred : 0, ok);
        return ok;
    }
    usbscan::BulkStatus BulkRead(uint8_t* data, uint32_t length, uint32_t* transferred) override {
        const usbscan::BulkStatus status = device_->BulkRead(data, length, transferred);
        std::lock_guard<std::mutex> hold(lock_);
        bulk_.insert(bulk_.end(), data, data + *transferred);
        return status;
    }
    void CancelBulk() override { device_->CancelBulk(); }

    std::vector<uint8_t> ControlBytes() const {
        std::lock_guard<std::mutex> hold(lock_);
        return control_;
    }
    std::vector<uint8_t> BulkBytes() const {
        std::lock_guard<std::mutex> hold(lock_);
        return bulk_;
    }

  private:
    void Control(const usbscan::UsbSetup& setup, const uint8_t* data, uint32_t length, bool ok) {
        std::lock_guard<std::mutex> hold(lock_);
        const uint8_t head[] = {setup.bmRequestType,   setup.bRequest,
                                uint8_t(setup.wValue), uint8_t(setup.wValue >> 8),
                                uint8_t(setup.wIndex), uint8_t(setup.wIndex >> 8),
                                uint8_t(length),       uint8_t(ok)};
        control_.insert(control_.end(), head, head + sizeof head);
        control_.insert(control_.end(), data, data + length);
    }

    std::shared_ptr<usbscan::UsbBackend> device_;
    mutable std::mutex lock_;
    std::vector<uint8_t> control_;
    std::vector<uint8_t> bulk_;
};

class LibusbScan : public test::DriverSession {
  protected:
    void SetUp() override {
        DriverSession::SetUp();
        ASSERT_TRUE(test::UsbdevfsEmulator::Active())
            << "run under umockdev (LD_PRELOAD=libumockdev-preload.so.0)";
    }

    std::shared_ptr<usbscan::UsbBackend> OverLibusb(test::UsbdevfsEmulator& emulated) {
        std::string error;
        auto device = usbscan::CreateLibusbBackend(emulated.ByAddress(), &error);
        EXPECT_NE(device, nullptr) << error;
        return device;
    }
};

TEST_F(LibusbScan, EveryModeGivesTheSameImageAsTheModelPublishedDirectly) {
    const test::Request requests[] = {
        {ModeLineArt, 150, 0}, {ModeGray, 300, 0},    {ModeColor24, 150, 0},
        {ModeColor48, 100, 0}, {ModeColor48, 150, 1}, {ModeColor24, 600, 0},
    };
    for (const test::Request& request : requests) {
        SCOPED_TRACE("mode " + std::to_string(request.mode) + " at " + std::to_string(request.dpi) +
                     " dpi, source " + std::to_string(request.source));
        auto directLog = std::make_shared<TransferLog>(Model());
        const test::Scanned direct = Scan(directLog, request);
        test::UsbdevfsEmulator emulated(Model(), 4);
        auto emulatedLog = std::make_shared<TransferLog>(OverLibusb(emulated));
        const test::Scanned viaLibusb = Scan(emulatedLog, request);
        ASSERT_TRUE(direct.opened && viaLibusb.opened);
        EXPECT_GT(direct.imageLines, 0u);
        EXPECT_EQ(direct.delivered, direct.imageLines);
        EXPECT_EQ(viaLibusb.delivered, direct.delivered);
        // The same commands went to the scanner and the same image stream came back.
        EXPECT_TRUE(emulatedLog->ControlBytes() == directLog->ControlBytes());
        EXPECT_GT(directLog->BulkBytes().size(), 0u);
        EXPECT_TRUE(emulatedLog->BulkBytes() == directLog->BulkBytes());
        // The driver makes the same image of the same stream, but for differences of a few
        // codes near the sensor's chip joins that two direct scans of the same stream show
        // as well.
        ASSERT_EQ(viaLibusb.pixels.size(), direct.pixels.size());
        int largest = 0;
        for (size_t i = 0; i < direct.pixels.size(); ++i)
            largest = std::max(largest, std::abs(viaLibusb.pixels[i] - direct.pixels[i]));
        EXPECT_LE(largest, 4);
    }
}

TEST_F(LibusbScan, UnplugAtEachPhaseEndsTheScanAsAFailure) {
    const test::Request request{ModeColor24, 150, 0};
    int total = 0;
    {
        test::UsbdevfsEmulator emulated(Model(), 5);
        const test::Scanned clean = Scan(OverLibusb(emulated), request);
        ASSERT_GT(clean.imageLines, 0u);
        ASSERT_EQ(clean.delivered, clean.imageLines);
        total = emulated.UrbsSubmitted();
    }
    // Early in _Open, in the calibration, and late in the image stream.
    for (int after : {1, total / 3, total - 5}) {
        SCOPED_TRACE("unplugged at URB " + std::to_string(after) + " of " + std::to_string(total));
        test::UsbdevfsEmulator emulated(Model(), 5);
        emulated.UnplugAfterUrbs(after);
        const test::Scanned scanned = Scan(OverLibusb(emulated), request);
        EXPECT_TRUE(!scanned.opened || scanned.imageLines == 0 || scanned.delivered < scanned.imageLines);
    }
}

}  // namespace
}  // namespace b58

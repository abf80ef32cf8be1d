// Whole scans through the driver's entry points with the virtual scanner behind libusb and
// emulated usbdevfs, against the same scanner published directly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "api/controller_fixture.h"
#include "platform/usbscan/libusb/libusb_backend.h"
#include "sim/firmware_image.h"
#include "sim/virtual_scanner.h"
#include "usbdevfs_emulator.h"

namespace b58 {
namespace {

// This run's named objects (the driver's device mutex) stay apart from other programs'.
class IpcNamespace : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("B58_IPC_NAMESPACE", ("b58libusbtest-" + std::to_string(getpid())).c_str(), 0);
    }
};
const ::testing::Environment* const kIpcNamespace = ::testing::AddGlobalTestEnvironment(new IpcNamespace);

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

struct Scanned {
    bool opened = false;
    uint32_t imageLines = 0;
    uint32_t delivered = 0;
    std::vector<uint8_t> pixels;
};

struct Request {
    uint16_t mode;
    uint16_t dpi;
    uint8_t source;
};

class LibusbScan : public testing::ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        ASSERT_TRUE(test::UsbdevfsEmulator::Active())
            << "run under umockdev (LD_PRELOAD=libumockdev-preload.so.0)";
        platform::SetTimeScale(0.02);
        const auto image = sim::BuildFirmwareImage();
        windows_.Write("system32/drivers/b58fw.usb", std::string(image.begin(), image.end()));
        usbscan::WithdrawAll();
    }

    static std::shared_ptr<usbscan::UsbBackend> Model() {
        std::string error;
        auto scanner = sim::CreateVirtualScanner("seed=5,rate=0,start_ms=0,step_us=0", &error);
        EXPECT_NE(scanner, nullptr) << error;
        return scanner;
    }

    // _Open, SetParameters, StartScan, reads of 100 lines until the end, StopScan, _Close.
    Scanned Scan(std::shared_ptr<usbscan::UsbBackend> backend, const Request& request) {
        Scanned out;
        FreeScanMemory();
        ResetDriverState();  // each scan calibrates afresh, as in a new process
        usbscan::Publish({0, testing::kScannerPath, std::move(backend)});
        out.opened = _Open() == 1;
        if (out.opened) {
            ScanParameters p{};
            p.Left = 300;
            p.Top = 300;
            p.Right = 600;
            p.Bottom = 450;
            p.Resolution = request.dpi;
            p.ScanMode = request.mode;
            p.Threshold = 128;
            p.ScanSource = request.source;
            ScanParametersInfo info{};
            ScanStartRecord start{};
            if (SetParameters(&p) != 0 && GetParameters(&info) != 0 && StartScan(&start) != 0) {
                out.imageLines = info.ImageLines;
                out.pixels.resize(size_t{info.LineBytes} * (info.ImageLines + 100));
                for (int reads = 0; reads < 200 && out.delivered < info.ImageLines; ++reads) {
                    ReadRequest read{};
                    read.LinesWanted = 100;
                    read.Buffer = out.pixels.data() + size_t{out.delivered} * info.LineBytes;
                    const int32_t result = ReadScannedData(&read);
                    out.delivered += read.LinesDone;
                    if (result == 0 || read.Status != 0) break;
                }
                out.pixels.resize(size_t{out.delivered} * info.LineBytes);
                StopRecord stop{};
                StopScan(&stop);
            }
            _Close();
        }
        usbscan::Withdraw(0);
        return out;
    }

    std::shared_ptr<usbscan::UsbBackend> OverLibusb(test::UsbdevfsEmulator& emulated) {
        std::string error;
        auto device = usbscan::CreateLibusbBackend(emulated.ByAddress(), &error);
        EXPECT_NE(device, nullptr) << error;
        return device;
    }
};

TEST_F(LibusbScan, EveryModeGivesTheSameImageAsTheModelPublishedDirectly) {
    const Request requests[] = {
        {ModeLineArt, 150, 0}, {ModeGray, 300, 0},    {ModeColor24, 150, 0},
        {ModeColor48, 100, 0}, {ModeColor48, 150, 1}, {ModeColor24, 600, 0},
    };
    for (const Request& request : requests) {
        SCOPED_TRACE("mode " + std::to_string(request.mode) + " at " + std::to_string(request.dpi) +
                     " dpi, source " + std::to_string(request.source));
        auto directLog = std::make_shared<TransferLog>(Model());
        const Scanned direct = Scan(directLog, request);
        test::UsbdevfsEmulator emulated(Model(), 4);
        auto emulatedLog = std::make_shared<TransferLog>(OverLibusb(emulated));
        const Scanned viaLibusb = Scan(emulatedLog, request);
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
    const Request request{ModeColor24, 150, 0};
    int total = 0;
    {
        test::UsbdevfsEmulator emulated(Model(), 5);
        const Scanned clean = Scan(OverLibusb(emulated), request);
        ASSERT_GT(clean.imageLines, 0u);
        ASSERT_EQ(clean.delivered, clean.imageLines);
        total = emulated.UrbsSubmitted();
    }
    // Early in _Open, in the calibration, and late in the image stream.
    for (int after : {1, total / 3, total - 5}) {
        SCOPED_TRACE("unplugged at URB " + std::to_string(after) + " of " + std::to_string(total));
        test::UsbdevfsEmulator emulated(Model(), 5);
        emulated.UnplugAfterUrbs(after);
        const Scanned scanned = Scan(OverLibusb(emulated), request);
        EXPECT_TRUE(!scanned.opened || scanned.imageLines == 0 || scanned.delivered < scanned.imageLines);
    }
}

}  // namespace
}  // namespace b58

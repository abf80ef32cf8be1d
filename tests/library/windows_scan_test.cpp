// The shipped DLL driven through its exports, as a Windows host drives it, against the virtual
// scanner: the stand-in class driver is attached to the DLL's imports, and everything else
// (events, threads, waits, overlapped results, named mutexes, the debug channel) is the
// system's own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "class_driver_imports.h"
#include "driver_entry_points.h"
#include "driver_library.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "platform/usbscan/device_names.h"
#include "scan_runner.h"
#include "sim/virtual_scanner.h"
#include "virtual_devices.h"

namespace b58 {
namespace {

using host::ColorMode;
using host::ScanEnd;

host::DriverEntryPoints g_driver;

// Puts a fresh virtual scanner (firmware not yet downloaded) at index 0, unplugging the one
// before it.
void PlugScanner(const std::string& options = "seed=7") {
    std::string error;
    auto scanner = sim::CreateVirtualScanner(options, &error);
    ASSERT_NE(scanner, nullptr) << error;
    usbscan::Publish({0, usbscan::DefaultInterfacePath(0), std::move(scanner)});
}

class AttachedDriver : public ::testing::Environment {
  public:
    void SetUp() override {
        _putenv_s("B58_DEVICES", "");  // devices come from PlugScanner only
        std::string error;
        library_ = host::DriverLibrary::Load(host::DriverLibrary::DefaultPath(), error);
        ASSERT_NE(library_, nullptr) << error;
        ASSERT_TRUE(standin::AttachVirtualDevices(static_cast<HMODULE>(library_->Module()), &error)) << error;
        g_driver = host::ResolveEntryPoints(*library_);
    }

  private:
    std::unique_ptr<host::DriverLibrary> library_;
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new AttachedDriver);

// Keeps the lines and checks each arrives whole.
class KeptImage : public host::LineSink {
  public:
    bool Begin(const host::ImageFormat& format, std::string&) override {
        format_ = format;
        return true;
    }
    bool WriteLine(const uint8_t* row, std::string&) override {
        bytes_.insert(bytes_.end(), row, row + host::RowBytes(format_));
        return true;
    }
    bool End(uint32_t, std::string&) override { return true; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    bool Varied() const {
        for (uint8_t b : bytes_) {
            if (b != bytes_.front()) return true;
        }
        return false;
    }

  private:
    host::ImageFormat format_;
    std::vector<uint8_t> bytes_;
};

host::ScanDescription Request(ColorMode mode, int depth, unsigned dpi, double widthMm = 30,
                              double heightMm = 12) {
    host::ScanDescription d;
    d.mode = mode;
    d.depth = depth;
    d.resolution = dpi;
    d.area = {10, 10, widthMm, heightMm};
    return d;
}

// Scans once with the scanner opened for it; `hooks.progress` may act during the scan.
host::ScanOutcome ScanOnce(const host::ScanDescription& request, KeptImage& image,
                           const host::ScanHooks& hooks = {}) {
    host::ScanCancel cancel;
    EXPECT_EQ(host::OpenScanner(g_driver), host::OpenResult::Open);
    host::ScanOutcome outcome = host::RunScan(g_driver, request, image, cancel, hooks);
    g_driver.close();
    return outcome;
}

TEST(WindowsDriver, OpensWithTheFirmwareDownloadAndTracesThroughTheDebugChannel) {
    PlugScanner();
    std::vector<std::string> trace;
    platform::SetDebugSink([&trace](const char* text) { trace.emplace_back(text); });
    EXPECT_EQ(host::OpenScanner(g_driver), host::OpenResult::Open);
    DeviceInfoRecord info = {};
    EXPECT_NE(g_driver.getDeviceInfo(&info), 0);
    g_driver.close();
    platform::SetDebugSink(nullptr);
    ASSERT_FALSE(trace.empty());
    EXPECT_TRUE(trace.front().starts_with("\nC4:") && trace.front().ends_with("< Enter the _Open!"))
        << trace.front();
    EXPECT_TRUE(trace.back().ends_with("> Leave the _Close!")) << trace.back();
}

TEST(WindowsDriver, ScansEveryModeAtTwoResolutions) {
    PlugScanner();
    struct Case {
        ColorMode mode;
        int depth;
        host::PixelKind kind;
    };
    for (const Case& c :
         {Case{ColorMode::Lineart, 1, host::PixelKind::Bilevel},
          Case{ColorMode::Gray, 8, host::PixelKind::Gray8}, Case{ColorMode::Color, 8, host::PixelKind::Rgb24},
          Case{ColorMode::Color, 16, host::PixelKind::Rgb48}}) {
        for (unsigned dpi : {100u, 300u}) {
            SCOPED_TRACE(testing::Message()
                         << "mode " << static_cast<int>(c.mode) << " depth " << c.depth << " at " << dpi);
            KeptImage image;
            host::ScanOutcome outcome = ScanOnce(Request(c.mode, c.depth, dpi), image);
            ASSERT_EQ(outcome.end, ScanEnd::Complete) << outcome.message;
            EXPECT_EQ(outcome.format.kind, c.kind);
            EXPECT_EQ(outcome.format.xDpi, host::DeliveredResolution(dpi));
            EXPECT_EQ(outcome.lines, outcome.format.height);
            EXPECT_EQ(image.Bytes().size(), outcome.format.height * host::RowBytes(outcome.format));
            EXPECT_TRUE(image.Varied()) << "the chart should show";
        }
    }
}

// After each of these the scanner still scans: the driver released what the scan held.
TEST(WindowsDriver, AScanEndedEarlyLeavesTheScannerUsable) {
    PlugScanner();
    const host::ScanDescription tall = Request(ColorMode::Gray, 8, 300, 30, 60);

    // StopScan from a second thread while the first reads.
    KeptImage stopped;
    std::atomic<bool> stopOnce{false};
    std::thread stopper;
    host::ScanHooks hooks;
    hooks.progress = [&](uint32_t lines, uint32_t) {
        if (lines > 0 && !stopOnce.exchange(true)) {
            stopper = std::thread([] {
                StopRecord stop = {};
                g_driver.stopScan(&stop);
            });
            stopper.join();
        }
    };
    host::ScanOutcome outcome = ScanOnce(tall, stopped, hooks);
    EXPECT_NE(outcome.end, ScanEnd::Complete);
    EXPECT_LT(outcome.lines, outcome.format.height);

    // The scanner's stream cut short (after the calibration's, within the image's).
    PlugScanner("seed=7,stream_end=200000");
    KeptImage cut;
    outcome = ScanOnce(tall, cut);
    EXPECT_EQ(outcome.end, ScanEnd::Failed) << outcome.message;
    EXPECT_GT(outcome.lines, 0u);
    EXPECT_LT(outcome.lines, outcome.format.height);

    PlugScanner();
    KeptImage whole;
    outcome = ScanOnce(tall, whole);
    EXPECT_EQ(outcome.end, ScanEnd::Complete) << outcome.message;
}

TEST(WindowsDriver, AnUnpluggedScannerEndsTheScanAndIsGone) {
    PlugScanner("seed=7,rate=200000");  // slow enough that the image is still streaming
    KeptImage image;
    host::ScanHooks hooks;
    hooks.progress = [](uint32_t lines, uint32_t) {
        if (lines > 0) usbscan::Withdraw(0);
    };
    host::ScanOutcome outcome = ScanOnce(Request(ColorMode::Gray, 8, 300, 30, 60), image, hooks);
    EXPECT_EQ(outcome.end, ScanEnd::Failed) << static_cast<int>(outcome.end) << " " << outcome.message;
    EXPECT_EQ(host::OpenScanner(g_driver), host::OpenResult::NoScanner);
    g_driver.close();
}

// The records as a 32-bit host lays them out, read byte by byte from what the DLL wrote.
TEST(WindowsDriver, RecordsHaveTheirThirtyTwoBitLayout) {
    PlugScanner();
    ASSERT_EQ(host::OpenScanner(g_driver), host::OpenResult::Open);
    alignas(8) uint8_t raw[64];
    std::memset(raw, 0xA5, sizeof raw);
    ASSERT_NE(g_driver.getDeviceInfo(reinterpret_cast<DeviceInfoRecord*>(raw)), 0);
    auto at16 = [&raw](size_t offset) { return static_cast<unsigned>(raw[offset] | raw[offset + 1] << 8); };
    EXPECT_EQ(at16(0), 0u);   // Status
    EXPECT_EQ(at16(2), 2u);   // InfoVersion
    EXPECT_EQ(at16(8), 96u);  // InfoBlockSize
    uint32_t block = 0;
    std::memcpy(&block, raw + 10, 4);  // DeviceInfoBlock: a 4-byte pointer at offset 10
    EXPECT_NE(block, 0u);
    EXPECT_EQ(raw[16], 1);  // Byte16
    EXPECT_EQ(raw[17], 8);
    EXPECT_EQ(raw[18], 8);
    for (size_t i = 22; i < sizeof raw; ++i) EXPECT_EQ(raw[i], 0xA5) << "written past the record at " << i;
    g_driver.close();
}

// The stand-in's device functions as the DLL calls them, on the system's events and waits.
template <typename Fn>
Fn Replacement(const char* name) {
    for (const standin::ImportBinding& b : standin::ClassDriverBindings()) {
        if (std::strcmp(b.function, name) == 0) return reinterpret_cast<Fn>(b.replacement);
    }
    return nullptr;
}

TEST(WindowsDriver, CancelIoEndsOnlyTheCallingThreadsReads) {
    PlugScanner();
    auto create = Replacement<decltype(&CreateFileA)>("CreateFileA");
    auto read = Replacement<decltype(&ReadFile)>("ReadFile");
    auto cancel = Replacement<decltype(&CancelIo)>("CancelIo");
    auto close = Replacement<decltype(&CloseHandle)>("CloseHandle");
    HANDLE device = create("\\\\.\\UsbScan0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    // No scan runs, so the read waits in the device until it is cancelled.
    uint8_t buffer[512];
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    std::atomic<bool> readerMayCancel{false};
    std::thread reader([&] {
        EXPECT_FALSE(read(device, buffer, sizeof buffer, nullptr, &overlapped));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        while (!readerMayCancel.load(std::memory_order_acquire)) Sleep(5);
        EXPECT_TRUE(cancel(device));
    });
    Sleep(50);
    EXPECT_TRUE(cancel(device));  // this thread issued nothing
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 200), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(overlapped.Internal, 0x103u);  // STATUS_PENDING
    readerMayCancel.store(true, std::memory_order_release);
    reader.join();

    DWORD count = 1;
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &count, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(close(device));
    EXPECT_FALSE(close(device));  // the value is no longer open, for the stand-in nor the system
    CloseHandle(overlapped.hEvent);
}

// The driver's named mutex across processes: a second program (this one, started again) holds
// the scanner open while this one tries it.
constexpr const char* kHolding = "Local\\b58-windows-scan-test-holding";
constexpr const char* kRelease = "Local\\b58-windows-scan-test-release";

TEST(WindowsDriver, AScannerOpenInAnotherProcessIsInUse) {
    PlugScanner();
    HANDLE holding = CreateEventA(nullptr, TRUE, FALSE, kHolding);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, kRelease);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = std::string("\"") + self + "\" --gtest_filter=WindowsDriverHolder.*";
    _putenv_s("B58_TEST_HOLD_SCANNER", "1");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child));
    _putenv_s("B58_TEST_HOLD_SCANNER", "");

    ASSERT_EQ(WaitForSingleObject(holding, 120000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(g_driver.open(), 0);  // after waiting its time for the other program
    g_driver.close();
    SetEvent(release);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD exitCode = 1;
    GetExitCodeProcess(child.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(host::OpenScanner(g_driver), host::OpenResult::Open);
    g_driver.close();
    for (HANDLE h : {child.hProcess, child.hThread, holding, release}) CloseHandle(h);
}

TEST(WindowsDriverHolder, HoldsTheScannerOpenUntilReleased) {
    const char* hold = std::getenv("B58_TEST_HOLD_SCANNER");
    if (hold == nullptr || *hold == '\0') GTEST_SKIP() << "run by the test above";
    PlugScanner();
    ASSERT_EQ(host::OpenScanner(g_driver), host::OpenResult::Open);
    HANDLE holding = OpenEventA(EVENT_MODIFY_STATE, FALSE, kHolding);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, kRelease);
    ASSERT_NE(holding, nullptr);
    ASSERT_NE(release, nullptr);
    SetEvent(holding);
    EXPECT_EQ(WaitForSingleObject(release, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    g_driver.close();
}

}  // namespace
}  // namespace b58

// What the host sees when the scanner fails: every fault switch of the virtual scanner at
// every phase of a scan, the firmware the controller rejects, queries of an unplugged
// scanner, requests that would wrap the device's fields, and an allocation that fails.
// A failure must never be reported as success, and a scanner that recovers must scan again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "controller_fixture.h"
#include "sim/firmware_image.h"
#include "sim/scanner_config.h"
#include "sim/scanner_options.h"
#include "sim/virtual_scanner.h"

// Fields of the packed host records go to the checks by value (unary +).

// The replacement allocation functions below pair malloc and free themselves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

// Allocations of `g_failFrom` bytes or more fail while it is not 0: the large working
// buffers of calibration, not the trace.
std::atomic<size_t> g_failFrom{0};

void* operator new(std::size_t size) {
    const size_t from = g_failFrom.load(std::memory_order_relaxed);
    if (from != 0 && size >= from) throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace b58 {
namespace {

// This run's device mutex stays apart from that of other test programs running at the same
// time.
class FaultTestEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string ipcNamespace = "b58faulttest-" + std::to_string(GetCurrentProcessId());
        setenv("B58_IPC_NAMESPACE", ipcNamespace.c_str(), 0);
    }
};
const ::testing::Environment* const kFaultTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new FaultTestEnvironment);

enum class Phase { Open, Set, Calibration, MainScan, Stop };
const char* const kPhaseNames[] = {"open", "set", "calibration", "main scan", "stop"};

// What the host saw of one scan: the first call that failed (or "none"), its result and
// Status, the lines delivered and whether the scanner scans again once the fault is gone.
struct Outcome {
    std::string failedAt = "none";
    int32_t result = 1;
    uint16_t status = 0;
    uint32_t delivered = 0;
    uint32_t imageLines = 0;
    double seconds = 0;
};

class DeviceFaultTest : public testing::ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        // B58_TIME_SCALE=1 measures the table at the device's real pace.
        const char* scale = std::getenv("B58_TIME_SCALE");
        platform::SetTimeScale(scale != nullptr ? std::atof(scale) : 0.02);
        firmware_ = sim::BuildFirmwareImage();
        WriteFirmware(firmware_);
        PublishFreshScanner();
    }
    // A scanner as after power-on (no firmware) in slot 0.
    void PublishFreshScanner() {
        usbscan::WithdrawAll();
        std::string error;
        auto scanner = sim::CreateVirtualScanner("seed=1,rate=0", &error);
        ASSERT_NE(scanner, nullptr) << error;
        scanner_ = std::dynamic_pointer_cast<sim::VirtualScanner>(scanner);
        usbscan::Publish({0, testing::kScannerPath, scanner});
    }
    void TearDown() override {
        StopRecord stop{};
        if (TheDriver().Run.ReaderThread() != nullptr) StopScan(&stop);
        _Close();
        ControllerTest::TearDown();
    }

    void WriteFirmware(const std::vector<uint8_t>& image) {
        windows_.Write("system32/drivers/b58fw.usb", std::string(image.begin(), image.end()));
    }
    void SetFaults(const std::string& options) {
        sim::ScannerConfig config;
        std::string error;
        ASSERT_TRUE(sim::ParseScannerOptions(options, &config, &error)) << error;
        scanner_->ChangeFaults([&](sim::FaultConfig& f) { f = config.faults; });
    }

    static ScanParameters GreyRequest() {
        ScanParameters p{};
        p.Left = 300;
        p.Top = 300;
        p.Right = 600;
        p.Bottom = 450;
        p.Resolution = 150;
        p.ScanMode = ModeGray;
        return p;
    }

    // _Open to StopScan, with `faults` switched on just before `phase`.
    Outcome Run(Phase phase, const std::string& faults) {
        const auto began = std::chrono::steady_clock::now();
        Outcome out;
        RunSteps(phase, faults, out);
        _Close();
        out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        return out;
    }
    void RunSteps(Phase phase, const std::string& faults, Outcome& out) {
        auto fail = [&](const char* at, int32_t result, uint16_t status) {
            out.failedAt = at;
            out.result = result;
            out.status = status;
        };
        auto faultsFrom = [&](Phase p) {
            if (p == phase) SetFaults(faults);
        };
        faultsFrom(Phase::Open);
        if (_Open() == 0) return fail("_Open", 0, 0);
        faultsFrom(Phase::Set);
        ScanParameters p = GreyRequest();
        if (SetParameters(&p) == 0) return fail("SetParameters", 0, p.Status);
        ScanParametersInfo info{};
        GetParameters(&info);
        out.imageLines = info.ImageLines;
        faultsFrom(Phase::Calibration);
        ScanStartRecord start{};
        if (StartScan(&start) == 0) {
            fail("StartScan", 0, start.Status);
        } else {
            faultsFrom(Phase::MainScan);
            std::vector<uint8_t> lines(size_t{info.LineBytes} * info.ImageLines);
            ReadRequest read{};
            read.LinesWanted = static_cast<uint16_t>(info.ImageLines);
            read.Buffer = lines.data();
            const int32_t result = ReadScannedData(&read);
            out.delivered = read.LinesDone;
            if (result == 0 || read.Status != kStatusOk) fail("ReadScannedData", result, read.Status);
        }
        faultsFrom(Phase::Stop);
        StopRecord stop{};
        if (StopScan(&stop) == 0 && out.failedAt == "none") fail("StopScan", 0, stop.Status);
    }

    std::vector<uint8_t> firmware_;
    std::shared_ptr<sim::VirtualScanner> scanner_;
};

std::string StepName(char code) {
    switch (code) {
        case 'O':
            return "_Open";
        case 'S':
            return "SetParameters";
        case 'C':
            return "StartScan";
        case 'R':
            return "ReadScannedData";
        default:
            return "none";
    }
}

// Every fault switch at every phase. A call that fails says why (nonzero Status); a scan
// that reports success delivered every line; once the fault is cleared the scanner scans
// again (but for an unplugged one).
TEST_F(DeviceFaultTest, EveryFaultAtEveryPhaseIsReportedAndTheScannerRecovers) {
    // Where the scan first fails with the fault switched on before each phase (open, set,
    // calibration, main scan, stop): N nowhere, O _Open, S SetParameters, C StartScan,
    // R ReadScannedData, ? not pinned (StopScan's own results; a bulk or handshake fault
    // switched on after the start races the reader's first read or handshake).
    struct Case {
        const char* faults;
        const char* failsAt;
        bool unplugs;
    };
    const Case cases[] = {
        {"not_taken=1", "NSNNN", false},
        {"fail_cmd=0x22", "CCCNN", false},
        {"fail_cmd=0x20", "CCCNN", false},
        {"fail_cmd=0x41", "CCC??", false},
        {"fail_cmd=0x25", "SSCNN", false},
        {"fail_transfers=all", "OSC??", false},
        {"fail_bulk=1", "CCC?N", false},
        {"busy_ms=100000000", "CCCNN", false},
        {"handshake_refusals=100000", "CCC?N", false},
        {"bad_readback=0", "SSNNN", false},
        {"stream_end=1000", "CCCNN", false},
        {"stall_read=1", "CCC?N", false},
        {"unplug_after=0", "OSC??", true},
    };
    std::printf("%-26s %-12s %-16s %6s %6s %9s %8s %s\n", "fault", "phase", "fails at", "result", "status",
                "lines", "seconds", "usable after");
    for (const Case& c : cases) {
        for (Phase phase : {Phase::Open, Phase::Set, Phase::Calibration, Phase::MainScan, Phase::Stop}) {
            SCOPED_TRACE(std::string(c.faults) + " at " + kPhaseNames[static_cast<int>(phase)]);
            const Outcome o = Run(phase, c.faults);
            const char expected = c.failsAt[static_cast<int>(phase)];
            if (expected != '?') {
                EXPECT_EQ(o.failedAt, StepName(expected));
            }
            // A refused, failed or cut-short step never passes for success.
            if (o.failedAt == "none") {
                EXPECT_EQ(o.delivered, o.imageLines);
            } else if (o.failedAt != "_Open" && o.failedAt != "StopScan") {
                EXPECT_NE(o.status, kStatusOk);
            }
            if (o.failedAt == "SetParameters" || o.failedAt == "StartScan") {
                EXPECT_EQ(o.status, kStatusDeviceFailed);
            }

            SetFaults("");
            const Outcome again = Run(Phase::Stop, "");
            const bool usable = again.failedAt == "none";
            std::printf("%-26s %-12s %-16s %6d %6d %4u/%-4u %8.2f %s\n", c.faults,
                        kPhaseNames[static_cast<int>(phase)], o.failedAt.c_str(), o.result, o.status,
                        o.delivered, o.imageLines, o.seconds, usable ? "yes" : "no");
            EXPECT_EQ(usable, !c.unplugs) << again.failedAt << " " << again.status;
            if (c.unplugs) PublishFreshScanner();
        }
    }
}

// The controller checks what was downloaded; only an image it confirms opens the scanner.
TEST_F(DeviceFaultTest, OnlyAFirmwareTheControllerConfirmsOpensTheScanner) {
    std::vector<uint8_t> corrupt = firmware_;
    corrupt[100] ^= 0xFF;
    const std::vector<uint8_t> truncated(firmware_.begin(), firmware_.begin() + 4000);
    struct Case {
        const char* name;
        std::vector<uint8_t> image;
        const char* faults;
        bool opens;
    } cases[] = {
        {"good", firmware_, "", true},
        {"corrupt", corrupt, "", false},
        {"truncated", truncated, "", false},
        {"never confirmed", firmware_, "fail_cmd=0x69", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PublishFreshScanner();
        WriteFirmware(c.image);
        SetFaults(c.faults);
        EXPECT_EQ(_Open(), c.opens ? 1 : 0);
        EXPECT_EQ(scanner_->State().firmwareRunning, c.opens);
        _Close();
        // SetParameters downloads again and judges the answer the same way.
        if (!c.opens) {
            TheDriver().HostOpened = 1;  // as if an earlier image had opened it
            ScanParameters p = GreyRequest();
            EXPECT_EQ(SetParameters(&p), 0);
            EXPECT_EQ(+p.Status, kStatusDeviceFailed);
            ScanStartRecord start{};
            EXPECT_EQ(StartScan(&start), 0);  // nothing left to scan with
            TheDriver().HostOpened = 0;
        }
        SetFaults("");
    }
}

// An unplugged scanner is not reported ready.
TEST_F(DeviceFaultTest, QueriesOfAnUnpluggedScannerFail) {
    ASSERT_EQ(_Open(), 1);
    scanner_->Unplug();
    VersionRecord version{};
    DeviceInfoRecord info{};
    ControlRecord control{};
    EXPECT_EQ(GetVersionInfo(&version), 0);
    EXPECT_EQ(+version.Status, kStatusDeviceFailed);
    EXPECT_EQ(GetDeviceInfo(&info), 0);
    EXPECT_EQ(+info.Status, kStatusDeviceFailed);
    EXPECT_EQ(GetDeviceStatus(&control), 0);
    EXPECT_EQ(+control.Status, kStatusDeviceFailed);
}

// Requests whose window would wrap a device field, lie past the sensor or deliver nothing.
TEST_F(DeviceFaultTest, RequestsThatWrapDeviceFieldsAreRefused) {
    ASSERT_EQ(_Open(), 1);
    struct Case {
        const char* name;
        uint16_t left, top, right, bottom, dpi;
        uint16_t mode;
        uint16_t status;
    } cases[] = {
        {"ordinary", 300, 300, 600, 450, 150, ModeGray, kStatusOk},
        {"top wraps the start", 0, 32700, 300, 32800, 300, ModeGray, kStatusRequestRejected},
        {"top just fits", 0, 32500, 300, 32600, 300, ModeGray, kStatusOk},
        {"left past the sensor", 3600, 0, 3900, 300, 300, ModeGray, kStatusRequestRejected},
        {"no pixel at 50 dpi", 300, 300, 303, 600, 50, ModeGray, kStatusRequestRejected},
        {"no line at 50 dpi", 300, 300, 600, 303, 50, ModeColor24, kStatusRequestRejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScanParameters p{};
        p.Left = c.left;
        p.Top = c.top;
        p.Right = c.right;
        p.Bottom = c.bottom;
        p.Resolution = c.dpi;
        p.ScanMode = c.mode;
        EXPECT_EQ(SetParameters(&p), c.status == kStatusOk ? 1 : 0);
        EXPECT_EQ(+p.Status, c.status);
        StopRecord stop{};
        StopScan(&stop);
    }
}

// An allocation that fails inside an entry point ends the call with Status 46, not with an
// exception in the host.
TEST_F(DeviceFaultTest, AnAllocationThatFailsEndsTheCallWithStatus46) {
    ASSERT_EQ(_Open(), 1);
    ScanParameters p = GreyRequest();
    ASSERT_EQ(SetParameters(&p), 1);
    ScanStartRecord start{};
    g_failFrom = 100000;  // the strip scans' line tables and beyond
    const int32_t result = StartScan(&start);
    g_failFrom = 0;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(+start.Status, kStatusOutOfMemory);
    EXPECT_NE(trace_.find("StartScan: out of memory"), std::string::npos);
}

}  // namespace
}  // namespace b58

// A driver session against a backend published as "\\.\UsbScan0": _Open, a scan of a small
// window through the entry points, _Close; each session starts from a fresh driver state,
// as in a new process. The firmware file is the virtual scanner's.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "api/virtual_scanner_fixture.h"
#include "sim/firmware_image.h"
#include "sim/virtual_scanner.h"

namespace b58::test {

// This run's named objects (the driver's device mutex) stay apart from other programs'.
class IpcNamespace : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("B58_IPC_NAMESPACE", ("b58sessiontest-" + std::to_string(getpid())).c_str(), 0);
    }
};
inline const ::testing::Environment* const kIpcNamespace =
    ::testing::AddGlobalTestEnvironment(new IpcNamespace);

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
    bool scan = true;  // false: _Open and _Close only
};

class DriverSession : public b58::testing::VirtualScannerTest {
  protected:
    void SetUp() override { VirtualScannerTest::SetUp(); }

    static std::shared_ptr<usbscan::UsbBackend> Model() {
        std::string error;
        auto scanner = sim::CreateVirtualScanner("seed=5,rate=0,start_ms=0,step_us=0", &error);
        EXPECT_NE(scanner, nullptr) << error;
        return scanner;
    }

    // _Open, SetParameters, StartScan, reads of 100 lines until the end, StopScan, _Close.
    Scanned Scan(std::shared_ptr<usbscan::UsbBackend> backend, const Request& request) {
        Scanned out;
        TheDriver().Run.FreeMemory();
        ResetDriver();  // each scan calibrates afresh, as in a new process
        usbscan::Publish({0, b58::testing::kScannerPath, std::move(backend)});
        out.opened = _Open() == 1;
        if (out.opened && request.scan) {
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
        }
        if (out.opened) _Close();
        usbscan::Withdraw(0);
        return out;
    }
};

}  // namespace b58::test

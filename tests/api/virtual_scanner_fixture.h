// The controller fixture made ready for the virtual scanner: a device mutex of the program's
// own, the real firmware image in the scratch Windows folder, no scanner published yet (each
// test publishes its own), and short pauses with a block time-out (30 s) that a sanitizer build still meets.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "controller_fixture.h"
#include "sim/firmware_image.h"
#include "sim/virtual_scanner.h"

namespace b58::testing {

class VirtualScannerTest : public ControllerTest {
  protected:
    void SetUp() override {
#ifndef _WIN32
        // The device mutex of this test program stays apart from that of other programs
        // running at the same time, whose _Open would otherwise make this one's fail. Read
        // once, at the first open, so only the first test's setting counts.
        setenv("B58_IPC_NAMESPACE", ("b58simtest-" + std::to_string(getpid())).c_str(), 0);
#endif
        ControllerTest::SetUp();
        platform::SetTimeScale(0.02);
        const auto image = sim::BuildFirmwareImage();
        windows_.Write("system32/drivers/b58fw.usb", std::string(image.begin(), image.end()));
        usbscan::WithdrawAll();
    }

    // Publishes a virtual scanner made with `options` in place of any other; null, with the
    // test failed, when the options are refused.
    static std::shared_ptr<sim::VirtualScanner> PublishVirtualScanner(const std::string& options) {
        usbscan::WithdrawAll();
        std::string error;
        auto scanner = sim::CreateVirtualScanner(options, &error);
        if (scanner == nullptr) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        usbscan::Publish({0, kScannerPath, scanner});
        return std::dynamic_pointer_cast<sim::VirtualScanner>(scanner);
    }
};

}  // namespace b58::testing

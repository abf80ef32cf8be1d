// The controller fixture made ready for the virtual scanner: the real firmware image in the
// scratch Windows folder, no scanner published yet (each test publishes its own), and short
// pauses with a block time-out (30 s) that a sanitizer build still meets.
#pragma once

#include <string>

#include "controller_fixture.h"
#include "sim/firmware_image.h"

namespace b58::testing {

class VirtualScannerTest : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        platform::SetTimeScale(0.02);
        const auto image = sim::BuildFirmwareImage();
        windows_.Write("system32/drivers/b58fw.usb", std::string(image.begin(), image.end()));
        usbscan::WithdrawAll();
    }
};

}  // namespace b58::testing

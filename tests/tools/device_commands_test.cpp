#include "device_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

// Fields of the packed host records go to the checks by value (unary +): a reference to
// one may be misaligned.

namespace b58::tools {
namespace {

// A driver whose answers each test sets; it counts _Open and _Close.
struct FakeDriver {
    int32_t openResult = 1;
    int32_t closeResult = 1;
    int opens = 0, closes = 0;
    uint8_t infoBlock[96] = {};
    uint8_t deviceFlag = 0;
    ScanParameters lastRequest = {};
    int32_t setResult = 1;
    uint16_t setStatus = 0;
    ScanParametersInfo parametersInfo = {0, 300, 600, 900, 1200};
    uint8_t key = 0;
    int32_t keyResult = 1;
    uint16_t controlStatus = 0;
    int32_t controlResult = 1;
    int lastPowerOn = -1;
};
FakeDriver g_fake;

int32_t B58_CALL FakeOpen() {
    ++g_fake.opens;
    return g_fake.openResult;
}
int32_t B58_CALL FakeClose() {
    ++g_fake.closes;
    return g_fake.closeResult;
}
int32_t B58_CALL FakeGetDeviceInfo(DeviceInfoRecord* r) {
    *r = {};
    r->InfoBlockSize = 96;
    r->DeviceInfoBlock = g_fake.infoBlock;
    r->DeviceFlag = g_fake.deviceFlag;
    return 1;
}
int32_t B58_CALL FakeGetGammaInfo(GammaInfoRecord* r) {
    r->GammaInBits = r->GammaOutBits = r->ScanMode == ModeColor48 ? 16 : 8;
    return 1;
}
int32_t B58_CALL FakeSetParameters(ScanParameters* p) {
    g_fake.lastRequest = *p;
    p->Status = g_fake.setStatus;
    if (g_fake.setResult != 0) p->Resolution = 300;
    return g_fake.setResult;
}
int32_t B58_CALL FakeGetParameters(ScanParametersInfo* info) {
    *info = g_fake.parametersInfo;
    return 1;
}
int32_t B58_CALL FakeGetKeyStatus(uint8_t* key) {
    *key = g_fake.key;
    return g_fake.keyResult;
}
int32_t B58_CALL FakePowerControl(ControlRecord* r) {
    g_fake.lastPowerOn = r->PowerOn;
    r->Status = g_fake.controlStatus;
    return g_fake.controlResult;
}
int32_t B58_CALL FakeControl(ControlRecord* r) {
    r->Status = g_fake.controlStatus;
    return g_fake.controlResult;
}

class DeviceCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        g_fake = FakeDriver{};
        driver_.open = FakeOpen;
        driver_.close = FakeClose;
        driver_.getDeviceInfo = FakeGetDeviceInfo;
        driver_.getGammaInfo = FakeGetGammaInfo;
        driver_.setParameters = FakeSetParameters;
        driver_.getParameters = FakeGetParameters;
        driver_.getKeyStatus = FakeGetKeyStatus;
        driver_.powerControl = FakePowerControl;
        driver_.carriageHome = FakeControl;
        driver_.getDeviceStatus = FakeControl;
    }
    DriverEntryPoints driver_;
    std::ostringstream out_, err_;
};

TEST_F(DeviceCommands, NoScannerAndScannerInUseAreTold) {
    g_fake.openResult = 0;
    g_fake.closeResult = 1;  // the driver got the lock but found no scanner
    EXPECT_EQ(RunStatus(driver_, out_, err_), kExitNoScanner);
    EXPECT_NE(err_.str().find("no scanner found"), std::string::npos);
    EXPECT_EQ(g_fake.closes, 1);  // the failed open is closed once, to release the lock

    g_fake.closeResult = 0;  // the lock stayed with another program
    err_.str("");
    EXPECT_EQ(RunKey(driver_, out_, err_), kExitScannerInUse);
    EXPECT_NE(err_.str().find("in use by another program"), std::string::npos);
    EXPECT_EQ(g_fake.closes, 2);
    EXPECT_EQ(out_.str(), "");
}

TEST_F(DeviceCommands, EachCommandClosesWhatItOpened) {
    EXPECT_EQ(RunStatus(driver_, out_, err_), kExitOk);
    EXPECT_EQ(RunHome(driver_, out_, err_), kExitOk);
    EXPECT_EQ(RunLamp(driver_, true, out_, err_), kExitOk);
    EXPECT_EQ(RunKey(driver_, out_, err_), kExitOk);
    EXPECT_EQ(RunScannerInfo(driver_, {}, out_, err_), kExitOk);
    EXPECT_EQ(g_fake.opens, 5);
    EXPECT_EQ(g_fake.closes, 5);
    EXPECT_EQ(out_.str().find("status: ready\ncarriage: home\nlamp: on\nkey: not pressed\nscanner: open\n"),
              0u)
        << out_.str();
}

TEST_F(DeviceCommands, RefusedControlsFail) {
    g_fake.controlStatus = kStatusLightControlFailed;
    g_fake.controlResult = 0;
    EXPECT_EQ(RunLamp(driver_, false, out_, err_), kExitCommandFailed);
    EXPECT_EQ(g_fake.lastPowerOn, 0);
    EXPECT_NE(err_.str().find("refused to switch the lamp off (status 31)"), std::string::npos);
    g_fake.controlStatus = kStatusCarriageHomeFailed;
    EXPECT_EQ(RunHome(driver_, out_, err_), kExitCommandFailed);
    EXPECT_NE(err_.str().find("status 26"), std::string::npos);
    g_fake.keyResult = 0;
    EXPECT_EQ(RunKey(driver_, out_, err_), kExitCommandFailed);
    EXPECT_EQ(g_fake.closes, 3);
}

TEST_F(DeviceCommands, KeyPressedIsTheSixteenBit) {
    g_fake.key = 0x10;
    EXPECT_EQ(RunKey(driver_, out_, err_), kExitOk);
    EXPECT_EQ(out_.str(), "key: pressed\n");
}

TEST_F(DeviceCommands, InfoShowsIdentityFormatsAndTheRequestAsTheDriverSeesIt) {
    std::memcpy(g_fake.infoBlock + 32, "00AB", 4);
    g_fake.deviceFlag = 1;
    ScanRequestOptions request;
    std::string error;
    ASSERT_TRUE(ApplyRequestOption("--resolution", "1200", request, error));
    ASSERT_TRUE(ApplyRequestOption("--area", "10,20,310,420", request, error));
    ASSERT_TRUE(ApplyRequestOption("--mode", "colour", request, error));
    ASSERT_TRUE(ApplyRequestOption("--source", "ta2", request, error));
    EXPECT_EQ(RunScannerInfo(driver_, request, out_, err_), kExitOk);
    const std::string text = out_.str();
    EXPECT_NE(text.find("device: identifier 00AB, feature flag 1"), std::string::npos) << text;
    EXPECT_NE(text.find("gamma tables (bits in/out): Lineart 8/8, Gray 8/8, Color 8/8, Color 16-bit 16/16"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("resolutions: 50 100 150 300 600 dpi"), std::string::npos) << text;
    EXPECT_NE(text.find("SetParameters: returned 1, status 0, resolution 300"), std::string::npos) << text;
    EXPECT_NE(text.find("GetParameters: 300 x 600 dpi, line size 900 bytes, image lines 1200"),
              std::string::npos)
        << text;
    const ScanParameters& sent = g_fake.lastRequest;
    EXPECT_EQ(+sent.Left, 10);
    EXPECT_EQ(+sent.Top, 20);
    EXPECT_EQ(+sent.Right, 310);
    EXPECT_EQ(+sent.Bottom, 420);
    EXPECT_EQ(+sent.Resolution, 1200);
    EXPECT_EQ(+sent.ScanMode, ModeColor24);
    EXPECT_EQ(+sent.ScanSource, 2);
    EXPECT_EQ(+sent.GammaTable, nullptr);
}

TEST_F(DeviceCommands, InfoWithoutAnIdentifierAndARejectedRequest) {
    g_fake.setResult = 0;
    g_fake.setStatus = kStatusRequestRejected;
    EXPECT_EQ(RunScannerInfo(driver_, {}, out_, err_), kExitCommandFailed);
    EXPECT_NE(out_.str().find("identifier (none)"), std::string::npos);
    EXPECT_NE(out_.str().find("SetParameters: returned 0, status 44 (a request the scanner cannot scan)"),
              std::string::npos)
        << out_.str();
    EXPECT_EQ(g_fake.closes, 1);
}

TEST(RequestOptions, BadValuesAreNamed) {
    ScanRequestOptions options;
    std::string error;
    EXPECT_FALSE(ApplyRequestOption("--mode", "sepia", options, error));
    EXPECT_NE(error.find("sepia"), std::string::npos);
    for (const char* area : {"1,2,3", "1,2,3,4,5", "1,2,,4", "1,2,3,70000", "a,b,c,d", ""}) {
        EXPECT_FALSE(ApplyRequestOption("--area", area, options, error)) << area;
    }
    EXPECT_FALSE(ApplyRequestOption("--resolution", "0", options, error));
    EXPECT_FALSE(ApplyRequestOption("--resolution", "-5", options, error));
    EXPECT_FALSE(ApplyRequestOption("--source", "ta3", options, error));
    EXPECT_FALSE(ApplyRequestOption("--colour", "x", options, error));
    EXPECT_EQ(options.resolution, 300);  // untouched by the failures
    EXPECT_EQ(options.right, 2550);
}

}  // namespace
}  // namespace b58::tools

#include <gtest/gtest.h>

#include "sim/scanner_options.h"
#include "sim/virtual_scanner.h"

namespace b58::sim {
namespace {

TEST(ScannerOptions, EmptyStringKeepsPowerOnDefaults) {
    ScannerConfig config;
    std::string error;
    ASSERT_TRUE(ParseScannerOptions("", &config, &error)) << error;
    EXPECT_FALSE(config.firmwareRunning);
    EXPECT_FALSE(config.keyPressed);
    EXPECT_EQ(config.identity.word3 & 0xFF, 0x1A);
    EXPECT_GT(config.time.bytesPerSecond, 0u);
}

TEST(ScannerOptions, EveryKeyReachesTheConfiguration) {
    ScannerConfig config;
    std::string error;
    ASSERT_TRUE(ParseScannerOptions(
        "firmware=running, key=pressed,id=1:2:0x33:4:0x12345678,feature=0,lamp_power=0,seed=7,"
        "start_ms=5,step_us=20,rate=0,buffer=4096,packet=512,not_taken=3,fail_cmd=0x22,"
        "fail_cmd=0x43:9,fail_transfers=2,fail_bulk=1,busy_ms=250,handshake_refusals=4,"
        "bad_readback=12:1,stream_end=1000,stall_read=2:40000,unplug_after=17",
        &config, &error))
        << error;
    EXPECT_TRUE(config.firmwareRunning);
    EXPECT_TRUE(config.keyPressed);
    EXPECT_EQ(config.identity.word1, 1);
    EXPECT_EQ(config.identity.word3, 0x33);
    EXPECT_EQ(config.identity.value5, 0x12345678u);
    EXPECT_EQ(config.feature, 0);
    EXPECT_EQ(config.lampPower, 0);
    EXPECT_EQ(config.seed, 7u);
    EXPECT_EQ(config.time.startMs, 5u);
    EXPECT_EQ(config.time.stepUs, 20u);
    EXPECT_EQ(config.time.bytesPerSecond, 0u);
    EXPECT_EQ(config.time.bufferBytes, 4096u);
    EXPECT_EQ(config.time.packetBytes, 512u);
    const FaultConfig& f = config.faults;
    EXPECT_EQ(f.notTaken, 3u);
    EXPECT_EQ(f.failCommand.at(0x22), 2);
    EXPECT_EQ(f.failCommand.at(0x43), 9);
    EXPECT_EQ(f.failTransfers, 2u);
    EXPECT_EQ(f.failBulkReads, 1u);
    EXPECT_EQ(f.busyMs, 250u);
    EXPECT_EQ(f.handshakeRefusals, 4u);
    EXPECT_EQ(f.badReadBackBlock, 12);
    EXPECT_EQ(f.badReadBackTimes, 1u);
    EXPECT_EQ(f.streamEndAfter, 1000u);
    EXPECT_EQ(f.stallRead, 2u);
    EXPECT_EQ(f.stallMs, 40000u);
    EXPECT_EQ(f.unplugAfter, 17u);

    ASSERT_TRUE(ParseScannerOptions("fail_transfers=all,firmware=none", &config, &error)) << error;
    EXPECT_TRUE(config.faults.failAllTransfers);
    EXPECT_FALSE(config.firmwareRunning);
}

TEST(ScannerOptions, MistakesAreReportedWithTheOffendingText) {
    const auto failure = [](const std::string& text) {
        ScannerConfig config;
        std::string error;
        EXPECT_FALSE(ParseScannerOptions(text, &config, &error)) << text;
        return error;
    };
    EXPECT_NE(failure("firmware=running,colour=blue").find("colour"), std::string::npos);
    EXPECT_NE(failure("rate=fast").find("rate=fast"), std::string::npos);
    failure("rate");
    failure("rate=-1");
    failure("feature=256");
    failure("not_taken=1x");
    failure("id=1:2:3:4");
    failure("fail_cmd=0x22:0");
    failure("firmware=maybe");
    failure("bad_readback=1:2:3");
}

TEST(ScannerOptions, FactoryBuildsTheScannerOrExplains) {
    std::string error;
    EXPECT_EQ(CreateVirtualScanner("speed=9", &error), nullptr);
    EXPECT_NE(error.find("speed"), std::string::npos);
    auto device = CreateVirtualScanner("firmware=running,key=pressed", &error);
    auto* scanner = dynamic_cast<VirtualScanner*>(device.get());
    ASSERT_NE(scanner, nullptr);
    EXPECT_TRUE(scanner->State().firmwareRunning);
    EXPECT_TRUE(scanner->State().keyPressed);
}

}  // namespace
}  // namespace b58::sim

#include "platform/usbscan/device_config.h"

#include <gtest/gtest.h>

#include "platform/platform_control.h"
#include "usbscan_test_support.h"

namespace b58::usbscan {
namespace {

TEST(DeviceConfigurationParsing, EntriesWithIndexAndOptions) {
    DeviceConfiguration configuration = ParseDeviceConfiguration(" sim@3:firmware=running,seed=7 ; ;sim@5");
    EXPECT_TRUE(configuration.errors.empty());
    ASSERT_EQ(configuration.devices.size(), 2u);
    EXPECT_EQ(configuration.devices[0].backend, "sim");
    EXPECT_EQ(configuration.devices[0].index, 3);
    EXPECT_EQ(configuration.devices[0].options, "firmware=running,seed=7");
    EXPECT_EQ(configuration.devices[1].index, 5);
    EXPECT_EQ(configuration.devices[1].options, "");

    EXPECT_TRUE(ParseDeviceConfiguration("").devices.empty());
    EXPECT_TRUE(ParseDeviceConfiguration("").errors.empty());
}

TEST(DeviceConfigurationParsing, BadEntriesAreLeftOutWithAMessageTheRestStays) {
    DeviceConfiguration configuration =
        ParseDeviceConfiguration("sim;sim@;sim@10;sim@x;@3;a b@1;sim@2;fake@2:x=1;sim@9:");
    ASSERT_EQ(configuration.devices.size(), 2u);
    EXPECT_EQ(configuration.devices[0].index, 2);
    EXPECT_EQ(configuration.devices[0].backend, "sim");  // the first entry for an index wins
    EXPECT_EQ(configuration.devices[1].index, 9);
    ASSERT_EQ(configuration.errors.size(), 7u);
    EXPECT_NE(configuration.errors[0].find("\"sim\""), std::string::npos);
    EXPECT_NE(configuration.errors[6].find("\"fake@2:x=1\""), std::string::npos);
}

TEST(DeviceConfiguration, PublishesEachEntryUnderItsIndexWithTheModelsPath) {
    std::vector<std::string> optionsSeen;
    RegisterBackendFactory("fake", [&](const std::string& options, std::string*) {
        optionsSeen.push_back(options);
        return std::make_shared<test::FakeUsbBackend>();
    });
    RegisterBackendFactory("broken", [](const std::string&, std::string* error) {
        *error = "no such option \"speed\"";
        return std::shared_ptr<UsbBackend>();
    });

    std::vector<std::string> messages;
    std::string debugChannel;
    platform::SetDebugSink([&](const char* text) { debugChannel += text; });
    EXPECT_EQ(ApplyDeviceConfiguration("fake@1:seed=7;broken@2:speed=9;nosuch@3;fake@8;fake@12", &messages),
              2);
    EXPECT_EQ(optionsSeen, (std::vector<std::string>{"seed=7", ""}));
    platform::SetDebugSink(nullptr);
    std::string expectedChannel;
    for (const std::string& message : messages) expectedChannel += "usbscan: " + message + "\n";
    EXPECT_EQ(debugChannel, expectedChannel);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_NE(messages[0].find("index"), std::string::npos);  // fake@12
    EXPECT_NE(messages[1].find("no such option \"speed\""), std::string::npos);
    EXPECT_NE(messages[2].find("unknown backend"), std::string::npos);

    HANDLE handle = test::OpenDeviceHandle(test::FixedName(8));
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    handle = test::OpenDeviceHandle(DefaultInterfacePath(1) + "\\\\\\.\\USBScan0");
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    EXPECT_EQ(test::OpenDeviceHandle(test::FixedName(2)), INVALID_HANDLE_VALUE);
    WithdrawAll();
}

}  // namespace
}  // namespace b58::usbscan

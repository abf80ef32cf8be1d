// A sink set by a test takes the debugger-channel texts, on the stand-in and on Windows
// alike: there the texts are taken from the system's debug-output path while a sink is set.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

class DebugSinkTest : public ::testing::Test {
  protected:
    void TearDown() override { SetDebugSink({}); }
};

TEST_F(DebugSinkTest, SinkReceivesEachTextUntilRemovedOrReplaced) {
    std::vector<std::string> first;
    SetDebugSink([&](const char* text) { first.emplace_back(text); });
    OutputDebugStringA("\nC4:one");
    OutputDebugStringA("");
    SetDebugSink({});
    OutputDebugStringA("\nC4:after");  // goes to the system's channel, not to the old sink
    EXPECT_EQ(first, (std::vector<std::string>{"\nC4:one", ""}));

    // A sink set again after removal takes texts again; replacing it moves them to the new one.
    std::vector<std::string> second;
    std::vector<std::string> third;
    SetDebugSink([&](const char* text) { second.emplace_back(text); });
    OutputDebugStringA("two");
    SetDebugSink([&](const char* text) { third.emplace_back(text); });
    OutputDebugStringA("three");
    SetDebugSink({});
    EXPECT_EQ(first.size(), 2u);
    EXPECT_EQ(second, std::vector<std::string>{"two"});
    EXPECT_EQ(third, std::vector<std::string>{"three"});
}

TEST_F(DebugSinkTest, LongTextArrivesWhole) {
    const std::string text(70000, 'x');
    std::string seen;
    SetDebugSink([&](const char* received) { seen = received; });
    OutputDebugStringA(text.c_str());
    SetDebugSink({});
    EXPECT_EQ(seen, text);
}

TEST_F(DebugSinkTest, SinkIsNeverEnteredByTwoThreadsAtOnce) {
    // The sink keeps no lock of its own; the channel must serialise the calls.
    std::vector<std::string> seen;
    SetDebugSink([&](const char* text) { seen.emplace_back(text); });
    constexpr int kPerThread = 2000;
    auto writer = [](const char* text) {
        for (int i = 0; i < kPerThread; ++i) OutputDebugStringA(text);
    };
    std::thread a(writer, "a");
    std::thread b(writer, "b");
    a.join();
    b.join();
    SetDebugSink({});
    ASSERT_EQ(seen.size(), 2u * kPerThread);
}

}  // namespace
}  // namespace b58::platform

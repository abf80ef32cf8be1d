#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform_control.h"
#include "state/trace.h"

namespace b58 {
namespace {

class TraceOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTraceIndent();
        platform::SetDebugSink([this](const char* text) {
            std::lock_guard<std::mutex> hold(lock_);
            lines_.emplace_back(text);
        });
    }
    void TearDown() override {
        platform::SetDebugSink({});
        ResetTraceIndent();
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> hold(lock_);
        return lines_;
    }
    static std::string Line(size_t indent, const std::string& message) {
        return "\nC4:" + std::string(indent, ' ') + message;
    }

  private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

TEST_F(TraceOutput, FormatsEachMessageOnItsOwnLine) {
    Trace("RXDPI=%d SWWidth=%u", 300, 2550u);
    Trace("plain");
    Trace("%s", "");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"\nC4:RXDPI=300 SWWidth=2550", "\nC4:plain", "\nC4:"}));
}

TEST_F(TraceOutput, EnteringDeepensBeforeAndLeavingShallowsAfter) {
    Trace("<StartScan");
    Trace("<CalibrateAFE");
    Trace("gain");
    Trace(">CalibrateAFE");
    Trace(">StartScan");
    Trace("after");
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{Line(2, "<StartScan"), Line(4, "<CalibrateAFE"), Line(4, "gain"),
                                        Line(4, ">CalibrateAFE"), Line(2, ">StartScan"), Line(0, "after")}));
    EXPECT_EQ(TraceIndentDepth(), 0u);
}

TEST_F(TraceOutput, LeavingNeverGoesBelowZero) {
    Trace(">unmatched");
    Trace(">again");
    Trace("<in");
    EXPECT_EQ(Lines(), (std::vector<std::string>{Line(0, ">unmatched"), Line(0, ">again"), Line(2, "<in")}));
}

TEST_F(TraceOutput, IndentationStopsAtItsBuffer) {
    for (int i = 0; i < 200; ++i) Trace("<deep");
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 200u);
    EXPECT_EQ(lines[126], Line(254, "<deep"));
    // 255 spaces and the terminator fill the 256-byte buffer; deeper calls stay there.
    EXPECT_EQ(lines[127], Line(kTraceIndentSize - 1, "<deep"));
    EXPECT_EQ(lines[199], Line(kTraceIndentSize - 1, "<deep"));

    // From the cap, leaving again reaches zero and stays there.
    for (int i = 0; i < 200; ++i) Trace(">out");
    EXPECT_EQ(TraceIndentDepth(), 0u);
}

TEST_F(TraceOutput, LongMessageIsCutToItsBuffer) {
    for (int i = 0; i < 200; ++i) Trace("<deep");  // the longest possible line
    const std::string longText(2000, 'x');
    Trace("%s and more", longText.c_str());
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines.back(), Line(kTraceIndentSize - 1, std::string(kTraceMessageSize - 1, 'x')));
    // A cut message still steers the indentation by its first character.
    Trace(">%s", longText.c_str());
    EXPECT_EQ(TraceIndentDepth(), kTraceIndentSize - 3);
}

TEST_F(TraceOutput, TwoThreadsTracingAtOnceWriteWholeLines) {
    constexpr int kPerThread = 3000;
    const std::string a(300, 'a');
    const std::string b(300, 'b');
    auto tracer = [](const std::string& text) {
        for (int i = 0; i < kPerThread; ++i) {
            Trace("<%s", text.c_str());
            Trace(">%s", text.c_str());
        }
    };
    std::thread first(tracer, std::cref(a));
    std::thread second(tracer, std::cref(b));
    first.join();
    second.join();

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u * kPerThread);
    for (const std::string& line : lines) {
        ASSERT_TRUE(line.starts_with("\nC4:  ")) << line;
        const std::string message = line.substr(line.find_first_not_of(' ', 4));
        ASSERT_TRUE(message == "<" + a || message == ">" + a || message == "<" + b || message == ">" + b)
            << "torn line: " << line;
    }
    // Every deepening was matched by its own shallowing, none lost between the threads.
    EXPECT_EQ(TraceIndentDepth(), 0u);
}

}  // namespace
}  // namespace b58

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform_control.h"
#include "platform/win32.h"
#include "support/scratch_directory.h"

namespace b58::platform {
namespace {

std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class DebugOutput : public ::testing::Test {
  protected:
    void SetUp() override { unsetenv("B58_TRACE"); }
    void TearDown() override {
        SetDebugSink({});
        unsetenv("B58_TRACE");
    }
};

TEST_F(DebugOutput, NullTextIsIgnoredAndNoSinkMeansSilence) {
    std::vector<std::string> seen;
    SetDebugSink([&](const char* text) { seen.emplace_back(text); });
    OutputDebugStringA(nullptr);
    SetDebugSink({});
    EXPECT_TRUE(seen.empty());
    ::testing::internal::CaptureStderr();
    OutputDebugStringA("\nC4:after");  // no sink, no B58_TRACE
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(DebugOutput, EnvironmentSendsTextToAFileOrStandardError) {
    b58::testing::ScratchDirectory folder;
    std::string file = folder.Write("trace.log", "earlier\n");
    setenv("B58_TRACE", file.c_str(), 1);
    OutputDebugStringA("\nC4:a");
    OutputDebugStringA("\nC4:b");
    EXPECT_EQ(ReadAll(file), "earlier\n\nC4:a\nC4:b");  // appended, flushed at once

    // A test sink takes precedence over the environment.
    std::string captured;
    SetDebugSink([&](const char* text) { captured += text; });
    OutputDebugStringA("\nC4:c");
    SetDebugSink({});
    EXPECT_EQ(captured, "\nC4:c");
    EXPECT_EQ(ReadAll(file), "earlier\n\nC4:a\nC4:b");

    setenv("B58_TRACE", "stderr", 1);
    ::testing::internal::CaptureStderr();
    OutputDebugStringA("\nC4:to stderr");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\nC4:to stderr");
}

TEST_F(DebugOutput, MessageBoxWritesCaptionAndTextAndAnswersOk) {
    std::string captured;
    SetDebugSink([&](const char* text) { captured += text; });
    EXPECT_EQ(
        MessageBoxA(nullptr, "ProcessDownloadFirmware().ReadFileFromAnyWhere() Fail!", "TUVO.LIB", MB_OK),
        IDOK);
    EXPECT_NE(captured.find("TUVO.LIB"), std::string::npos) << captured;
    EXPECT_NE(captured.find("ProcessDownloadFirmware().ReadFileFromAnyWhere() Fail!"), std::string::npos);
}

}  // namespace
}  // namespace b58::platform

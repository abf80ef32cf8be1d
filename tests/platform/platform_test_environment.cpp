// Settings every platform test runs with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::test {
namespace {

class PlatformTestEnvironment : public testing::Environment {
  public:
    void SetUp() override {
#ifndef _WIN32
        // This run's named objects stay apart from those of runs going on at the same time;
        // its child processes inherit the setting and so share them.
        std::string ipcNamespace = "b58test-" + std::to_string(GetCurrentProcessId());
        setenv("B58_IPC_NAMESPACE", ipcNamespace.c_str(), 0);
#endif
        platform::SetTimeScale(0.01);
    }
};

const testing::Environment* const kPlatformTestEnvironment =
    testing::AddGlobalTestEnvironment(new PlatformTestEnvironment);

}  // namespace
}  // namespace b58::test

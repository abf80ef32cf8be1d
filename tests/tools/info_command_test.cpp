#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "driver_library.h"
#include "info_command.h"

namespace b58::tools {
namespace {

TEST(InfoCommand, ReportsTheDriverItsEntryPointsAndWhatGetVersionInfoReturned) {
    std::string error;
    auto driver = DriverLibrary::Load(DriverLibrary::DefaultPath(), error);
    ASSERT_NE(driver, nullptr) << error;
    std::ostringstream out;
    EXPECT_EQ(RunInfo(*driver, out), 0);
    const std::string text = out.str();
    EXPECT_NE(text.find("driver: " + driver->LoadedFile() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("entry points: 15 of 15 found"), std::string::npos) << text;
    EXPECT_EQ(text.find("MISSING"), std::string::npos) << text;
    EXPECT_NE(text.find("GetVersionInfo: returned "), std::string::npos) << text;
}

// An incomplete library is reported name by name and fails, and none of its (absent)
// entry points is called.
TEST(InfoCommand, AnIncompleteLibraryFailsWithoutCallingIt) {
#if defined(_WIN32)
    const char* other = "kernel32.dll";
#else
    const char* other = "libm.so.6";
#endif
    std::string error;
    auto library = DriverLibrary::Load(other, error);
    ASSERT_NE(library, nullptr) << error;
    std::ostringstream out;
    EXPECT_EQ(RunInfo(*library, out), 1);
    const std::string text = out.str();
    EXPECT_NE(text.find("entry points: 0 of 15 found"), std::string::npos) << text;
    EXPECT_NE(text.find("  StopScan         MISSING\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("GetVersionInfo: returned"), std::string::npos) << text;
}

}  // namespace
}  // namespace b58::tools

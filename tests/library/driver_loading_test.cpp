#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "driver_library.h"

namespace b58::tools {
using host::DriverLibrary;
using host::kEntryPointCount;
namespace {

// The program is built beside the driver, where a host looks for it.
TEST(DriverLoading, ResolvesEveryEntryPointOfTheDriverBesideTheProgram) {
    std::string error;
    auto driver = DriverLibrary::Load(DriverLibrary::DefaultPath(), error);
    ASSERT_NE(driver, nullptr) << error;
    EXPECT_TRUE(driver->Complete());
    std::set<void*> addresses;
    for (const char* name : kExportNames) {
        void* address = driver->EntryPoint(name);
        EXPECT_NE(address, nullptr) << name;
        addresses.insert(address);
    }
    // Fifteen distinct routines, not one name bound to another's code.
    EXPECT_EQ(addresses.size(), kEntryPointCount);
    EXPECT_NE(driver->LoadedFile().find("b58spi"), std::string::npos) << driver->LoadedFile();
}

TEST(DriverLoading, NamesOutsideTheInterfaceAreNotLookedUp) {
    std::string error;
    auto driver = DriverLibrary::Load(DriverLibrary::DefaultPath(), error);
    ASSERT_NE(driver, nullptr) << error;
    EXPECT_EQ(driver->EntryPoint("Open"), nullptr);
    EXPECT_EQ(driver->EntryPoint("_open"), nullptr);
    EXPECT_EQ(driver->EntryPoint(""), nullptr);
}

TEST(DriverLoading, AMissingFileIsReportedWithItsName) {
    std::string error;
    auto driver = DriverLibrary::Load("no-such-driver-b58.lib", error);
    EXPECT_EQ(driver, nullptr);
    EXPECT_NE(error.find("no-such-driver-b58.lib"), std::string::npos) << error;
}

// A library that loads but is not the driver: every entry point is reported missing, none
// is bound to something else of the same name.
TEST(DriverLoading, ALibraryWithoutTheEntryPointsIsIncomplete) {
#if defined(_WIN32)
    const char* other = "kernel32.dll";
#else
    const char* other = "libm.so.6";
#endif
    std::string error;
    auto library = DriverLibrary::Load(other, error);
    ASSERT_NE(library, nullptr) << error;
    EXPECT_FALSE(library->Complete());
    EXPECT_EQ(library->Missing().size(), kEntryPointCount);
    EXPECT_EQ(library->Function<decltype(&::GetVersionInfo)>("GetVersionInfo"), nullptr);
}

}  // namespace
}  // namespace b58::tools

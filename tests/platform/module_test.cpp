#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

std::string ExecutableWindowsName() {
    char path[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? ToWindowsPath(std::string(path, static_cast<size_t>(length))) : std::string();
}

std::string FileNameOf(HMODULE module) {
    char name[1024] = {};
    DWORD length = GetModuleFileNameA(module, name, sizeof name);
    return std::string(name, length);
}

class ModuleNames : public ::testing::Test {
  protected:
    void TearDown() override { SetModuleFileNameOverride(""); }
};

TEST_F(ModuleNames, NullModuleIsTheExecutableInWindowsForm) {
    std::string name = FileNameOf(nullptr);
    EXPECT_EQ(name, ExecutableWindowsName());
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_EQ(FileNameOf(GetModuleHandleA(nullptr)), name);
    // The override names the driver module only.
    SetModuleFileNameOverride("C:\\drivers\\b58spi.dll");
    EXPECT_EQ(FileNameOf(nullptr), name);
}

TEST_F(ModuleNames, DriverModuleAnswersToItsFileName) {
    SetModuleFileNameOverride("C:\\Windows\\twain_32\\b58spi.dll");
    HMODULE module = GetModuleHandleA("b58spi.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(FileNameOf(module), "C:\\Windows\\twain_32\\b58spi.dll");
    EXPECT_EQ(GetModuleHandleA("B58SPI.DLL"), module);
    EXPECT_EQ(GetModuleHandleA("b58spi"), module);  // ".dll" is implied
    EXPECT_EQ(GetModuleHandleA("c:\\windows\\TWAIN_32\\b58spi.dll"), module);

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetModuleHandleA("b58spi.exe"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("C:\\elsewhere\\b58spi.dll"), nullptr);
}

TEST_F(ModuleNames, SharedLibraryNameAnswersToTheDllName) {
    SetModuleFileNameOverride("\\opt\\scanner\\lib\\libb58spi.so");
    EXPECT_NE(GetModuleHandleA("b58spi.dll"), nullptr);
    EXPECT_NE(GetModuleHandleA("libb58spi.so"), nullptr);
    EXPECT_EQ(GetModuleHandleA("libb58spi.dll"), nullptr);

    // Loaded under another name: no handle for "b58spi.dll".
    SetModuleFileNameOverride("\\opt\\scanner\\lib\\libother.so");
    EXPECT_EQ(GetModuleHandleA("b58spi.dll"), nullptr);
}

TEST_F(ModuleNames, ShortBufferGetsACutTerminatedName) {
    SetModuleFileNameOverride("C:\\drv\\b58spi.dll");  // 17 characters
    HMODULE module = GetModuleHandleA("b58spi.dll");
    ASSERT_NE(module, nullptr);

    char buffer[24];
    auto call = [&](DWORD size) {
        std::memset(buffer, '#', sizeof buffer);
        SetLastError(ERROR_SUCCESS);
        return GetModuleFileNameA(module, buffer, size);
    };

    EXPECT_EQ(call(18), 17u);  // exactly room for the terminator
    EXPECT_STREQ(buffer, "C:\\drv\\b58spi.dll");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    EXPECT_EQ(call(17), 17u);  // one short: cut to 16 characters
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(buffer, "C:\\drv\\b58spi.dl");
    EXPECT_EQ(buffer[17], '#');

    EXPECT_EQ(call(5), 5u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(buffer, "C:\\d");
    EXPECT_EQ(buffer[5], '#');

    EXPECT_EQ(call(0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer[0], '#');
}

TEST_F(ModuleNames, UnknownHandleIsRefused) {
    char name[16] = {};
    int notAModule = 0;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&notAModule), name, sizeof name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
}  // namespace b58::platform

namespace b58::platform {
namespace {

// The driver library finds its own file, not the program's, and answers to its Windows name.
TEST(ModuleInALibrary, LibraryFindsItsOwnFile) {
    void* library = dlopen(B58_MODULE_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Probe = DWORD (*)(const char*, char*, DWORD);
    auto probe = reinterpret_cast<Probe>(dlsym(library, "ProbeOwnFileName"));
    ASSERT_NE(probe, nullptr);

    char name[PATH_MAX] = {};
    char resolved[PATH_MAX] = {};
    ASSERT_NE(realpath(B58_MODULE_PROBE_PATH, resolved), nullptr);
    EXPECT_EQ(std::string(name, probe("module_probe.dll", name, sizeof name)), ToWindowsPath(resolved));
    EXPECT_EQ(probe("MODULE_PROBE", name, sizeof name), std::strlen(resolved));
    EXPECT_EQ(probe("b58spi.dll", name, sizeof name), 0u);
    dlclose(library);
}

}  // namespace
}  // namespace b58::platform

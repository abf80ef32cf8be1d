#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform_control.h"
#include "platform/win32.h"
#include "settings/settings.h"

#if !defined(_WIN32)
#include <unistd.h>

#include <climits>

#include "support/scratch_directory.h"
#endif

namespace b58 {
namespace {

// Every key with a value of its own; the decoy section before it holds other values.
constexpr const char kFullFile[] =
    "[OTHER]\nTOPADD=9999\nMIN_DARK=9999\nFACTOR=9999\n"
    "[ZTK]\n"
    "LEFTADD=11\nTOPADD=12\nKSTARTY=13\nTATOPADD=14\nTAKSTARTY=15\n"
    "MIN_DARK=21\nMAX_DARK=22\nBLACKSHADING=23\nRAWDATA=24\nFACTOR=25\nLEVEL2DONE=26\n"
    "L1_R_W_MAX=31\nL1_G_W_MAX=32\nL1_B_W_MAX=33\nL1_R_W_MIN=34\nL1_G_W_MIN=35\nL1_B_W_MIN=36\n"
    "L2_R_W_MAX=41\nL2_G_W_MAX=42\nL2_B_W_MAX=43\nL2_R_W_MIN=44\nL2_G_W_MIN=45\nL2_B_W_MIN=46\n"
    "RGAIN_INIT=51\nGGAIN_INIT=52\nBGAIN_INIT=53\n";

// The settings file lies beside the driver module. On Windows the system names the module:
// the driver is linked into this program, so that is the program's own folder. On the
// stand-in the test names the module, in a scratch folder of its own.
class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
#if defined(_WIN32)
        char program[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
        ASSERT_GT(length, 0u);
        ASSERT_LT(length, DWORD{MAX_PATH});
        settingsFile_ = std::filesystem::path(program).parent_path() / "ztb58.ini";
        expectedPath_ = settingsFile_.string();
        if (length >= kModuleNameChars || expectedPath_.size() >= kCalibrationPathSize) {
            GTEST_SKIP() << "the test program's name is too long for the module-name buffer: " << program;
        }
        RemoveSettings();  // left behind by an interrupted run
#else
        ModuleAt(WindowsForm(folder_.Name("b58spi.dll")));
        settingsFile_ = folder_.Path() / "ztb58.ini";
        expectedPath_ = WindowsForm(folder_.Name("ztb58.ini"));
#endif
    }
    void TearDown() override {
        RemoveSettings();
        platform::SetModuleFileNameOverride("");
    }

    void WriteSettings(const std::string& content) const {
        std::ofstream(settingsFile_, std::ios::binary | std::ios::trunc) << content;
    }
    void RemoveSettings() const {
        std::error_code ignored;
        std::filesystem::remove(settingsFile_, ignored);
    }
#if !defined(_WIN32)
    static std::string WindowsForm(const std::string& posixPath) {
        return "C:" + platform::ToWindowsPath(posixPath);
    }
    static void ModuleAt(const std::string& windowsName) {
        platform::SetModuleFileNameOverride(windowsName);
    }
#endif

    static void ExpectOpenTime(const OpenTimeSettings& read, uint16_t left, uint16_t top, uint16_t kstarty,
                               uint16_t tatop, uint16_t takstarty) {
        EXPECT_EQ(read.LEFTADD, left);
        EXPECT_EQ(read.TOPADD, top);
        EXPECT_EQ(read.KSTARTY, kstarty);
        EXPECT_EQ(read.TATOPADD, tatop);
        EXPECT_EQ(read.TAKSTARTY, takstarty);
    }
    static void ExpectCalibrationDefaults(const CalibrationSettings& s) {
        EXPECT_EQ(s.MIN_DARK, 40);
        EXPECT_EQ(s.MAX_DARK, 50);
        EXPECT_EQ(s.BLACKSHADING, 0);
        EXPECT_EQ(s.RAWDATA, 0);
        EXPECT_EQ(s.FACTOR, 100);
        EXPECT_EQ(s.LEVEL2DONE, 1);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(s.L1_W_MAX[c], 235);
            EXPECT_EQ(s.L1_W_MIN[c], 225);
            EXPECT_EQ(s.L2_W_MAX[c], 235);
            EXPECT_EQ(s.L2_W_MIN[c], 225);
            EXPECT_EQ(s.GAIN_INIT[c], 2);
        }
    }

    std::filesystem::path settingsFile_;  // where this test puts the file
    std::string expectedPath_;            // the name the driver should build for it
#if !defined(_WIN32)
    testing::ScratchDirectory folder_;
#endif
};

TEST_F(SettingsFile, NoFileGivesEveryDefault) {
    ExpectOpenTime(ReadOpenTimeSettings(), 0, 120, 0, 300, 450);
    ExpectCalibrationDefaults(ReadCalibrationSettings(true));
    const ShadingSettings kept = ReadCalibrationSettings(false).Kept();
    EXPECT_EQ(kept.BLACKSHADING, 0);
    EXPECT_EQ(kept.RAWDATA, 0);
    EXPECT_EQ(kept.FACTOR, 100);
    // The file was looked for beside the module.
    EXPECT_EQ(std::string(CalibrationSettingsPath()), expectedPath_);
}

TEST_F(SettingsFile, EachKeyIsReadFromSectionZtkByItsName) {
    WriteSettings(kFullFile);
    ExpectOpenTime(ReadOpenTimeSettings(), 11, 12, 13, 14, 15);

    const CalibrationSettings s = ReadCalibrationSettings(true);
    EXPECT_EQ(s.MIN_DARK, 21);
    EXPECT_EQ(s.MAX_DARK, 22);
    EXPECT_EQ(s.BLACKSHADING, 23);
    EXPECT_EQ(s.RAWDATA, 24);
    EXPECT_EQ(s.FACTOR, 25);
    EXPECT_EQ(s.LEVEL2DONE, 26);
    for (uint16_t c = 0; c < 3; ++c) {
        EXPECT_EQ(s.L1_W_MAX[c], 31 + c);
        EXPECT_EQ(s.L1_W_MIN[c], 34 + c);
        EXPECT_EQ(s.L2_W_MAX[c], 41 + c);
        EXPECT_EQ(s.L2_W_MIN[c], 44 + c);
        EXPECT_EQ(s.GAIN_INIT[c], 51 + c);
    }
}

TEST_F(SettingsFile, DarkLimitsOnlyForTheFlatbedAndThreeValuesKeptDriverWide) {
    WriteSettings(kFullFile);
    const CalibrationSettings adapter = ReadCalibrationSettings(false);
    EXPECT_EQ(adapter.MIN_DARK, 40);
    EXPECT_EQ(adapter.MAX_DARK, 50);
    EXPECT_EQ(adapter.LEVEL2DONE, 26);
    EXPECT_EQ(adapter.L2_W_MIN[0], 44);
    EXPECT_EQ(adapter.Kept().BLACKSHADING, 23);
    EXPECT_EQ(adapter.Kept().RAWDATA, 24);
    EXPECT_EQ(adapter.Kept().FACTOR, 25);

    // Refreshed at every read, so an edited file counts at the next scan.
    WriteSettings("[ZTK]\nFACTOR=90\n");
    const CalibrationSettings flatbed = ReadCalibrationSettings(true);
    EXPECT_EQ(flatbed.MIN_DARK, 40);
    EXPECT_EQ(flatbed.Kept().BLACKSHADING, 0);
    EXPECT_EQ(flatbed.Kept().RAWDATA, 0);
    EXPECT_EQ(flatbed.Kept().FACTOR, 90);
}

TEST_F(SettingsFile, ValuesKeepTheirLow16Bits) {
    WriteSettings("[ZTK]\nTOPADD=70000\nLEFTADD=-1\nKSTARTY=0x10010\nFACTOR=65536\nRGAIN_INIT=258\n");
    const OpenTimeSettings open = ReadOpenTimeSettings();
    EXPECT_EQ(open.TOPADD, 70000 & 0xFFFF);
    EXPECT_EQ(open.LEFTADD, 0xFFFF);
    EXPECT_EQ(open.KSTARTY, 0x10);
    const CalibrationSettings s = ReadCalibrationSettings(true);
    EXPECT_EQ(s.FACTOR, 0);
    EXPECT_EQ(s.GAIN_INIT[0], 258);  // kept at 16 bits; the calibration uses the low 8
}

TEST_F(SettingsFile, PathThatDoesNotFitTheBufferIsRefused) {
    const size_t length = expectedPath_.size();
    char buffer[kOpenTimePathSize + 8];
    ASSERT_LT(length + 1, sizeof buffer);
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(BuildSettingsPath(buffer, length));
    EXPECT_EQ(buffer[0], '\0');
    for (size_t i = 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], '#') << "byte " << i;
    EXPECT_TRUE(BuildSettingsPath(buffer, length + 1));
    EXPECT_EQ(std::string(buffer), expectedPath_);
}

// Module names only the stand-in can give.
#if !defined(_WIN32)

TEST_F(SettingsFile, ModuleNameWithoutADirectoryIsUsedWhole) {
    char path[kOpenTimePathSize];
    ModuleAt("b58spi.dll");
    ASSERT_TRUE(BuildSettingsPath(path, sizeof path));
    EXPECT_STREQ(path, "b58spi.dll\\ztb58.ini");
    // A backslash at the very start is never taken as the cut.
    ModuleAt("\\b58spi.dll");
    ASSERT_TRUE(BuildSettingsPath(path, sizeof path));
    EXPECT_STREQ(path, "\\b58spi.dll\\ztb58.ini");
}

TEST_F(SettingsFile, ModuleUnderAnotherNameFallsBackToTheProgramsFolder) {
    ModuleAt(WindowsForm(folder_.Name("renamed.dll")));
    char program[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", program, sizeof program - 1), 0);
    const std::string expected =
        platform::ToWindowsPath(std::filesystem::path(program).parent_path().string()) + "\\ztb58.ini";
    if (expected.size() - 10 + 1 + std::strlen("settings_tests") >= kModuleNameChars) {
        GTEST_SKIP() << "the test program's name is too long for the module-name buffer";
    }
    char path[kOpenTimePathSize];
    ASSERT_TRUE(BuildSettingsPath(path, sizeof path));
    EXPECT_EQ(std::string(path), expected);
}

TEST_F(SettingsFile, TooLongModuleNameGivesDefaultsAndNeverOverflows) {
    // Names of 99 characters fit the module-name buffer; 100 come back cut and are refused.
    const std::string base = WindowsForm(folder_.Path().string());
    const size_t fixed = base.size() + 1 + std::strlen("\\b58spi.dll");
    ASSERT_LT(fixed + 1, 99u) << "temporary folder name too long for this test";
    for (size_t nameLength : {size_t{99}, size_t{100}, size_t{101}, size_t{180}}) {
        SCOPED_TRACE(nameLength);
        const std::string directory = std::string(nameLength - fixed, 'd');
        std::filesystem::create_directories(folder_.Path() / directory);
        folder_.Write(directory + "/ztb58.ini", kFullFile);
        ModuleAt(base + "\\" + directory + "\\b58spi.dll");

        const OpenTimeSettings open = ReadOpenTimeSettings();
        const CalibrationSettings s = ReadCalibrationSettings(true);
        if (nameLength < kModuleNameChars) {
            ExpectOpenTime(open, 11, 12, 13, 14, 15);
            EXPECT_EQ(s.FACTOR, 25);
            EXPECT_EQ(std::strlen(CalibrationSettingsPath()), nameLength - 11 + 10);
        } else {
            ExpectOpenTime(open, 0, 120, 0, 300, 450);
            ExpectCalibrationDefaults(s);
            EXPECT_STREQ(CalibrationSettingsPath(), "");
        }
    }
}

#endif  // !_WIN32

}  // namespace
}  // namespace b58

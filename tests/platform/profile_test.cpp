// GetPrivateProfileIntA against the shared table of the platform's reading rules. Uses
// only the Windows function and the standard library, so it runs on Windows as well.
#include <gtest/gtest.h>

#include <string>

#include "platform/profile_cases.h"
#include "platform/win32.h"
#include "support/scratch_directory.h"

namespace b58::testing {
namespace {

int ReadInt(const char* section, const char* key, const std::string& file) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, kProfileDefault, file.c_str()));
}

TEST(ProfileInt, ValueTextBecomesANumberAsOnThePlatform) {
    ScratchDirectory folder;
    for (const ProfileValueCase& c : kProfileValueCases) {
        std::string file = folder.Write("values.ini", std::string("[ZTK]\nKEY=") + c.text + "\n");
        EXPECT_EQ(ReadInt("ZTK", "KEY", file), c.expected) << "value text \"" << c.text << "\"";
    }
}

TEST(ProfileInt, SectionsKeysAndLinesAsOnThePlatform) {
    ScratchDirectory folder;
    for (const ProfileFileCase& c : kProfileFileCases) {
        std::string file = folder.Write("layout.ini", c.content);
        EXPECT_EQ(ReadInt(c.section, c.key, file), c.expected) << c.what;
    }
}

TEST(ProfileInt, MissingFileSectionOrKeyGivesTheDefault) {
    ScratchDirectory folder;
    std::string file = folder.Write("present.ini", "[ZTK]\nKEY=1\n");
    EXPECT_EQ(ReadInt("ZTK", "KEY", file), 1);
    EXPECT_EQ(ReadInt("ZTK", "NOKEY", file), kProfileDefault);
    EXPECT_EQ(ReadInt("NOSECTION", "KEY", file), kProfileDefault);
    EXPECT_EQ(ReadInt("ZTK", "KEY", folder.Name("absent.ini")), kProfileDefault);
    EXPECT_EQ(ReadInt("ZTK", "KEY", folder.Name("no-folder/absent.ini")), kProfileDefault);
    // The default is returned as given, negative ones too.
    EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("ZTK", "NOKEY", -3, file.c_str())), -3);
}

TEST(ProfileInt, AnEditedFileIsReadAgain) {
    ScratchDirectory folder;
    std::string file = folder.Write("edited.ini", "[ZTK]\nKEY=1\n");
    EXPECT_EQ(ReadInt("ZTK", "KEY", file), 1);
    folder.Write("edited.ini", "[ZTK]\nKEY=2\n");
    EXPECT_EQ(ReadInt("ZTK", "KEY", file), 2);
}

}  // namespace
}  // namespace b58::testing

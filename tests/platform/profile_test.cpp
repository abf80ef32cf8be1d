// GetPrivateProfileIntA against the shared table of the platform's reading rules. Uses
// only the Windows function and the standard library, so it runs on Windows as well.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

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

// A file unchanged for a while is read once and then looked up; the lookups follow the same
// rules, and an edit still shows at the next read.
TEST(ProfileInt, AnUnchangedFileReadsAsAFreshOneAndAnEditShows) {
    ScratchDirectory folder;
    std::vector<std::string> files;
    for (size_t i = 0; i < std::size(kProfileFileCases); ++i)
        files.push_back(folder.Write("settled" + std::to_string(i) + ".ini", kProfileFileCases[i].content));
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // older than the times' granularity
    for (size_t i = 0; i < std::size(kProfileFileCases); ++i) {
        const ProfileFileCase& c = kProfileFileCases[i];
        EXPECT_EQ(ReadInt(c.section, c.key, files[i]), c.expected) << c.what;
        EXPECT_EQ(ReadInt(c.section, c.key, files[i]), c.expected) << c.what << " (again)";
    }
    folder.Write("settled0.ini", "[ZTK]\nKEY=7\n");
    EXPECT_EQ(ReadInt("ZTK", "KEY", files[0]), 7);
}

}  // namespace
}  // namespace b58::testing

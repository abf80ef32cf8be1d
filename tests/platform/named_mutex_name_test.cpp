// How the stand-in names the shared objects behind named mutexes.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/named_mutex.h"

namespace b58::test {
namespace {

std::string ObjectName(const char* name, const std::string& ipcNamespace = "") {
    std::string objectName;
    DWORD error = platform::SharedObjectName(name, ipcNamespace, &objectName);
    return error == ERROR_SUCCESS ? objectName : "error " + std::to_string(error);
}

TEST(SharedObjectNameTest, NamespacePrefixesNameTheOneNamespace) {
    EXPECT_EQ(ObjectName("Global\\Lock"), ObjectName("Lock"));
    EXPECT_EQ(ObjectName("Local\\Lock"), ObjectName("Lock"));
    EXPECT_EQ(ObjectName("global\\Lock"), ObjectName("Lock"));
    EXPECT_NE(ObjectName("lock"), ObjectName("Lock")) << "names are case-sensitive";
    EXPECT_EQ(ObjectName("Global\\"), "error " + std::to_string(ERROR_INVALID_PARAMETER));
}

TEST(SharedObjectNameTest, EveryNameGivesAUsableDistinctObjectName) {
    const std::string plain = ObjectName("R9_Lock.1");
    EXPECT_EQ(plain, "/b58--mutex-R9_Lock.1");
    const std::string escaped = ObjectName("a/b c\\%");
    EXPECT_EQ(escaped.find('/', 1), std::string::npos);
    EXPECT_EQ(escaped, "/b58--mutex-a%2Fb%20c%5C%25");
    EXPECT_NE(ObjectName("a/b"), ObjectName("a_b"));
    EXPECT_NE(ObjectName("a%2Fb"), ObjectName("a/b"));
}

TEST(SharedObjectNameTest, RunNamespaceKeepsRunsApart) {
    EXPECT_EQ(ObjectName("Lock", "run-7"), "/b58-run%2D7-mutex-Lock");
    EXPECT_NE(ObjectName("Lock", "a"), ObjectName("Lock", "b"));
}

TEST(SharedObjectNameTest, OverlongNamesAreRefused) {
    const std::string longest(255 - std::string("b58--mutex-").size(), 'x');
    EXPECT_NE(ObjectName(longest.c_str()).rfind("error", 0), 0u);
    EXPECT_EQ(ObjectName((longest + "x").c_str()), "error " + std::to_string(ERROR_FILENAME_EXCED_RANGE));
}

}  // namespace
}  // namespace b58::test
#endif

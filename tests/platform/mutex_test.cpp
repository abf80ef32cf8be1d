#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "test_threads.h"
#include "unique_name.h"

namespace b58::test {
namespace {

// What another thread gets when it waits briefly for the mutex (and gives back what it got).
DWORD OtherThreadWaits(HANDLE mutex) {
    return RunOnOtherThread([mutex] {
        DWORD result = WaitForSingleObject(mutex, 100);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
        return result;
    });
}

// The rules every mutex follows, named or not.
class MutexTest : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        name_ = UniqueName("mutex");
        mutex_ = Create(FALSE);
        ASSERT_NE(mutex_, nullptr);
    }
    void TearDown() override { CloseHandle(mutex_); }

    HANDLE Create(BOOL initialOwner) {
        return CreateMutexA(nullptr, initialOwner, GetParam() ? name_.c_str() : nullptr);
    }

    std::string name_;
    HANDLE mutex_ = nullptr;
};

TEST_P(MutexTest, OwnerMayWaitAgainAndMustReleaseAsOften) {
    ASSERT_EQ(WaitForSingleObject(mutex_, 0), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(mutex_, 100), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(mutex_, INFINITE), WAIT_OBJECT_0);

    EXPECT_TRUE(ReleaseMutex(mutex_));
    EXPECT_TRUE(ReleaseMutex(mutex_));
    EXPECT_EQ(OtherThreadWaits(mutex_), WAIT_TIMEOUT) << "still owned at one level";
    EXPECT_TRUE(ReleaseMutex(mutex_));
    EXPECT_EQ(OtherThreadWaits(mutex_), WAIT_OBJECT_0);

    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(mutex_)) << "released more often than taken";
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
}

TEST_P(MutexTest, OnlyTheOwnerMayRelease) {
    ASSERT_EQ(WaitForSingleObject(mutex_, 0), WAIT_OBJECT_0);
    DWORD otherRelease = RunOnOtherThread([this] {
        SetLastError(0);
        return ReleaseMutex(mutex_) ? ERROR_SUCCESS : GetLastError();
    });
    EXPECT_EQ(otherRelease, ERROR_NOT_OWNER);
    EXPECT_EQ(OtherThreadWaits(mutex_), WAIT_TIMEOUT) << "the failed release must not free it";
    EXPECT_TRUE(ReleaseMutex(mutex_));
}

TEST_P(MutexTest, InitialOwnerOwnsTheNewMutex) {
    CloseHandle(mutex_);
    name_ = UniqueName("owned");
    mutex_ = Create(TRUE);
    ASSERT_NE(mutex_, nullptr);
    EXPECT_EQ(OtherThreadWaits(mutex_), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex_));
    EXPECT_EQ(OtherThreadWaits(mutex_), WAIT_OBJECT_0);
}

TEST_P(MutexTest, WaiterGetsItWhenTheOwnerReleases) {
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE owner = StartThread([&] {
        WaitForSingleObject(mutex_, INFINITE);
        SetEvent(taken);
        WaitForSingleObject(release, INFINITE);
        return ReleaseMutex(mutex_) ? 0u : 1u;
    });
    ASSERT_NE(owner, nullptr);
    ASSERT_EQ(WaitForSingleObject(taken, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex_, 10), WAIT_TIMEOUT);
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(mutex_, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex_));
    WaitForSingleObject(owner, INFINITE);
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeThread(owner, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(owner);
    CloseHandle(taken);
    CloseHandle(release);
}

TEST_P(MutexTest, ThreadEndingWhileOwningLeavesItAbandonedToTheNextWaiter) {
    DWORD ownerResult = RunOnOtherThread([this] {
        // Owned at two levels, and never released.
        return WaitForSingleObject(mutex_, 0) == WAIT_OBJECT_0 &&
                       WaitForSingleObject(mutex_, 0) == WAIT_OBJECT_0
                   ? 0u
                   : 1u;
    });
    ASSERT_EQ(ownerResult, 0u);

    EXPECT_EQ(WaitForSingleObject(mutex_, 5000), WAIT_ABANDONED);
    EXPECT_EQ(OtherThreadWaits(mutex_), WAIT_TIMEOUT) << "the waiter owns it now";
    EXPECT_TRUE(ReleaseMutex(mutex_));
    EXPECT_FALSE(ReleaseMutex(mutex_)) << "the new owner holds one level, not the old owner's two";
    EXPECT_EQ(WaitForSingleObject(mutex_, 0), WAIT_OBJECT_0) << "abandoned once, reported once";
    EXPECT_TRUE(ReleaseMutex(mutex_));
}

INSTANTIATE_TEST_SUITE_P(NamedAndUnnamed, MutexTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& kind) {
                             return kind.param ? "Named" : "Unnamed";
                         });

TEST(NamedMutexTest, CreatingAnExistingNameOpensItWithoutTakingIt) {
    const std::string name = UniqueName("existing");
    SetLastError(ERROR_GEN_FAILURE);
    HANDLE first = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    HANDLE second = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(ReleaseMutex(second)) << "an existing mutex is opened, not taken";
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);

    ASSERT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_EQ(OtherThreadWaits(second), WAIT_TIMEOUT) << "both handles name one mutex";
    EXPECT_TRUE(ReleaseMutex(second)) << "any handle releases the owner's mutex";
    CloseHandle(first);
    CloseHandle(second);
}

TEST(NamedMutexTest, OpenFindsANameOnlyWhileSomeHandleKeepsItOpen) {
    const std::string name = UniqueName("open");
    SetLastError(0);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    HANDLE created = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(created, nullptr);
    HANDLE opened = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(CloseHandle(created));
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0) << "the opened handle keeps the mutex";
    EXPECT_TRUE(ReleaseMutex(opened));
    EXPECT_TRUE(CloseHandle(opened));

    SetLastError(0);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr) << "gone with its last handle";
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(NamedMutexTest, OwnershipOutlivesTheHandleItWasTakenThrough) {
    const std::string name = UniqueName("handles");
    HANDLE first = CreateMutexA(nullptr, FALSE, name.c_str());
    HANDLE second = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(OtherThreadWaits(first), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(first));
    EXPECT_EQ(OtherThreadWaits(first), WAIT_OBJECT_0);
    CloseHandle(first);
}

TEST(NamedMutexTest, ClosingTheLastHandleEndsTheMutexEvenIfOwned) {
    const std::string name = UniqueName("closed-owned");
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_TRUE(CloseHandle(mutex)) << "closed by its owner, never released";

    SetLastError(0);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE fresh = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(OtherThreadWaits(fresh), WAIT_OBJECT_0) << "the new mutex is free";
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(fresh));
    EXPECT_FALSE(ReleaseMutex(fresh)) << "owned at one level: the old mutex's ownership does not carry over";
    CloseHandle(fresh);
}

TEST(NamedMutexTest, NamespacePrefixesAreAccepted) {
    const std::string name = UniqueName("prefixed");
    for (const char* prefix : {"Global\\", "Local\\"}) {
        const std::string prefixed = prefix + name;
        HANDLE created = CreateMutexA(nullptr, FALSE, prefixed.c_str());
        ASSERT_NE(created, nullptr) << prefix;
        HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, prefixed.c_str());
        EXPECT_NE(opened, nullptr) << prefix;
        CloseHandle(opened);
        CloseHandle(created);
    }
#ifndef _WIN32
    // Here both prefixes name the one namespace of the machine.
    HANDLE global = CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
    ASSERT_NE(global, nullptr);
    for (const std::string& same : {name, "Local\\" + name}) {
        HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, same.c_str());
        EXPECT_NE(opened, nullptr) << same;
        CloseHandle(opened);
    }
    CloseHandle(global);
#endif
}

}  // namespace
}  // namespace b58::test

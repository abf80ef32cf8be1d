#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/win32.h"
#include "test_threads.h"

namespace b58::test {
namespace {

TEST(EventTest, ManualResetEventReleasesEveryWaitUntilReset) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(EventTest, AutoResetEventReleasesOneWaitPerSet) {
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "created signalled";
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "the wait consumed it";
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT) << "signals do not add up";
    CloseHandle(event);
}

TEST(EventTest, SettingWakesWaitingThreads) {
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::vector<HANDLE> threads;
    for (int i = 0; i < 3; ++i) {
        threads.push_back(StartThread([&] {
            DWORD result = WaitForSingleObject(manual, INFINITE);
            woken.fetch_add(1);
            return result;
        }));
        ASSERT_NE(threads.back(), nullptr);
    }
    HANDLE single = StartThread([&] { return WaitForSingleObject(automatic, INFINITE); });
    ASSERT_NE(single, nullptr);

    EXPECT_TRUE(SetEvent(manual));
    EXPECT_TRUE(SetEvent(automatic));
    for (HANDLE thread : threads) {
        EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    EXPECT_EQ(woken.load(), 3) << "a manual-reset event wakes every waiter";
    EXPECT_EQ(WaitForSingleObject(single, 5000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeThread(single, &exitCode);
    EXPECT_EQ(exitCode, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT) << "the woken waiter consumed the signal";
    CloseHandle(single);
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(EventTest, CallsOnHandlesThatAreNoEventsFail) {
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FF0));
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(bogus));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(mutex));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    EXPECT_TRUE(CloseHandle(mutex));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(mutex)) << "already closed";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace b58::test

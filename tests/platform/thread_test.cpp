#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/win32.h"
#include "test_threads.h"

namespace b58::test {
namespace {

TEST(ThreadTest, WaitEndsWithTheThreadAndItsExitCodeIsKept) {
    HANDLE thread = StartThread([] {
        Sleep(10);
        return 42u;
    });
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 42u);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(ThreadTest, RunningThreadIsStillActiveAndWaitsForItTimeOut) {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread =
        StartThread([go] { return WaitForSingleObject(go, INFINITE) == WAIT_OBJECT_0 ? 7u : 8u; });
    ASSERT_NE(thread, nullptr);
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT);

    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 7u);
    CloseHandle(thread);
    CloseHandle(go);
}

TEST(ThreadTest, SeveralWaitersAllSeeTheEnd) {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE worker = StartThread([go] {
        WaitForSingleObject(go, INFINITE);
        return 0u;
    });
    ASSERT_NE(worker, nullptr);
    std::vector<HANDLE> waiters;
    for (DWORD timeout : {DWORD{INFINITE}, DWORD{10}, DWORD{60000}, DWORD{INFINITE}}) {
        waiters.push_back(StartThread([worker, timeout] {
            // Short waits may time out first; every waiter ends up seeing the end.
            DWORD result;
            while ((result = WaitForSingleObject(worker, timeout)) == WAIT_TIMEOUT) {
            }
            return result;
        }));
        ASSERT_NE(waiters.back(), nullptr);
    }
    Sleep(20);
    SetEvent(go);
    for (HANDLE waiter : waiters) {
        EXPECT_EQ(WaitForSingleObject(waiter, 5000), WAIT_OBJECT_0);
        DWORD result = 1;
        GetExitCodeThread(waiter, &result);
        EXPECT_EQ(result, WAIT_OBJECT_0);
        CloseHandle(waiter);
    }
    CloseHandle(worker);
    CloseHandle(go);
}

TEST(ThreadTest, ThreadRunsOnAfterItsHandleIsClosed) {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> value{0};
    HANDLE thread = StartThread([&] {
        WaitForSingleObject(go, INFINITE);
        value.store(5);
        SetEvent(done);
        return 0u;
    });
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    SetEvent(go);
    ASSERT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(value.load(), 5);
    CloseHandle(go);
    CloseHandle(done);
}

// A tiny stack size asks for no particular stack: the thread still has room to work.
DWORD WINAPI UseHalfAMegabyteOfStack(LPVOID parameter) {
    volatile char block[512 * 1024];
    std::memset(const_cast<char*>(block), 1, sizeof(block));
    *static_cast<DWORD*>(parameter) = GetCurrentThreadId();
    return block[sizeof(block) - 1];
}

TEST(ThreadTest, ThreadWithTheSmallestStackSizeRunsAndKnowsItsId) {
    DWORD seenId = 0;
    DWORD reportedId = 0;
    HANDLE thread = CreateThread(nullptr, 1, UseHalfAMegabyteOfStack, &seenId, 0, &reportedId);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 1u);
    EXPECT_NE(reportedId, 0u);
    EXPECT_EQ(seenId, reportedId);
    EXPECT_NE(reportedId, GetCurrentThreadId());
    CloseHandle(thread);
}

TEST(ThreadTest, ThreadsShareTheProcessId) {
    const DWORD processId = GetCurrentProcessId();
    EXPECT_NE(processId, 0u);
    EXPECT_EQ(RunOnOtherThread([] { return GetCurrentProcessId(); }), processId);
}

// A thread waiting for its own end: a finite wait runs out (an infinite one would never end).
DWORD WINAPI WaitForOwnEnd(LPVOID parameter) {
    return WaitForSingleObject(*static_cast<HANDLE*>(parameter), 20);
}

TEST(ThreadTest, ThreadWaitingForItsOwnEndTimesOut) {
    HANDLE self = nullptr;
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    struct Start {
        HANDLE* self;
        HANDLE go;
    } start{&self, go};
    HANDLE thread = StartThread([&start] {
        WaitForSingleObject(start.go, INFINITE);
        return WaitForOwnEnd(start.self);
    });
    ASSERT_NE(thread, nullptr);
    self = thread;
    SetEvent(go);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    DWORD result = 0;
    GetExitCodeThread(thread, &result);
    EXPECT_EQ(result, WAIT_TIMEOUT);
    CloseHandle(thread);
    CloseHandle(go);
}

#ifndef _WIN32
TEST(ThreadTest, SuspendedStartIsRefusedCleanly) {
    DWORD ran = 0;
    SetLastError(0);
    HANDLE thread = CreateThread(nullptr, 0, UseHalfAMegabyteOfStack, &ran, CREATE_SUSPENDED, nullptr);
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    Sleep(10);
    EXPECT_EQ(ran, 0u);
}
#endif

}  // namespace
}  // namespace b58::test

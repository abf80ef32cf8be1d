// Named mutexes between processes: the second process is this test program run again.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/win32.h"
#include "unique_name.h"

namespace b58::test {
namespace {

// Exit codes of the child roles.
enum ChildResult {
    kOpenFailed = 3,
    kGotIt = 10,
    kGotItAbandoned = 11,
    kTimedOut = 12,
    kWaitFailed = 13,
    kCreatedNew = 20,
    kOpenedExisting = 21,
};

int ResultOfWait(DWORD result) {
    switch (result) {
        case WAIT_OBJECT_0:
            return kGotIt;
        case WAIT_ABANDONED:
            return kGotItAbandoned;
        case WAIT_TIMEOUT:
            return kTimedOut;
        default:
            return kWaitFailed;
    }
}

// Arguments: name, time-out in ms. Opens the mutex as the driver does, waits, and releases
// what it got.
int WaitForMutex(const std::vector<std::string>& arguments) {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, arguments.at(0).c_str());
    if (mutex == nullptr) return kOpenFailed;
    DWORD result = WaitForSingleObject(mutex, static_cast<DWORD>(std::stoul(arguments.at(1))));
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    CloseHandle(mutex);
    return ResultOfWait(result);
}

// Argument: name. Takes the mutex and ends the process while owning it.
int TakeMutexAndDie(const std::vector<std::string>& arguments) {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, arguments.at(0).c_str());
    if (mutex == nullptr) return kOpenFailed;
    return ResultOfWait(WaitForSingleObject(mutex, 5000));
}

// Arguments: name, "own" or "leave". Creates the mutex (owning it if asked) and ends,
// telling whether it existed.
int CreateMutexAndDie(const std::vector<std::string>& arguments) {
    HANDLE mutex = CreateMutexA(nullptr, arguments.at(1) == "own", arguments.at(0).c_str());
    if (mutex == nullptr) return kOpenFailed;
    return GetLastError() == ERROR_ALREADY_EXISTS ? kOpenedExisting : kCreatedNew;
}

// Adds one to the number in the file at `path`, `times` times, each under the mutex.
bool CountUnderMutex(HANDLE mutex, const std::string& path, int times) {
    for (int i = 0; i < times; ++i) {
        if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return false;
        long value = 0;
        if (FILE* file = std::fopen(path.c_str(), "rb")) {
            if (std::fscanf(file, "%ld", &value) != 1) value = -1000000;
            std::fclose(file);
        }
        if (FILE* file = std::fopen(path.c_str(), "wb")) {
            std::fprintf(file, "%ld", value + 1);
            std::fclose(file);
        }
        if (!ReleaseMutex(mutex)) return false;
    }
    return true;
}

// Arguments: name, file, times.
int CountWithMutex(const std::vector<std::string>& arguments) {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, arguments.at(0).c_str());
    if (mutex == nullptr) return kOpenFailed;
    bool counted = CountUnderMutex(mutex, arguments.at(1), std::stoi(arguments.at(2)));
    CloseHandle(mutex);
    return counted ? kGotIt : kWaitFailed;
}

const bool kRolesRegistered = RegisterChildRole("wait-mutex", WaitForMutex) &&
                              RegisterChildRole("take-mutex-and-die", TakeMutexAndDie) &&
                              RegisterChildRole("create-mutex-and-die", CreateMutexAndDie) &&
                              RegisterChildRole("count-with-mutex", CountWithMutex);

int RunChild(const std::string& role, const std::vector<std::string>& arguments) {
    auto child = ChildProcess::Start(role, arguments);
    if (!child) return -1;
    return child->Wait();
}

TEST(MutexAcrossProcessesTest, SecondProcessTimesOutWhileTheFirstHoldsIt) {
    ASSERT_TRUE(kRolesRegistered);
    const std::string name = "Global\\" + UniqueName("held");
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(mutex, nullptr);

    EXPECT_EQ(RunChild("wait-mutex", {name, "5000"}), kTimedOut);
    ASSERT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(RunChild("wait-mutex", {name, "5000"}), kGotIt) << "free once the first process released it";
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "the child released it again";
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

TEST(MutexAcrossProcessesTest, TwoProcessesNeverHoldItAtOnce) {
    const std::string name = UniqueName("counter");
    const std::string path = (std::filesystem::temp_directory_path() / (name + ".txt")).string();
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    constexpr int kTimes = 100;

    auto child = ChildProcess::Start("count-with-mutex", {name, path, std::to_string(kTimes)});
    ASSERT_TRUE(child);
    EXPECT_TRUE(CountUnderMutex(mutex, path, kTimes));
    EXPECT_EQ(child->Wait(), kGotIt);

    long total = 0;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        EXPECT_EQ(std::fscanf(file, "%ld", &total), 1);
        std::fclose(file);
    }
    EXPECT_EQ(total, 2 * kTimes) << "an update was lost: both processes held the mutex at once";
    std::remove(path.c_str());
    CloseHandle(mutex);
}

TEST(MutexAcrossProcessesTest, ProcessDyingWhileOwningLeavesItAbandonedToTheNextWaiter) {
    const std::string name = "Global\\" + UniqueName("abandoned");
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);

    ASSERT_EQ(RunChild("take-mutex-and-die", {name}), kGotIt);
    EXPECT_EQ(WaitForSingleObject(mutex, 5000), WAIT_ABANDONED);
    EXPECT_EQ(RunChild("wait-mutex", {name, "500"}), kTimedOut) << "the waiter became the owner";
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(RunChild("wait-mutex", {name, "5000"}), kGotIt) << "abandoned once, reported once";
    CloseHandle(mutex);
}

TEST(MutexAcrossProcessesTest, NameLastsWhileAnyProcessHoldsIt) {
    const std::string name = UniqueName("lifetime");
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(RunChild("create-mutex-and-die", {name, "leave"}), kOpenedExisting);
    CloseHandle(mutex);
    EXPECT_EQ(RunChild("create-mutex-and-die", {name, "leave"}), kCreatedNew) << "gone with the last handle";
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr)
        << "and gone with the process that made it";
}

TEST(MutexAcrossProcessesTest, MutexOfAProcessThatDiedIsGone) {
    const std::string name = UniqueName("orphan");
    ASSERT_EQ(RunChild("create-mutex-and-die", {name, "own"}), kCreatedNew);

    SetLastError(0);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a new mutex, not the dead process's";
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "free, and not abandoned";
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

}  // namespace
}  // namespace b58::test

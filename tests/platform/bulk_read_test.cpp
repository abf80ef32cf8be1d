// Reads of the bulk image stream on a device handle.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "usbscan_test_support.h"

namespace b58::test {
namespace {

std::vector<uint8_t> Pattern(size_t size, size_t start = 0) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((start + i) * 7 % 251);
    return bytes;
}

struct PendingRead {
    explicit PendingRead(DWORD size) : buffer(size, 0xCC) {}
    std::vector<uint8_t> buffer;
    OverlappedRecord overlapped;
};

// Waits for a read to end; its error (ERROR_SUCCESS when it succeeded) and count.
std::pair<DWORD, DWORD> Finished(PendingRead& read) {
    EXPECT_EQ(WaitForSingleObject(read.overlapped.record.hEvent, 10000), WAIT_OBJECT_0);
    DWORD count = 0;
    BOOL done = GetOverlappedResult(nullptr, &read.overlapped.record, &count, TRUE);
    return {done ? ERROR_SUCCESS : GetLastError(), count};
}

class BulkReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = OpenDeviceHandle(FixedName(0));
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { Close(); }
    void Close() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    // Issues `count` reads of `size` bytes.
    std::vector<std::unique_ptr<PendingRead>> Issue(int count, DWORD size) {
        std::vector<std::unique_ptr<PendingRead>> reads;
        for (int i = 0; i < count; ++i) {
            reads.push_back(std::make_unique<PendingRead>(size));
            PendingRead& read = *reads.back();
            EXPECT_FALSE(ReadFile(handle_, read.buffer.data(), size, nullptr, &read.overlapped.record));
            EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        }
        return reads;
    }

    FakeUsbBackend& device() { return scanner_.backend(); }

    PublishedFake scanner_{0};
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(BulkReadTest, FiftyReadsInFlightAreServedInOrder) {
    constexpr DWORD kBlock = 1000;
    auto reads = Issue(50, kBlock);
    ASSERT_TRUE(device().WaitForWaitingRead());
    EXPECT_FALSE(reads.back()->overlapped.Signalled());
    device().AppendStream(Pattern(50 * kBlock));

    for (size_t i = 0; i < reads.size(); ++i) {
        auto [error, count] = Finished(*reads[i]);
        EXPECT_EQ(error, ERROR_SUCCESS) << i;
        EXPECT_EQ(count, kBlock) << i;
        EXPECT_EQ(reads[i]->buffer, Pattern(kBlock, i * kBlock)) << "block " << i;
    }
    EXPECT_EQ(device().ReadSizes(), std::vector<uint32_t>(50, kBlock));
}

TEST_F(BulkReadTest, ShortOnlyAtTheEndOfTheStreamOrOnAFault) {
    device().AppendStream(Pattern(2500));
    device().EndStream();
    auto reads = Issue(4, 1000);
    std::array<DWORD, 4> expected = {1000, 1000, 500, 0};
    for (size_t i = 0; i < reads.size(); ++i) {
        auto [error, count] = Finished(*reads[i]);
        EXPECT_EQ(error, ERROR_SUCCESS);
        EXPECT_EQ(count, expected[i]) << i;
    }
    EXPECT_EQ(reads[2]->buffer[499], Pattern(2500)[2499]);
    EXPECT_EQ(reads[2]->buffer[500], 0xCC);
}

TEST_F(BulkReadTest, InjectedFaultsReachTheCaller) {
    device().AppendStream(Pattern(4000));
    device().ShortenNextRead(300);
    auto shortened = Issue(1, 1000);
    EXPECT_EQ(Finished(*shortened[0]), std::make_pair(DWORD{ERROR_SUCCESS}, DWORD{300}));

    device().FailNextRead();
    auto failed = Issue(1, 1000);
    EXPECT_EQ(Finished(*failed[0]).first, ERROR_GEN_FAILURE);

    auto next = Issue(1, 1000);  // the stream goes on after a fault
    EXPECT_EQ(Finished(*next[0]), std::make_pair(DWORD{ERROR_SUCCESS}, DWORD{1000}));
    EXPECT_EQ(next[0]->buffer, Pattern(1000, 300));
}

TEST_F(BulkReadTest, CancelIoEndsTheRunningReadAndAbortsTheQueuedOnes) {
    auto reads = Issue(5, 1000);
    ASSERT_TRUE(device().WaitForWaitingRead());
    EXPECT_TRUE(CancelIo(handle_));
    for (auto& read : reads) {
        EXPECT_EQ(Finished(*read).first, ERROR_OPERATION_ABORTED);
        EXPECT_EQ(read->buffer, std::vector<uint8_t>(1000, 0xCC));
    }
    EXPECT_GE(device().CancelCalls(), 1);
    EXPECT_EQ(device().ReadSizes().size(), 1u);  // the queued reads never reached the device

    // The handle goes on working, and cancelled reads took nothing from the stream.
    device().AppendStream(Pattern(1000));
    auto next = Issue(1, 1000);
    EXPECT_EQ(Finished(*next[0]), std::make_pair(DWORD{ERROR_SUCCESS}, DWORD{1000}));
    EXPECT_EQ(next[0]->buffer, Pattern(1000));
}

// As on Windows, CancelIo ends only the calling thread's reads: a reader thread must cancel
// its own.
TEST_F(BulkReadTest, CancelIoEndsOnlyTheCallingThreadsReads) {
    std::vector<std::unique_ptr<PendingRead>> theirs;
    std::atomic<int> step{0};
    std::thread issuer([&] {
        theirs = Issue(3, 1000);
        step = 1;
        while (step != 2) std::this_thread::yield();
        EXPECT_TRUE(CancelIo(handle_));
    });
    while (step != 1) std::this_thread::yield();
    ASSERT_TRUE(device().WaitForWaitingRead());
    EXPECT_TRUE(CancelIo(handle_));
    for (auto& read : theirs) EXPECT_FALSE(read->overlapped.Signalled());
    step = 2;
    issuer.join();
    for (auto& read : theirs) EXPECT_EQ(Finished(*read).first, ERROR_OPERATION_ABORTED);
}

TEST_F(BulkReadTest, CancelThatTheDeviceMissesIsRepeated) {
    // The cancel reaches the device after its read was called but before it waits for data.
    device().DelayReadStart(std::chrono::milliseconds(30));
    auto reads = Issue(1, 64);
    ASSERT_TRUE(device().WaitForReadCalls(1));
    EXPECT_TRUE(CancelIo(handle_));
    EXPECT_EQ(Finished(*reads[0]).first, ERROR_OPERATION_ABORTED);
    EXPECT_GE(device().CancelCalls(), 2);
}

TEST_F(BulkReadTest, CancelRightAfterIssuingEndsTheRead) {
    for (int round = 0; round < 50; ++round) {
        auto reads = Issue(1, 64);
        EXPECT_TRUE(CancelIo(handle_));
        EXPECT_EQ(Finished(*reads[0]).first, ERROR_OPERATION_ABORTED) << round;
    }
}

TEST_F(BulkReadTest, CancelMeantForAnotherReadDoesNotEndThisOne) {
    auto reads = Issue(1, 1000);
    ASSERT_TRUE(device().WaitForWaitingRead());
    device().CancelBulk();  // e.g. a cancel the device kept from earlier
    ASSERT_TRUE(device().WaitForWaitingRead());
    EXPECT_FALSE(reads[0]->overlapped.Signalled());
    device().AppendStream(Pattern(1000));
    EXPECT_EQ(Finished(*reads[0]), std::make_pair(DWORD{ERROR_SUCCESS}, DWORD{1000}));
}

TEST_F(BulkReadTest, ClosingEndsEveryReadAndNothingLandsAfterwards) {
    auto reads = Issue(10, 1000);
    ASSERT_TRUE(device().WaitForWaitingRead());
    Close();
    for (auto& read : reads) EXPECT_EQ(Finished(*read).first, ERROR_OPERATION_ABORTED);
    device().AppendStream(Pattern(10000));
    for (auto& read : reads) EXPECT_EQ(read->buffer, std::vector<uint8_t>(1000, 0xCC));
}

TEST_F(BulkReadTest, UnpluggingFailsTheReadsInFlightAndLaterOnes) {
    auto reads = Issue(3, 1000);
    ASSERT_TRUE(device().WaitForWaitingRead());
    usbscan::Withdraw(0);
    for (auto& read : reads) EXPECT_EQ(Finished(*read).first, ERROR_DEVICE_NOT_CONNECTED);
    PendingRead later(1000);
    EXPECT_FALSE(ReadFile(handle_, later.buffer.data(), 1000, nullptr, &later.overlapped.record));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(later.overlapped.Signalled());
}

TEST_F(BulkReadTest, PlainHandleReadsBeforeReturningOverlappedOneNeedsARecord) {
    std::vector<uint8_t> buffer(1000);
    DWORD count = 0;
    EXPECT_FALSE(ReadFile(handle_, buffer.data(), 1000, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HANDLE plain = OpenDeviceHandle(FixedName(0), 0);
    ASSERT_NE(plain, INVALID_HANDLE_VALUE);
    device().AppendStream(Pattern(600));
    device().EndStream();
    EXPECT_TRUE(ReadFile(plain, buffer.data(), 1000, &count, nullptr));
    EXPECT_EQ(count, 600u);
    EXPECT_EQ(buffer[599], Pattern(600)[599]);
    CloseHandle(plain);
}

}  // namespace
}  // namespace b58::test

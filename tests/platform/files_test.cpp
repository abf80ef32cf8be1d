#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "platform/win32.h"
#include "support/scratch_directory.h"

namespace b58::platform {
namespace {

using b58::testing::ScratchDirectory;

// "C:\tmp\b58-...\name": the Windows form the driver builds.
std::string WindowsName(const ScratchDirectory& folder, const std::string& file) {
    return "C:" + ToWindowsPath(folder.Name(file));
}

HANDLE Open(const std::string& name, DWORD access, DWORD disposition, DWORD flags = 0) {
    return CreateFileA(name.c_str(), access, FILE_SHARE_READ, nullptr, disposition, flags, nullptr);
}

TEST(Files, WriteThenReadBackThroughWindowsFormNames) {
    ScratchDirectory folder;
    const std::string name = WindowsName(folder, "b58fw.usb");
    std::vector<unsigned char> image(1000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7);

    HANDLE out = Open(name, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(out, image.data(), static_cast<DWORD>(image.size()), &written, nullptr));
    EXPECT_EQ(written, image.size());
    EXPECT_TRUE(CloseHandle(out));
    EXPECT_EQ(std::filesystem::file_size(folder.Name("b58fw.usb")), image.size());

    // As the firmware reader does: one plain read of up to 16384 bytes.
    HANDLE in = Open(name, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    std::vector<unsigned char> buffer(16384, 0xEE);
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(in, buffer.data(), 16384, &read, nullptr));
    ASSERT_EQ(read, image.size());
    EXPECT_EQ(0, std::memcmp(buffer.data(), image.data(), image.size()));
    EXPECT_EQ(buffer[1000], 0xEE);
    // At the end: success with nothing read.
    ASSERT_TRUE(ReadFile(in, buffer.data(), 16384, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(CloseHandle(in));
}

TEST(Files, OpenFailuresReportTheWindowsError) {
    ScratchDirectory folder;
    auto failure = [](HANDLE handle) {
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
        return GetLastError();
    };
    EXPECT_EQ(failure(Open(WindowsName(folder, "absent.usb"), GENERIC_READ, OPEN_EXISTING)),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failure(Open(WindowsName(folder, "no\\absent.usb"), GENERIC_READ, OPEN_EXISTING)),
              ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(failure(Open("", GENERIC_READ, OPEN_EXISTING)), ERROR_PATH_NOT_FOUND);
    // A folder is not a file.
    EXPECT_EQ(failure(Open(folder.Name(""), GENERIC_READ, OPEN_EXISTING)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(failure(Open(folder.Name("x"), GENERIC_READ, 0)), ERROR_INVALID_PARAMETER);
}

TEST(Files, DispositionsCreateTruncateOrKeep) {
    ScratchDirectory folder;
    const std::string name = folder.Write("data.bin", "0123456789");

    EXPECT_EQ(Open(name, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    HANDLE kept = Open(name, GENERIC_READ, OPEN_ALWAYS);
    ASSERT_NE(kept, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(kept);
    EXPECT_EQ(std::filesystem::file_size(name), 10u);

    HANDLE truncated = Open(name, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(truncated, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(truncated);
    EXPECT_EQ(std::filesystem::file_size(name), 0u);

    HANDLE created = Open(folder.Name("new.bin"), GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(created);
    EXPECT_TRUE(std::filesystem::exists(folder.Name("new.bin")));
}

TEST(Files, TransfersNeedTheMatchingAccess) {
    ScratchDirectory folder;
    const std::string name = folder.Write("data.bin", "abc");
    char buffer[4] = {};
    DWORD count = 99;

    HANDLE readOnly = Open(name, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(readOnly, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(count, 0u);
    CloseHandle(readOnly);

    HANDLE writeOnly = Open(name, GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(writeOnly, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReadFile(writeOnly, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeviceIoControl(writeOnly, IOCTL_READ_REGISTERS, nullptr, 0, nullptr, 0, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(writeOnly);
}

TEST(Files, OverlappedTransferOnAFileCompletesAtOnce) {
    ScratchDirectory folder;
    const std::string name = folder.Write("data.bin", "0123456789");
    HANDLE file = Open(name, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    OVERLAPPED overlapped{};
    overlapped.Offset = 6;
    overlapped.hEvent = event;
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, nullptr, &overlapped));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    DWORD transferred = 0;
    ASSERT_TRUE(GetOverlappedResult(file, &overlapped, &transferred, FALSE));
    EXPECT_EQ(transferred, 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");

    // Starting at the end reports end of file through the record.
    overlapped.Offset = 10;
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);

    CloseHandle(event);
    CloseHandle(file);
}

TEST(Files, CallsOnHandlesThatAreNotFilesAreRefused) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buffer[4];
    DWORD count = 0;
    for (HANDLE handle : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr), event}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ReadFile(handle, buffer, sizeof buffer, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(WriteFile(handle, buffer, sizeof buffer, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(DeviceIoControl(handle, IOCTL_READ_REGISTERS, nullptr, 0, nullptr, 0, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CancelIo(handle));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    CloseHandle(event);
}

TEST(Files, DeviceNamesGoToTheClassDriverNotTheFileSystem) {
    usbscan::WithdrawAll();
    EXPECT_TRUE(usbscan::IsDeviceName("\\\\.\\UsbScan0"));
    EXPECT_EQ(Open("\\\\.\\UsbScan0", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, FILE_FLAG_OVERLAPPED),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Files, DeleteRemovesAFileOnly) {
    ScratchDirectory folder;
    const std::string name = folder.Write("old.bin", "x");
    EXPECT_TRUE(DeleteFileA(("C:" + ToWindowsPath(name)).c_str()));
    EXPECT_FALSE(std::filesystem::exists(name));
    EXPECT_FALSE(DeleteFileA(name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA(folder.Name("").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

}  // namespace
}  // namespace b58::platform

namespace b58::platform {
namespace {

// A folder, a FIFO without a writer or a device in place of a file opens as nothing and is
// read as no settings, at once: neither the open nor a read may wait for another program.
TEST(Files, OnlyRegularFilesOpenAndNothingElseBlocks) {
    ScratchDirectory folder;
    folder.Write("regular.ini", "[ZTK]\nTOPADD=7\n");
    std::filesystem::create_directory(folder.Name("folder.ini"));
    ASSERT_EQ(mkfifo(folder.Name("fifo.ini").c_str(), 0600), 0);
    const struct {
        std::string name;
        bool opens;
    } cases[] = {
        {WindowsName(folder, "regular.ini"), true},
        {WindowsName(folder, "folder.ini"), false},
        {WindowsName(folder, "fifo.ini"), false},
        {"/dev/zero", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE file = Open(c.name, GENERIC_READ, OPEN_EXISTING);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        EXPECT_EQ(GetPrivateProfileIntA("ZTK", "TOPADD", 120, c.name.c_str()), c.opens ? 7u : 120u);
    }
}

}  // namespace
}  // namespace b58::platform

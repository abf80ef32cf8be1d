#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/device_mutex.h"
#include "api/driver.h"
#include "api/exports.h"
#include "device/device_discovery.h"
#include "platform/child_process.h"
#include "platform/platform_control.h"
#include "platform/usbscan/class_driver.h"
#include "sim/firmware_image.h"
#include "sim/virtual_scanner.h"
#include "state/trace.h"
#include "support/scratch_directory.h"
#include "support/scripted_controller.h"

namespace b58 {
namespace {

using testing::Bytes;
using testing::ScriptedController;

// This run's named objects stay apart from those of other test programs running at the same
// time; child processes inherit the setting and so share them with this one.
class ApiTestEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string ipcNamespace = "b58apitest-" + std::to_string(GetCurrentProcessId());
        setenv("B58_IPC_NAMESPACE", ipcNamespace.c_str(), 0);
    }
};
const ::testing::Environment* const kApiTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApiTestEnvironment);

constexpr char kOurPath[] = "\\\\?\\usb#vid_1a2b&pid_3c4d#6&11&0&2#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
constexpr char kOurPath2[] = "\\\\?\\usb#vid_1a2b&pid_3c4d#6&11&0&3#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";

// Exit codes of the second process that calls _Open.
enum OpenInOtherProcess { kOtherGotNothing = 40, kOtherHeldTheMutex = 41, kOtherOpened = 42 };

int OpenFromOtherProcess(const std::vector<std::string>&) {
    platform::SetTimeScale(0.01);
    const int32_t opened = _Open();
    const bool held = TheDriver().DeviceMutex != nullptr;
    _Close();
    if (opened) return kOtherOpened;
    return held ? kOtherHeldTheMutex : kOtherGotNothing;
}
const bool kOpenRoleRegistered = test::RegisterChildRole("open-device", OpenFromOtherProcess);

int OpenWithoutAccessList(const std::vector<std::string>& arguments) {
    platform::SetOsVersion(2, 5, 2);  // a class with the "Global\\" name and its access list
    platform::FailSecurityCall("SetEntriesInAclA");
    return OpenFromOtherProcess(arguments);
}
const bool kNoAclRoleRegistered = test::RegisterChildRole("open-without-access-list", OpenWithoutAccessList);

// A process that ignores its failed _Open and drives the scanner all the same: every entry
// point that talks to the device must refuse with Status 37 and send nothing. Exit code: 0
// when all refused untouched, else the number of the first call that got through.
int DriveWithoutOpen(const std::vector<std::string>&) {
    platform::SetTimeScale(0.01);
    auto controller = std::make_shared<ScriptedController>();
    controller->SetDefaultReply({0, 0, 0xFF});
    usbscan::Publish({0, kOurPath2, controller});
    if (_Open() != 0) return 50;
    ScanParameters p{};
    p.Right = 300;
    p.Bottom = 300;
    p.Resolution = 150;
    p.ScanMode = ModeGray;
    ScanStartRecord start{};
    VersionRecord version{};
    DeviceInfoRecord info{};
    ControlRecord control{};
    StopRecord stop{};
    const struct {
        int32_t result;
        uint16_t status;
    } calls[] = {
        {SetParameters(&p), p.Status},
        {StartScan(&start), start.Status},
        {GetVersionInfo(&version), version.Status},
        {GetDeviceInfo(&info), info.Status},
        {CarriageHome(&control), control.Status},
        {PowerControl(&control), control.Status},
        {GetDeviceStatus(&control), control.Status},
        {StopScan(&stop), stop.Status},
    };
    for (size_t i = 0; i < std::size(calls); ++i)
        if (calls[i].result != 0 || calls[i].status != kStatusNoDevice) return 51 + static_cast<int>(i);
    return controller->Transfers().empty() ? 0 : 60;
}
const bool kDriveRoleRegistered = test::RegisterChildRole("drive-without-open", DriveWithoutOpen);

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

class OpenCloseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetDriver();
        ResetTraceIndent();
        platform::SetTimeScale(0.01);
        platform::ResetOsVersion();
        usbscan::WithdrawAll();
        char saved[MAX_PATH] = {};
        GetWindowsDirectoryA(saved, sizeof saved);
        savedWindows_ = platform::ToPosixPath(saved);
        std::filesystem::create_directories(windows_.Path() / "system32" / "drivers");
        firmware_ = std::string(1000, '\x5A');
        windows_.Write("system32/drivers/b58fw.usb", firmware_);
        platform::SetWindowsDirectory(windows_.Path().string());
        platform::SetDebugSink([this](const char* text) {
            trace_ += text;
            if (onTrace_) onTrace_(text);
        });
    }
    void TearDown() override {
        if (TheDriver().DeviceMutex != nullptr || TheDriver().DeviceHandle != INVALID_HANDLE_VALUE) _Close();
        platform::SetDebugSink({});
        usbscan::WithdrawAll();
        platform::SetWindowsDirectory(savedWindows_);
        platform::ResetOsVersion();
        platform::SetTimeScale(1.0);
    }

    std::shared_ptr<ScriptedController> Publish(int index) {
        auto controller = std::make_shared<ScriptedController>();
        usbscan::Publish({index, kOurPath, controller});
        return controller;
    }

    b58::testing::ScratchDirectory windows_;
    std::string savedWindows_;
    std::string firmware_;
    std::string trace_;
    std::function<void(const char*)> onTrace_;
};

TEST_F(OpenCloseTest, ACompleteOpenDownloadsTheFirmwareAndHoldsTheDevice) {
    auto controller = Publish(0);
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(trace_,
              "\nC4:  < Enter the _Open!"
              "\nC4:    < Enter the ZtInitialation!"
              "\nC4:    Get the scanner handle 1 times!"
              "\nC4:    Get the scanner handle!"
              "\nC4:    > Leave the ZtInitialation!"
              "\nC4:  > Leave the _Open!");
    EXPECT_EQ(TheDriver().LastStatus, 1);
    EXPECT_NE(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_NE(TheDriver().DeviceMutex, nullptr);

    // The firmware-state query first, then the 1000-byte image as one 4096-byte unit.
    const auto transfers = controller->Transfers();
    ASSERT_FALSE(transfers.empty());
    EXPECT_EQ(transfers[0].setup.wValue, 0x2012);
    EXPECT_EQ(transfers[0].data[0], 0x70);
    EXPECT_EQ(controller->Count(0x200B, false), 64u);
    EXPECT_EQ(controller->Memory(0, 1000), Bytes(firmware_.begin(), firmware_.end()));
    ASSERT_EQ(controller->Written(0x2010).size(), 1u);
    EXPECT_EQ(controller->Written(0x2010)[0][0], 0x69);

    trace_.clear();
    EXPECT_EQ(_Close(), 1);
    EXPECT_EQ(trace_, "\nC4:  < Enter the _Close!\nC4:  > Leave the _Close!");
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TheDriver().DeviceMutex, nullptr);
}

TEST_F(OpenCloseTest, RunningFirmwareIsNotDownloadedAgain) {
    auto controller = Publish(0);
    controller->QueueReply({0, 0, 0xFF});
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(controller->Count(0x200B, false), 0u);
    EXPECT_EQ(controller->Transfers().size(), 2u);
}

TEST_F(OpenCloseTest, TheScannerIsFoundUnderAnyFixedName) {
    auto controller = Publish(7);
    controller->QueueReply({0, 0, 0xFF});
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(Occurrences(trace_, "Not get the scanner handle!"), 0u);
    EXPECT_EQ(controller->Transfers().size(), 2u);
}

TEST_F(OpenCloseTest, AScannerThatAppearsLateIsFoundAtTheThirdPass) {
    std::shared_ptr<ScriptedController> controller;
    onTrace_ = [&](const char* text) {
        if (std::string(text).find("Get the scanner handle 3 times!") != std::string::npos)
            controller = Publish(2);
    };
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(Occurrences(trace_, "Not get the scanner handle!"), 2u);
    EXPECT_NE(trace_.find("Get the scanner handle 3 times!\nC4:    Get the scanner handle!"),
              std::string::npos);
    EXPECT_EQ(Occurrences(trace_, "GetDeviceViaInterface"), 0u);
}

TEST_F(OpenCloseTest, AfterTenPassesTheInterfacesAreAsked) {
    std::shared_ptr<ScriptedController> controller;
    int misses = 0;
    onTrace_ = [&](const char* text) {
        if (std::string(text).find("Not get the scanner handle!") != std::string::npos && ++misses == 10)
            controller = Publish(0);
    };
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(Occurrences(trace_, "Get the scanner handle 10 times!"), 1u);
    EXPECT_NE(
        trace_.find("> Leave the GetDeviceViaInterface with get the scannerhandle!\nC4:    Get the scanner "
                    "handle!"),
        std::string::npos)
        << trace_;
    EXPECT_EQ(controller->Written(0x2012).size(), 1u);  // the query went to the device found
}

TEST_F(OpenCloseTest, NoScannerFailsAfterTwoFullDiscoveries) {
    EXPECT_EQ(_Open(), 0);
    EXPECT_EQ(Occurrences(trace_, "Not get the scanner handle!"), 20u);
    EXPECT_EQ(Occurrences(trace_, "< Enter the GetDeviceViaInterface!"), 10u);
    EXPECT_EQ(Occurrences(trace_, "> Leave the ZtInitialation with not get the scanner handle!"), 2u);
    EXPECT_EQ(Occurrences(trace_, "ZtInitialation second times!"), 1u);
    EXPECT_EQ(trace_.find("> Leave the _Open!"), std::string::npos);
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TheDriver().LastStatus, 1);
    EXPECT_NE(TheDriver().DeviceMutex, nullptr);  // owned until _Close
    EXPECT_EQ(_Close(), 1);
    EXPECT_EQ(TheDriver().DeviceMutex, nullptr);
}

TEST_F(OpenCloseTest, AFailedDownloadFailsTheOpenAfterOneRetry) {
    auto controller = Publish(0);
    controller->CorruptMemoryReadAt(0);
    EXPECT_EQ(_Open(), 0);
    EXPECT_EQ(controller->Count(0x2012, false), 2u);  // two firmware-state queries
    EXPECT_EQ(controller->Count(0x200B, false), 2u);  // each download stops at block 0
    EXPECT_EQ(controller->Count(0x2010, false), 0u);
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
}

TEST_F(OpenCloseTest, MissingFirmwareFileFailsTheOpen) {
    std::filesystem::remove(windows_.Path() / "system32" / "drivers" / "b58fw.usb");
    auto controller = Publish(0);
    EXPECT_EQ(_Open(), 0);
    EXPECT_EQ(controller->Count(0x200B, false), 0u);
}

TEST_F(OpenCloseTest, ASecondProcessWaitsForTheDeviceAndGivesUp) {
    auto controller = Publish(0);
    controller->SetDefaultReply({0, 0, 0xFF});
    ASSERT_EQ(_Open(), 1);

    // While this process has the device open the other one waits 5 s (scaled) and fails
    // without looking for a device.
    auto other = test::ChildProcess::Start("open-device", {});
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->Wait(), kOtherGotNothing);

    // Once it is closed the other process gets the mutex (and, with no scanner of its
    // own, fails only at discovery, still holding it until its _Close).
    _Close();
    other = test::ChildProcess::Start("open-device", {});
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->Wait(), kOtherHeldTheMutex);
}

TEST_F(OpenCloseTest, AProcessRefusedTheDeviceCannotDriveIt) {
    auto controller = Publish(0);
    controller->SetDefaultReply({0, 0, 0xFF});
    ASSERT_EQ(_Open(), 1);
    auto other = test::ChildProcess::Start("drive-without-open", {});
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->Wait(), 0);
}

TEST_F(OpenCloseTest, AnotherOwnerMakesOpenTimeOut) {
    auto controller = Publish(0);
    controller->SetDefaultReply({0, 0, 0xFF});
    std::atomic<int> stage{0};
    std::thread other([&] {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, kDeviceMutexName);
        WaitForSingleObject(mutex, INFINITE);
        stage.store(1, std::memory_order_release);
        while (stage.load(std::memory_order_acquire) != 2) Sleep(1);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    while (stage.load(std::memory_order_acquire) != 1) std::this_thread::yield();

    EXPECT_EQ(_Open(), 0);
    EXPECT_EQ(TheDriver().DeviceMutex, nullptr);
    EXPECT_TRUE(controller->Transfers().empty());
    EXPECT_EQ(trace_, "\nC4:  < Enter the _Open!");

    stage.store(2, std::memory_order_release);
    other.join();
    EXPECT_EQ(_Open(), 1);
}

TEST_F(OpenCloseTest, AnAbandonedMutexFailsTheOpenButIsNotKeptOwned) {
    auto controller = Publish(0);
    controller->SetDefaultReply({0, 0, 0xFF});
    // Keep the mutex alive across the owner's death with a handle of our own.
    HANDLE keeper = CreateMutexA(nullptr, FALSE, kDeviceMutexName);
    ASSERT_NE(keeper, nullptr);
    std::thread owner([] {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, kDeviceMutexName);
        WaitForSingleObject(mutex, INFINITE);
        CloseHandle(mutex);  // ends without ReleaseMutex: the mutex is abandoned
    });
    owner.join();

    EXPECT_EQ(_Open(), 0);
    EXPECT_EQ(TheDriver().DeviceMutex, nullptr);
    // Another thread can take the device at once: the failed _Open did not keep it.
    std::thread other([] {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, kDeviceMutexName);
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
    CloseHandle(keeper);
    EXPECT_EQ(_Open(), 1);
}

TEST_F(OpenCloseTest, CloseWithoutOpenTouchesNothing) {
    EXPECT_EQ(_Close(), 0);
    EXPECT_EQ(trace_, "\nC4:  < Enter the _Close!\nC4:  > Leave the _Close!");
    EXPECT_EQ(TheDriver().DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TheDriver().DeviceMutex, nullptr);
}

TEST_F(OpenCloseTest, ReopeningWithoutCloseKeepsOneOwnership) {
    auto controller = Publish(0);
    controller->SetDefaultReply({0, 0, 0xFF});
    ASSERT_EQ(_Open(), 1);
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(_Close(), 1);
    // Free again for everyone: another thread takes it at once.
    std::thread other([] {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, kDeviceMutexName);
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
}

TEST_F(OpenCloseTest, TheMutexNameFollowsTheOsVersionClass) {
    const std::string global = std::string("Global\\") + kDeviceMutexName;
    for (int32_t osClass : {6, 7, 8}) EXPECT_EQ(DeviceMutexName(osClass), global);
    for (int32_t osClass : {0, 1, 2, 5}) EXPECT_EQ(DeviceMutexName(osClass), kDeviceMutexName);

    auto controller = Publish(0);
    controller->SetDefaultReply({0, 0, 0xFF});
    platform::SetOsVersion(2, 5, 1);
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(TheDriver().OsVersionClass, 7);
    HANDLE seen = OpenMutexA(SYNCHRONIZE, FALSE, global.c_str());
    EXPECT_NE(seen, nullptr);
    CloseHandle(seen);
    _Close();

    platform::SetOsVersion(2, 6, 1);
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(TheDriver().OsVersionClass, 0);
}

TEST_F(OpenCloseTest, WithoutAnAccessListTheGlobalMutexGetsDefaultSecurity) {
    auto controller = Publish(0);
    controller->SetDefaultReply({0, 0, 0xFF});
    auto other = test::ChildProcess::Start("open-without-access-list", {});
    ASSERT_NE(other, nullptr);
    // The child cannot build the access list; it still gets the mutex (and no scanner).
    EXPECT_EQ(other->Wait(), kOtherHeldTheMutex);
}

TEST_F(OpenCloseTest, EndToEndWithTheVirtualScanner) {
    const auto image = sim::BuildFirmwareImage();
    windows_.Write("system32/drivers/b58fw.usb", std::string(image.begin(), image.end()));
    auto scanner = std::make_shared<sim::VirtualScanner>();
    usbscan::Publish({0, kOurPath, scanner});

    ASSERT_EQ(_Open(), 1);
    sim::ControllerState state = scanner->State();
    EXPECT_TRUE(state.firmwareRunning);
    ASSERT_TRUE(state.lastDownload.has_value());
    EXPECT_EQ(*state.lastDownload, sim::FirmwareCheck::Ok);
    EXPECT_EQ(scanner->ExecutedCount(0x69), 1u);
    std::thread([] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kDeviceMutexName);
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);  // held by the opener
        CloseHandle(mutex);
    }).join();
    EXPECT_EQ(_Close(), 1);
    std::thread([] {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, kDeviceMutexName);
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // released
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }).join();

    // The controller keeps its firmware: the next open does not download it again.
    ASSERT_EQ(_Open(), 1);
    EXPECT_EQ(scanner->ExecutedCount(0x69), 1u);
    EXPECT_EQ(_Close(), 1);
}

TEST(OsVersionClass, ReportedVersionsAreClassified) {
    struct Row {
        DWORD platform, major, minor;
        int32_t expected;
    };
    const Row rows[] = {{0, 3, 1, 1},  {1, 4, 0, 2}, {1, 4, 10, 3}, {1, 4, 90, 4}, {1, 4, 20, 0},
                        {1, 5, 0, 0},  {2, 5, 2, 8}, {2, 5, 1, 7},  {2, 5, 0, 6},  {2, 4, 0, 5},
                        {2, 3, 51, 5}, {2, 5, 3, 0}, {2, 6, 0, 0},  {2, 10, 0, 0}, {3, 5, 1, 0}};
    for (const Row& row : rows)
        EXPECT_EQ(OsVersionClassFor(row.platform, row.major, row.minor), row.expected)
            << row.platform << " " << row.major << "." << row.minor;

    platform::SetOsVersion(2, 5, 0);
    EXPECT_EQ(QueryOsVersionClass(), 6);
    platform::SetOsVersion(2, 5, 0, true);
    EXPECT_EQ(QueryOsVersionClass(), 0);
    platform::ResetOsVersion();
}

TEST(DeviceMutexSecurity, EveryoneAndTheAdministratorsGetFullAccess) {
    int everyone = 0, administrators = 0;
    EXPLICIT_ACCESS_A entries[2];
    FillMutexAccessEntries(&everyone, &administrators, entries);
    for (const EXPLICIT_ACCESS_A& entry : entries) {
        EXPECT_EQ(entry.grfAccessPermissions, 0x001F003Fu);
        EXPECT_EQ(entry.grfAccessMode, SET_ACCESS);
        EXPECT_EQ(entry.grfInheritance, NO_INHERITANCE);
        EXPECT_EQ(entry.Trustee.TrusteeForm, TRUSTEE_IS_SID);
        EXPECT_EQ(entry.Trustee.pMultipleTrustee, nullptr);
    }
    EXPECT_EQ(entries[0].Trustee.TrusteeType, TRUSTEE_IS_WELL_KNOWN_GROUP);
    EXPECT_EQ(entries[0].Trustee.ptstrName, reinterpret_cast<LPSTR>(&everyone));
    EXPECT_EQ(entries[1].Trustee.TrusteeType, TRUSTEE_IS_GROUP);
    EXPECT_EQ(entries[1].Trustee.ptstrName, reinterpret_cast<LPSTR>(&administrators));
    SECURITY_ATTRIBUTES* attributes = GlobalMutexSecurity();
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_EQ(attributes->bInheritHandle, FALSE);
    EXPECT_NE(attributes->lpSecurityDescriptor, nullptr);
    EXPECT_EQ(GlobalMutexSecurity(), attributes);  // built once
}

TEST(DeviceMutexSecurity, AFailedStepFreesWhatWasBuilt) {
    const struct {
        const char* call;
        int succeedFirst;
    } failures[] = {{"AllocateAndInitializeSid", 0},
                    {"AllocateAndInitializeSid", 1},
                    {"SetEntriesInAclA", 0},
                    {"LocalAlloc", 0},
                    {"InitializeSecurityDescriptor", 0},
                    {"SetSecurityDescriptorDacl", 0}};
    for (const auto& failure : failures) {
        SCOPED_TRACE(std::string(failure.call) + " after " + std::to_string(failure.succeedFirst));
        const size_t before = platform::LiveLocalBlocks();
        ASSERT_TRUE(platform::FailSecurityCall(failure.call, failure.succeedFirst));
        SECURITY_ATTRIBUTES attributes{};
        EXPECT_FALSE(BuildGlobalMutexSecurity(&attributes));
        platform::ResetSecurityCallFailures();
        EXPECT_EQ(platform::LiveLocalBlocks(), before);
        EXPECT_EQ(attributes.lpSecurityDescriptor, nullptr);
    }
}

}  // namespace
}  // namespace b58

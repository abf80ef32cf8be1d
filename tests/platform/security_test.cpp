#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform_control.h"
#include "platform/win32.h"
#include "unique_name.h"

namespace b58::test {
namespace {

constexpr DWORD kFullAccess = 0x001F003F;

std::vector<BYTE> SidBytes(PSID sid) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + 8 + 4 * bytes[1]);
}

struct Sids {
    PSID everyone = nullptr;
    PSID administrators = nullptr;
    Sids() {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                 0, &administrators);
    }
    ~Sids() {
        if (everyone != nullptr) FreeSid(everyone);
        if (administrators != nullptr) FreeSid(administrators);
    }
};

EXPLICIT_ACCESS_A Entry(PSID sid, ACCESS_MODE mode, DWORD access, TRUSTEE_TYPE type = TRUSTEE_IS_GROUP) {
    EXPLICIT_ACCESS_A entry{};
    entry.grfAccessPermissions = access;
    entry.grfAccessMode = mode;
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = type;
    entry.Trustee.ptstrName = static_cast<LPSTR>(sid);
    return entry;
}

struct AceView {
    BYTE type;
    DWORD mask;
    std::vector<BYTE> sid;
};

std::vector<AceView> ReadAces(const ACL* acl) {
    std::vector<AceView> aces;
    const auto* at = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE ace;
        std::memcpy(&ace, at, sizeof(ace));
        aces.push_back({ace.Header.AceType, ace.Mask, SidBytes(const_cast<BYTE*>(at) + 8)});
        at += ace.Header.AceSize;
    }
    return aces;
}

TEST(SecurityTest, SidsHaveTheSystemLayout) {
    Sids sids;
    ASSERT_NE(sids.everyone, nullptr);
    ASSERT_NE(sids.administrators, nullptr);
    EXPECT_EQ(SidBytes(sids.everyone), (std::vector<BYTE>{1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(SidBytes(sids.administrators),
              (std::vector<BYTE>{1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0}));

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID tooLong = nullptr;
    SetLastError(0);
    EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 1, 2, 3, 4, 5, 6, 7, 8, &tooLong));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SID);
    EXPECT_EQ(tooLong, nullptr);
}

TEST(SecurityTest, AccessListHoldsOneEntryPerTrustee) {
    Sids sids;
    EXPLICIT_ACCESS_A entries[2] = {
        Entry(sids.everyone, SET_ACCESS, kFullAccess, TRUSTEE_IS_WELL_KNOWN_GROUP),
        Entry(sids.administrators, SET_ACCESS, kFullAccess)};
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclA(2, entries, nullptr, &acl), ERROR_SUCCESS);
    ASSERT_NE(acl, nullptr);
    EXPECT_EQ(acl->AclRevision, ACL_REVISION);
    ASSERT_EQ(acl->AceCount, 2);
    const size_t aceBytes = (8 + 12) + (8 + 16);
    EXPECT_GE(acl->AclSize, sizeof(ACL) + aceBytes);

    std::vector<AceView> aces = ReadAces(acl);
    EXPECT_EQ(aces[0].type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(aces[0].mask, kFullAccess);
    EXPECT_EQ(aces[0].sid, SidBytes(sids.everyone));
    EXPECT_EQ(aces[1].type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(aces[1].mask, kFullAccess);
    EXPECT_EQ(aces[1].sid, SidBytes(sids.administrators));
    EXPECT_EQ(LocalFree(acl), nullptr);
}

TEST(SecurityTest, DescriptorTakesRevisionOneOnly) {
    HLOCAL descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    ASSERT_NE(descriptor, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetSecurityDescriptorDacl(descriptor, TRUE, nullptr, FALSE)) << "not initialised yet";
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_REVISION);
    SetLastError(0);
    EXPECT_FALSE(InitializeSecurityDescriptor(descriptor, 2));
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_REVISION);
    EXPECT_TRUE(InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(descriptor, TRUE, nullptr, FALSE));
    EXPECT_EQ(LocalFree(descriptor), nullptr);
}

TEST(SecurityTest, MutexTakesTheBuiltDescriptor) {
    Sids sids;
    EXPLICIT_ACCESS_A entries[2] = {
        Entry(sids.everyone, SET_ACCESS, kFullAccess, TRUSTEE_IS_WELL_KNOWN_GROUP),
        Entry(sids.administrators, SET_ACCESS, kFullAccess)};
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclA(2, entries, nullptr, &acl), ERROR_SUCCESS);
    HLOCAL descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    ASSERT_TRUE(InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE));
    SECURITY_ATTRIBUTES attributes{12, descriptor, FALSE};

    const std::string name = "Global\\" + UniqueName("secured");
    HANDLE mutex = CreateMutexA(&attributes, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(opened));
    CloseHandle(opened);
    CloseHandle(mutex);
    LocalFree(descriptor);
    LocalFree(acl);
}

TEST(SecurityTest, LocalAllocZeroFillsWhenAsked) {
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, 300));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::vector<BYTE>(block, block + 300), std::vector<BYTE>(300, 0));
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

#ifndef _WIN32
// What only the stand-in checks or offers.

TEST(SecurityTest, AccessListEntriesAreChecked) {
    Sids sids;
    PACL acl = nullptr;
    EXPLICIT_ACCESS_A entry = Entry(nullptr, SET_ACCESS, kFullAccess);
    EXPECT_EQ(SetEntriesInAclA(1, &entry, nullptr, &acl), ERROR_INVALID_PARAMETER) << "no SID";
    BYTE badSid[12] = {2, 1, 0, 0, 0, 0, 0, 1};
    entry = Entry(badSid, SET_ACCESS, kFullAccess);
    EXPECT_EQ(SetEntriesInAclA(1, &entry, nullptr, &acl), ERROR_INVALID_SID) << "unknown SID revision";
    entry = Entry(sids.everyone, SET_ACCESS, kFullAccess);
    const uint32_t unknownMode = 9;
    std::memcpy(&entry.grfAccessMode, &unknownMode, sizeof(unknownMode));
    EXPECT_EQ(SetEntriesInAclA(1, &entry, nullptr, &acl), ERROR_INVALID_PARAMETER) << "unknown mode";
    entry = Entry(sids.everyone, SET_ACCESS, kFullAccess);
    entry.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    EXPECT_EQ(SetEntriesInAclA(1, &entry, nullptr, &acl), ERROR_NONE_MAPPED) << "no account names here";
    entry = Entry(sids.everyone, SET_ACCESS, kFullAccess);
    EXPECT_EQ(SetEntriesInAclA(1, &entry, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(acl, nullptr) << "nothing is returned on failure";
}

TEST(SecurityTest, LaterEntriesChangeEarlierOnesAndDenialsComeFirst) {
    Sids sids;
    EXPLICIT_ACCESS_A entries[] = {
        Entry(sids.everyone, GRANT_ACCESS, 0x1),        Entry(sids.everyone, GRANT_ACCESS, 0x2),
        Entry(sids.administrators, GRANT_ACCESS, 0x10), Entry(sids.administrators, DENY_ACCESS, 0x20),
        Entry(sids.administrators, REVOKE_ACCESS, 0),   Entry(sids.administrators, DENY_ACCESS, 0x40),
        Entry(sids.everyone, GRANT_ACCESS, 0x4),
    };
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclA(7, entries, nullptr, &acl), ERROR_SUCCESS);
    std::vector<AceView> aces = ReadAces(acl);
    ASSERT_EQ(aces.size(), 2u);
    EXPECT_EQ(aces[0].type, ACCESS_DENIED_ACE_TYPE);
    EXPECT_EQ(aces[0].mask, 0x40u);
    EXPECT_EQ(aces[0].sid, SidBytes(sids.administrators));
    EXPECT_EQ(aces[1].type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(aces[1].mask, 0x7u) << "grants to one trustee add up";
    EXPECT_EQ(acl->AclSize, sizeof(ACL) + (8 + 16) + (8 + 12));
    LocalFree(acl);

    EXPLICIT_ACCESS_A replaced[] = {Entry(sids.everyone, GRANT_ACCESS, 0x1),
                                    Entry(sids.everyone, DENY_ACCESS, 0x2),
                                    Entry(sids.everyone, SET_ACCESS, 0x8)};
    ASSERT_EQ(SetEntriesInAclA(3, replaced, nullptr, &acl), ERROR_SUCCESS);
    aces = ReadAces(acl);
    ASSERT_EQ(aces.size(), 1u) << "setting replaces what was said of the trustee";
    EXPECT_EQ(aces[0].mask, 0x8u);
    LocalFree(acl);
}

TEST(SecurityTest, MutexRefusesADescriptorThatWasNeverInitialised) {
    HLOCAL descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    SECURITY_ATTRIBUTES attributes{12, descriptor, FALSE};
    SetLastError(0);
    EXPECT_EQ(CreateMutexA(&attributes, FALSE, UniqueName("unsecured").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_REVISION);
    LocalFree(descriptor);
}

TEST(SecurityTest, BlocksMustBeFreedByTheCallThatMatchesTheirAllocation) {
    const size_t live = platform::LiveLocalBlocks();
    Sids sids;
    HLOCAL block = LocalAlloc(LMEM_FIXED, 16);
    EXPECT_EQ(platform::LiveLocalBlocks(), live + 3);
    EXPECT_EQ(LocalFree(sids.everyone), sids.everyone) << "a SID goes back through FreeSid";
    EXPECT_EQ(FreeSid(block), block) << "a local block goes back through LocalFree";
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(platform::LiveLocalBlocks(), live + 2);
}

class SecurityFailureTest : public testing::Test {
  protected:
    void TearDown() override { platform::ResetSecurityCallFailures(); }
};

TEST_F(SecurityFailureTest, ChosenCallFailsAfterTheGivenNumberOfSuccesses) {
    EXPECT_FALSE(platform::FailSecurityCall("CreateMutexA"));
    ASSERT_TRUE(platform::FailSecurityCall("AllocateAndInitializeSid", 1));
    const size_t live = platform::LiveLocalBlocks();
    {
        Sids sids;
        EXPECT_NE(sids.everyone, nullptr);
        EXPECT_EQ(sids.administrators, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    }
    EXPECT_EQ(platform::LiveLocalBlocks(), live);
    platform::ResetSecurityCallFailures();
    Sids sids;
    EXPECT_NE(sids.administrators, nullptr);
}

TEST_F(SecurityFailureTest, EveryStepOfTheBuildCanBeMadeToFail) {
    Sids sids;
    EXPLICIT_ACCESS_A entry = Entry(sids.everyone, SET_ACCESS, kFullAccess);
    PACL acl = nullptr;
    ASSERT_TRUE(platform::FailSecurityCall("SetEntriesInAclA"));
    EXPECT_EQ(SetEntriesInAclA(1, &entry, nullptr, &acl), ERROR_NOT_ENOUGH_MEMORY);

    ASSERT_TRUE(platform::FailSecurityCall("LocalAlloc"));
    SetLastError(0);
    EXPECT_EQ(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    platform::ResetSecurityCallFailures();

    BYTE descriptor[SECURITY_DESCRIPTOR_MIN_LENGTH] = {};
    ASSERT_TRUE(platform::FailSecurityCall("InitializeSecurityDescriptor"));
    EXPECT_FALSE(InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION));
    platform::ResetSecurityCallFailures();
    ASSERT_TRUE(InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(platform::FailSecurityCall("SetSecurityDescriptorDacl"));
    EXPECT_FALSE(SetSecurityDescriptorDacl(descriptor, TRUE, nullptr, FALSE));
}
#endif

}  // namespace
}  // namespace b58::test

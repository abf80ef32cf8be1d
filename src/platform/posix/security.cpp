// SIDs, access lists and security descriptors, built in the system's own binary forms so
// that code which builds an access list for an object runs unchanged. Nothing here checks
// access: the lists are built and carried, and the objects they are given to ignore them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/posix/local_memory.h"
#include "platform/posix/security_failures.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

constexpr size_t kSidFixedPart = 8;  // revision, count, identifier authority
constexpr WORD kDaclPresent = 0x0004;
constexpr WORD kDaclDefaulted = 0x0008;
constexpr DWORD kInheritanceFlags =
    OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE;

// The descriptor as kept here: the absolute form's revision and control word, then the
// DACL. It fits the 20 bytes a 32-bit caller allocates for a descriptor (the owner,
// group and SACL, which nothing here sets, are not kept).
struct Descriptor {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    DWORD Reserved;
    PACL Dacl;
};
static_assert(sizeof(Descriptor) <= SECURITY_DESCRIPTOR_MIN_LENGTH, "fits the 32-bit descriptor size");

// The length of a well-formed SID, or 0 when `sid` is not one.
size_t SidLength(const void* sid) {
    if (sid == nullptr) return 0;
    const auto* bytes = static_cast<const BYTE*>(sid);
    if (bytes[0] != SID_REVISION || bytes[1] > SID_MAX_SUB_AUTHORITIES) return 0;
    return kSidFixedPart + 4u * bytes[1];
}

bool SameSid(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
    return a == b;
}

struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::vector<BYTE> sid;
};

// An enumeration field as the 32-bit number the caller stored: a value outside the
// enumeration is no valid value of its type to compare.
template <class Enumeration>
uint32_t StoredNumber(const Enumeration& field) {
    static_assert(sizeof(Enumeration) == sizeof(uint32_t));
    uint32_t number = 0;
    std::memcpy(&number, &field, sizeof(number));
    return number;
}

DWORD CheckEntry(const EXPLICIT_ACCESS_A& entry) {
    if (StoredNumber(entry.grfAccessMode) > REVOKE_ACCESS) return ERROR_INVALID_PARAMETER;
    if ((entry.grfInheritance & ~kInheritanceFlags) != 0) return ERROR_INVALID_PARAMETER;
    const TRUSTEE_A& trustee = entry.Trustee;
    if (trustee.pMultipleTrustee != nullptr ||
        StoredNumber(trustee.MultipleTrusteeOperation) != NO_MULTIPLE_TRUSTEE) {
        return ERROR_INVALID_PARAMETER;
    }
    switch (StoredNumber(trustee.TrusteeForm)) {
        case TRUSTEE_IS_SID:
            if (trustee.ptstrName == nullptr) return ERROR_INVALID_PARAMETER;
            return SidLength(trustee.ptstrName) != 0 ? ERROR_SUCCESS : ERROR_INVALID_SID;
        case TRUSTEE_IS_NAME:
            // There is no account database here to look a name up in.
            return trustee.ptstrName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NONE_MAPPED;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

// Applies the entries in order: SET_ACCESS replaces what the list says about the trustee,
// GRANT_ACCESS adds rights to it, DENY_ACCESS adds a denial, REVOKE_ACCESS drops it.
std::vector<Ace> ApplyEntries(ULONG count, const EXPLICIT_ACCESS_A* entries) {
    std::vector<Ace> aces;
    for (ULONG i = 0; i < count; ++i) {
        const EXPLICIT_ACCESS_A& entry = entries[i];
        const auto* sidBytes = reinterpret_cast<const BYTE*>(entry.Trustee.ptstrName);
        std::vector<BYTE> sid(sidBytes, sidBytes + SidLength(sidBytes));
        const BYTE flags = static_cast<BYTE>(entry.grfInheritance);
        auto forTrustee = [&](const Ace& ace) { return SameSid(ace.sid, sid); };
        switch (entry.grfAccessMode) {
            case SET_ACCESS:
            case REVOKE_ACCESS:
                std::erase_if(aces, forTrustee);
                if (entry.grfAccessMode == SET_ACCESS) {
                    aces.push_back({ACCESS_ALLOWED_ACE_TYPE, flags, entry.grfAccessPermissions, sid});
                }
                break;
            case GRANT_ACCESS: {
                bool merged = false;
                for (Ace& ace : aces) {
                    if (ace.type == ACCESS_ALLOWED_ACE_TYPE && ace.flags == flags && forTrustee(ace)) {
                        ace.mask |= entry.grfAccessPermissions;
                        merged = true;
                        break;
                    }
                }
                if (!merged)
                    aces.push_back({ACCESS_ALLOWED_ACE_TYPE, flags, entry.grfAccessPermissions, sid});
                break;
            }
            case DENY_ACCESS:
                aces.push_back({ACCESS_DENIED_ACE_TYPE, flags, entry.grfAccessPermissions, sid});
                break;
            default:
                break;
        }
    }
    // Denials come first, as the system orders them, so that they are met before grants.
    std::stable_partition(aces.begin(), aces.end(),
                          [](const Ace& ace) { return ace.type == ACCESS_DENIED_ACE_TYPE; });
    return aces;
}

bool ReadDescriptor(const void* where, Descriptor* descriptor) {
    if (where == nullptr) return false;
    std::memcpy(descriptor, where, sizeof(Descriptor));  // the caller's block may be unaligned
    return true;
}

}  // namespace
}  // namespace b58::platform

using namespace b58::platform;

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount, DWORD sub0,
                              DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6,
                              DWORD sub7, PSID* sid) {
    if (authority == nullptr || sid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (subAuthorityCount > SID_MAX_SUB_AUTHORITIES) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    if (SecurityCallFails(SecurityCall::kAllocateAndInitializeSid)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    const size_t length = kSidFixedPart + 4u * subAuthorityCount;
    auto* bytes = static_cast<BYTE*>(AllocateBlock(BlockKind::kSid, length, true));
    if (bytes == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    bytes[0] = SID_REVISION;
    bytes[1] = subAuthorityCount;
    std::memcpy(bytes + 2, authority->Value, sizeof(authority->Value));
    const DWORD subAuthorities[SID_MAX_SUB_AUTHORITIES] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
    std::memcpy(bytes + kSidFixedPart, subAuthorities, 4u * subAuthorityCount);
    *sid = bytes;
    return TRUE;
}

PSID FreeSid(PSID sid) {
    if (sid == nullptr || !FreeBlock(BlockKind::kSid, sid)) return sid;
    return nullptr;
}

// Merging into an existing list is not offered: callers here build lists from scratch.
DWORD SetEntriesInAclA(ULONG count, PEXPLICIT_ACCESS_A entries, PACL oldAcl, PACL* newAcl) {
    if (newAcl == nullptr || (count > 0 && entries == nullptr)) return ERROR_INVALID_PARAMETER;
    if (oldAcl != nullptr) return ERROR_NOT_SUPPORTED;
    for (ULONG i = 0; i < count; ++i) {
        DWORD error = CheckEntry(entries[i]);
        if (error != ERROR_SUCCESS) return error;
    }
    if (SecurityCallFails(SecurityCall::kSetEntriesInAcl)) return ERROR_NOT_ENOUGH_MEMORY;

    const std::vector<Ace> aces = ApplyEntries(count, entries);
    size_t size = sizeof(ACL);
    for (const Ace& ace : aces) size += offsetof(ACCESS_ALLOWED_ACE, SidStart) + ace.sid.size();
    if (size > 0xFFFF) return ERROR_INVALID_PARAMETER;

    // A LocalAlloc block (the caller frees it with LocalFree), not counted as a LocalAlloc call.
    auto* block = static_cast<BYTE*>(AllocateBlock(BlockKind::kLocal, size, true));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    ACL header{};
    header.AclRevision = ACL_REVISION;
    header.AclSize = static_cast<WORD>(size);
    header.AceCount = static_cast<WORD>(aces.size());
    std::memcpy(block, &header, sizeof(header));
    BYTE* at = block + sizeof(ACL);
    for (const Ace& ace : aces) {
        ACCESS_ALLOWED_ACE fixed{};
        const size_t fixedPart = offsetof(ACCESS_ALLOWED_ACE, SidStart);
        fixed.Header.AceType = ace.type;
        fixed.Header.AceFlags = ace.flags;
        fixed.Header.AceSize = static_cast<WORD>(fixedPart + ace.sid.size());
        fixed.Mask = ace.mask;
        std::memcpy(at, &fixed, fixedPart);
        std::memcpy(at + fixedPart, ace.sid.data(), ace.sid.size());
        at += fixed.Header.AceSize;
    }
    *newAcl = reinterpret_cast<PACL>(block);
    return ERROR_SUCCESS;
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    if (descriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SECURITY_DESCRIPTOR_REVISION ||
        SecurityCallFails(SecurityCall::kInitializeSecurityDescriptor)) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    Descriptor fresh{};
    fresh.Revision = static_cast<BYTE>(revision);
    std::memcpy(descriptor, &fresh, sizeof(fresh));
    return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL daclPresent, PACL dacl,
                               BOOL daclDefaulted) {
    Descriptor current{};
    if (!ReadDescriptor(descriptor, &current)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (current.Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    if (SecurityCallFails(SecurityCall::kSetSecurityDescriptorDacl)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    current.Control = static_cast<WORD>(current.Control & ~(kDaclPresent | kDaclDefaulted));
    current.Dacl = nullptr;
    if (daclPresent) {
        current.Control =
            static_cast<WORD>(current.Control | kDaclPresent | (daclDefaulted ? kDaclDefaulted : 0));
        current.Dacl = dacl;
    }
    std::memcpy(descriptor, &current, sizeof(current));
    return TRUE;
}

// The failures tests ask of the security calls (platform_control.h, FailSecurityCall).
#pragma once

namespace b58::platform {

enum class SecurityCall {
    kAllocateAndInitializeSid,
    kSetEntriesInAcl,
    kInitializeSecurityDescriptor,
    kSetSecurityDescriptorDacl,
    kLocalAlloc,
};

// True when this call of `call` is to fail. Counts the call.
bool SecurityCallFails(SecurityCall call);

}  // namespace b58::platform

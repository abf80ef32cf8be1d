#include "platform/posix/security_failures.h"

#include <array>
#include <cstring>
#include <mutex>

#include "platform/platform_control.h"

namespace b58::platform {
namespace {

constexpr std::array<const char*, 5> kCallNames = {"AllocateAndInitializeSid", "SetEntriesInAclA",
                                                   "InitializeSecurityDescriptor",
                                                   "SetSecurityDescriptorDacl", "LocalAlloc"};

// Per call: -1 while it works, else the number of calls still to succeed before it fails.
struct FailurePlan {
    std::mutex lock;
    std::array<int, kCallNames.size()> successesLeft{-1, -1, -1, -1, -1};
};

FailurePlan& Plan() {
    static FailurePlan* plan = new FailurePlan;
    return *plan;
}

}  // namespace

bool SecurityCallFails(SecurityCall call) {
    FailurePlan& plan = Plan();
    std::lock_guard<std::mutex> hold(plan.lock);
    int& left = plan.successesLeft[static_cast<size_t>(call)];
    if (left < 0) return false;
    if (left == 0) return true;
    --left;
    return false;
}

bool FailSecurityCall(const char* functionName, int succeedFirst) {
    for (size_t i = 0; i < kCallNames.size(); ++i) {
        if (std::strcmp(functionName, kCallNames[i]) == 0) {
            FailurePlan& plan = Plan();
            std::lock_guard<std::mutex> hold(plan.lock);
            plan.successesLeft[i] = succeedFirst < 0 ? 0 : succeedFirst;
            return true;
        }
    }
    return false;
}

void ResetSecurityCallFailures() {
    FailurePlan& plan = Plan();
    std::lock_guard<std::mutex> hold(plan.lock);
    plan.successesLeft.fill(-1);
}

}  // namespace b58::platform

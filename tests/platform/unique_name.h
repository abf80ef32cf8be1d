// Names for named objects that no other test (in this program or another run) uses.
#pragma once

#include <atomic>
#include <string>

#include "platform/win32.h"

namespace b58::test {

inline std::string UniqueName(const char* tag) {
    static std::atomic<int> counter{0};
    return "b58test-" + std::to_string(GetCurrentProcessId()) + "-" + tag + "-" + std::to_string(counter++);
}

}  // namespace b58::test

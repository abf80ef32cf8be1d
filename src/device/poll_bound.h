// A bound on a loop that polls the controller. It ends after a number of polls or when a
// time on the tick clock has passed, whichever comes first. The poll count carries the bound
// when the pauses between polls are what takes the time (and keeps it when the pauses run
// shortened); the tick clock catches polls that take long by themselves.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace b58 {

class PollBound {
  public:
    PollBound(uint32_t maxPolls, uint32_t maxMilliseconds)
        : maxPolls_(maxPolls), maxMilliseconds_(maxMilliseconds), start_(GetTickCount()) {}

    // Counts one more poll; false once the bound is reached and the loop must give up.
    bool Another() {
        if (++polls_ > maxPolls_) return false;
        return GetTickCount() - start_ < maxMilliseconds_;
    }

  private:
    uint32_t polls_ = 0;
    const uint32_t maxPolls_;
    const uint32_t maxMilliseconds_;
    const DWORD start_;
};

}  // namespace b58

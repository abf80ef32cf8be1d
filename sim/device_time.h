// Time as the virtual scanner spends it: device durations are stated at time scale 1 and
// pass under the platform's time scale, like the driver's own pauses.
#pragma once

#include <chrono>

#include "platform/platform_control.h"

namespace b58::sim {

using DeviceClock = std::chrono::steady_clock;

// A device duration of `microseconds` at scale 1, as it passes now.
inline DeviceClock::duration ScaledDuration(double microseconds) {
    const double scaled = microseconds * platform::TimeScale();
    if (!(scaled > 0.0)) return DeviceClock::duration::zero();
    // Capped at a day, which keeps the arithmetic on time points clear of overflow.
    const double capped = scaled < 86'400e6 ? scaled : 86'400e6;
    return std::chrono::duration_cast<DeviceClock::duration>(
        std::chrono::duration<double, std::micro>(capped));
}

}  // namespace b58::sim

// Absolute wall-clock times for the pthread calls that wait until one (the thread checkers
// understand only those variants). Callers wait in slices and judge their time-out by the
// monotonic clock, so a step of the wall clock costs at most one slice.
#pragma once

#include <chrono>
#include <ctime>

namespace b58::platform {

inline constexpr std::chrono::milliseconds kWallClockSlice{500};

// The wall-clock time `delay` from now.
inline timespec WallClockAfter(std::chrono::nanoseconds delay) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    long long total = static_cast<long long>(now.tv_nsec) + delay.count();
    timespec at{};
    at.tv_sec = now.tv_sec + static_cast<time_t>(total / 1000000000LL);
    at.tv_nsec = static_cast<long>(total % 1000000000LL);
    return at;
}

}  // namespace b58::platform

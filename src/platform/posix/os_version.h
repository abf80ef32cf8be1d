// The answer GetVersionExA gives: a platform id and a major and minor version, or a failure.
#pragma once

#include <cstdint>
#include <optional>

namespace b58::platform {

struct OsVersionAnswer {
    uint32_t platformId;
    uint32_t major;
    uint32_t minor;
    bool failing;
};

// A modern NT: platform 2, version 10.0.
inline constexpr OsVersionAnswer kDefaultOsVersion{2, 10, 0, false};

// Reads "platform.major.minor" (decimal numbers, e.g. "2.5.1"), or "fail" for an answer
// that fails; nothing for any other text.
std::optional<OsVersionAnswer> ParseOsVersion(const char* text);

}  // namespace b58::platform

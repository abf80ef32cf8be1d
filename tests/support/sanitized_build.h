// Whether this test program is built with AddressSanitizer or ThreadSanitizer: the long
// whole-scan tables then run a subset, since every scan takes several times longer there.
#pragma once

namespace b58::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace b58::testing

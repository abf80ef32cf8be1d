// The trace writer: every message goes to the debugger channel (OutputDebugStringA) as
// "\nC4:" + the current indentation + the message. A message that starts with '<' (entering
// a routine) first deepens the indentation by two spaces; one that starts with '>' (leaving)
// is written and then makes it two spaces shallower, never below zero.
#pragma once

#include <cstddef>

namespace b58 {

inline constexpr size_t kTraceMessageSize = 512;  // a longer message is cut
inline constexpr size_t kTraceIndentSize = 256;   // the indentation never grows past it

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Trace(const char* format, ...);

// Current indentation depth in characters (for tests).
size_t TraceIndentDepth();
// Back to the empty indentation of a fresh load (for tests).
void ResetTraceIndent();

}  // namespace b58

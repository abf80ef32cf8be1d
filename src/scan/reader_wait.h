// Waiting for the reader thread to end once StopRequested is set.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace b58 {

// The reader ends at its next poll, also while it waits for the data handshake or for a
// device read (it cancels its own reads then).
inline constexpr DWORD kReaderEndWaitMs = 15000;
// After that first wait the reader still owns the line ring, so it is waited for further, in
// steps of kReaderEndWaitMs, up to this much longer before the caller gives up on it.
inline constexpr DWORD kReaderExtraWaitMs = 60000;

// True when the thread has ended (or there is none); false when it still runs after every
// wait, and the memory it uses must then be left alone.
bool WaitForReaderToEnd(HANDLE thread);

}  // namespace b58

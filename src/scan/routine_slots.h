// The routines SetParameters chooses for a mode: the run's LineRoutine and the ReaderRoutine
// the scan start runs its reader thread with.
#pragma once

#include "platform/win32.h"
#include "scan/line_routines.h"
#include "scan/scan_request.h"

namespace b58 {

LineRoutineFn LineRoutineFor(LineRoutineKind kind);
LPTHREAD_START_ROUTINE ReaderRoutineFor(ReaderRoutineKind kind);

}  // namespace b58

// The routines SetParameters stores in the LineRoutine and ReaderRoutine slots for a mode.
#pragma once

#include "scan/scan_request.h"
#include "state/driver_state.h"

namespace b58 {

LineRoutineFn LineRoutineFor(LineRoutineKind kind);
LPTHREAD_START_ROUTINE ReaderRoutineFor(ReaderRoutineKind kind);

}  // namespace b58

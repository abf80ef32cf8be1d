#include "scan/routine_slots.h"

namespace b58 {
namespace {

// The line routines and reader threads (line_routines.h, reader_threads.h) are not part of
// this build yet. Until they are, every slot holds a routine that fails cleanly: no line is
// ever delivered and a started reader reports failure at once, so a scan started anyway
// ends with "no further line" instead of touching memory.
int B58_CALL NoLineRoutine(uint8_t*) {
    return 0;
}

DWORD WINAPI NoReader(LPVOID) {
    g_state.ReaderFailed.store(1, std::memory_order_release);
    return 0;
}

}  // namespace

LineRoutineFn LineRoutineFor(LineRoutineKind) {
    return NoLineRoutine;
}

LPTHREAD_START_ROUTINE ReaderRoutineFor(ReaderRoutineKind) {
    return NoReader;
}

}  // namespace b58

#include "scan/routine_slots.h"

#include "scan/line_routines.h"
#include "scan/reader_threads.h"

namespace b58 {

LineRoutineFn LineRoutineFor(LineRoutineKind kind) {
    switch (kind) {
        case LineRoutineKind::LineArt:
            return LineArtLines;
        case LineRoutineKind::Gray:
            return GrayLines;
        case LineRoutineKind::Color24PixelMode:
            return Color24PixelModeLines;
        case LineRoutineKind::Color24LineMode:
            return Color24LineModeLines;
        case LineRoutineKind::Color48LineMode:
            return Color48LineModeLines;
    }
    return nullptr;
}

LPTHREAD_START_ROUTINE ReaderRoutineFor(ReaderRoutineKind kind) {
    switch (kind) {
        case ReaderRoutineKind::Pixel:
            return PixelReader;
        case ReaderRoutineKind::Plane:
            return PlaneReader;
    }
    return nullptr;
}

}  // namespace b58

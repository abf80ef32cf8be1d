#include "state/driver_state.h"

#include <new>

namespace b58 {

DriverState g_state;

void ResetDriverState() {
    g_state.~DriverState();
    new (&g_state) DriverState();
}

}  // namespace b58

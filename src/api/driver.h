// The one process-wide driver object. The fifteen entry points fetch it at the boundary and
// hand it to the operations below them; nothing under the entry points reaches for it on its
// own. A host loads the driver once per process and the scanner is exclusive across the
// machine (the device mutex), so one object serves every entry point and thread.
#pragma once

#include "state/driver_state.h"

namespace b58 {

using Driver = DriverState;

// The instance, alive for the life of the process.
Driver& TheDriver();

}  // namespace b58

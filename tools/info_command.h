// "b58scan info": which driver was loaded, which entry points it has, and what it says
// about its version.
#pragma once

#include <ostream>

#include "driver_library.h"

namespace b58::tools {

using host::DriverLibrary;
using host::kEntryPointCount;

// Prints the report. Returns 0 when the driver offers all fifteen entry points, else 1.
int RunInfo(const DriverLibrary& driver, std::ostream& out);

}  // namespace b58::tools

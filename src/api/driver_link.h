// The link to the scanner this process holds, built from the driver state for the device
// and calibration routines an entry point calls. Build it after the handle is opened: it
// carries the handle's value, not the field.
#pragma once

#include "device/scanner_link.h"
#include "state/driver_state.h"

namespace b58 {

inline ScannerLink DriverLink() {
    return {g_state.DeviceHandle, g_state.DeviceKind, g_state.Channel, g_state.ImageReader};
}

}  // namespace b58

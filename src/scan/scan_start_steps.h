// The steps of StartScan once the host's record is checked: the wait for the scanner, the
// front end's calibration, the search for the bed's (or the adapter's) origin, the shading,
// the window's place on the device, the window, the front end's values, the start command
// and the reader thread.
#pragma once

#include <cstdint>

#include "contract/host_records.h"
#include "device/scanner_link.h"
#include "platform/win32.h"
#include "scan/scan_run.h"
#include "scan/scan_session.h"
#include "settings/settings.h"

namespace b58 {

// The diagnostic switches a start looks at, as the host set them.
struct ScanStartSwitches {
    uint16_t ScanFromOrigin = 0;
    uint16_t ScanCalibrationArea = 0;
    int32_t DirectReadMode = 0;
    uint16_t DirectReadPacing = 0;
};

// What a scan start works on; the driver object owns every part.
struct ScanStart {
    ScannerLink link;
    ScanSession& session;  // completed with what the start places on the device
    ScanRun& run;
    const OpenTimeSettings& openTime;
    ShadingSettings& shading;  // the AFE search's, kept for the shading calibration
    int32_t& lastStatus;       // the outcome of each step that talks to the scanner
    LPTHREAD_START_ROUTINE readerRoutine;
    ScanStartSwitches switches;
};

// Runs the steps; 0, with the record's Status telling why and a trace line naming the step,
// when memory runs out, the scanner fails a step or the window does not fit the device.
int32_t RunStartScan(ScanStart& start, ScanStartRecord* record);

}  // namespace b58

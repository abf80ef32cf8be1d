// Ideal images of a scan, without sensor defects, uneven light or noise: a reflectance (or
// transmittance) of 1 is full scale. Colours are aligned: every colour of a line shows the
// same line of the bed. One-plane images hold the mean of the three colours.
#pragma once

#include <cstdint>

#include "sim/driver_plan.h"
#include "sim/sample_image.h"
#include "sim/scan_window.h"
#include "sim/scanner_model.h"

namespace b58::sim {

// What the device scanned for a programmed window: one row per delivered line (including
// the lines the driver discards: its output line k is row k + 5 of a main scan), one pixel
// per delivered pixel, at the window's sample width.
SampleImage ScannedTruth(const ScannerModel& model, const ScanWindow& window, uint8_t lamps);

// What the host asked for: the area of the request from the glass's (or the film
// aperture's) corner, at the request's resolution after normalisation, LinePixels x
// ImageLines, sampled as the device samples (one sensor pixel by one motor step at the
// kept positions). Line art gives the grey it is thresholded from.
SampleImage RequestedTruth(const ScannerModel& model, const HostRequest& request);

}  // namespace b58::sim

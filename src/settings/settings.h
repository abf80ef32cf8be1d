// The settings file "ztb58.ini" beside the driver module, section "ZTK". It is read, never
// written; a missing file, section or key gives the key's default. Every value is stored
// truncated to 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace b58 {

inline constexpr size_t kModuleNameChars = 100;      // GetModuleFileNameA limit
inline constexpr size_t kOpenTimePathSize = 128;     // the open-time reader's local buffer
inline constexpr size_t kCalibrationPathSize = 100;  // the calibration readers' shared buffer

// The open-time keys, read at every initialisation attempt. Until the first is, every value is
// 0.
struct OpenTimeSettings {
    uint16_t LEFTADD = 0;
    uint16_t TOPADD = 0;
    uint16_t KSTARTY = 0;
    uint16_t TATOPADD = 0;
    uint16_t TAKSTARTY = 0;
};

// The values of a calibration run that the driver keeps for the shading of the scan.
struct ShadingSettings {
    uint16_t BLACKSHADING = 0;
    uint16_t RAWDATA = 0;
    uint16_t FACTOR = 100;
};

// Values read by one calibration run; the ones kept driver-wide are Kept().
struct CalibrationSettings {
    uint16_t MIN_DARK = 40;  // flatbed only
    uint16_t MAX_DARK = 50;  // flatbed only
    uint16_t BLACKSHADING = 0;
    uint16_t RAWDATA = 0;
    uint16_t FACTOR = 100;
    uint16_t LEVEL2DONE = 1;
    uint16_t L1_W_MAX[3] = {235, 235, 235};  // red, green, blue
    uint16_t L1_W_MIN[3] = {225, 225, 225};
    uint16_t L2_W_MAX[3] = {235, 235, 235};
    uint16_t L2_W_MIN[3] = {225, 225, 225};
    uint16_t GAIN_INIT[3] = {2, 2, 2};  // only the low 8 bits are used

    ShadingSettings Kept() const { return {BLACKSHADING, RAWDATA, FACTOR}; }
};

// Builds "<directory of the module>\ztb58.ini" into buffer. Returns false, leaving an
// empty string, when the module's name cannot be had whole or the result does not fit: the
// caller then uses the defaults rather than a cut path that could name another file.
bool BuildSettingsPath(char* buffer, size_t size);

// Reads the open-time keys (LEFTADD, TOPADD, KSTARTY, TATOPADD, TAKSTARTY).
OpenTimeSettings ReadOpenTimeSettings();

// Reads the calibration keys for one run: the flatbed routine reads MIN_DARK and MAX_DARK
// too.
CalibrationSettings ReadCalibrationSettings(bool flatbed);

// The driver-wide 100-byte path buffer of the calibration readers (for tests).
const char* CalibrationSettingsPath();

}  // namespace b58

#include "settings/settings.h"

#include <cstring>

#include "platform/win32.h"

namespace b58 {
namespace {

constexpr const char kSection[] = "ZTK";
constexpr const char kFileName[] = "\\ztb58.ini";
constexpr const char kModuleName[] = "b58spi.dll";

char g_calibrationPath[kCalibrationPathSize] = {};

// Reads one key; an unusable path means "no file", so the default stands.
uint16_t ReadKey(const char* path, const char* key, int defaultValue) {
    if (path[0] == '\0') return static_cast<uint16_t>(defaultValue);
    return static_cast<uint16_t>(GetPrivateProfileIntA(kSection, key, defaultValue, path));
}

}  // namespace

bool BuildSettingsPath(char* buffer, size_t size) {
    if (size == 0) return false;
    buffer[0] = '\0';
    char name[kModuleNameChars + 1] = {};
    HMODULE module = GetModuleHandleA(kModuleName);
    DWORD length = GetModuleFileNameA(module, name, kModuleNameChars);
    // A name of kModuleNameChars or more characters came back cut: its directory part may
    // name another folder, so it is not used.
    if (length == 0 || length >= kModuleNameChars) return false;

    // Backwards from the terminator to index 1: the first backslash ends the directory.
    for (size_t i = length; i >= 1; --i) {
        if (name[i] == '\\') {
            name[i] = '\0';
            break;
        }
    }
    if (std::strlen(name) + sizeof kFileName > size) return false;
    std::strcpy(buffer, name);
    lstrcatA(buffer, kFileName);
    return true;
}

OpenTimeSettings ReadOpenTimeSettings() {
    char path[kOpenTimePathSize];
    BuildSettingsPath(path, sizeof path);
    OpenTimeSettings s;
    s.LEFTADD = ReadKey(path, "LEFTADD", 0);
    s.TOPADD = ReadKey(path, "TOPADD", 120);
    s.KSTARTY = ReadKey(path, "KSTARTY", 0);
    s.TATOPADD = ReadKey(path, "TATOPADD", 300);
    s.TAKSTARTY = ReadKey(path, "TAKSTARTY", 450);
    return s;
}

CalibrationSettings ReadCalibrationSettings(bool flatbed) {
    BuildSettingsPath(g_calibrationPath, sizeof g_calibrationPath);
    const char* path = g_calibrationPath;
    CalibrationSettings s;
    if (flatbed) {
        s.MIN_DARK = ReadKey(path, "MIN_DARK", 40);
        s.MAX_DARK = ReadKey(path, "MAX_DARK", 50);
    }
    s.BLACKSHADING = ReadKey(path, "BLACKSHADING", 0);
    s.RAWDATA = ReadKey(path, "RAWDATA", 0);
    s.FACTOR = ReadKey(path, "FACTOR", 100);
    s.LEVEL2DONE = ReadKey(path, "LEVEL2DONE", 1);
    static const char* const kL1Max[3] = {"L1_R_W_MAX", "L1_G_W_MAX", "L1_B_W_MAX"};
    static const char* const kL1Min[3] = {"L1_R_W_MIN", "L1_G_W_MIN", "L1_B_W_MIN"};
    static const char* const kL2Max[3] = {"L2_R_W_MAX", "L2_G_W_MAX", "L2_B_W_MAX"};
    static const char* const kL2Min[3] = {"L2_R_W_MIN", "L2_G_W_MIN", "L2_B_W_MIN"};
    static const char* const kGainInit[3] = {"RGAIN_INIT", "GGAIN_INIT", "BGAIN_INIT"};
    for (int c = 0; c < 3; ++c) {
        s.L1_W_MAX[c] = ReadKey(path, kL1Max[c], 235);
        s.L1_W_MIN[c] = ReadKey(path, kL1Min[c], 225);
        s.L2_W_MAX[c] = ReadKey(path, kL2Max[c], 235);
        s.L2_W_MIN[c] = ReadKey(path, kL2Min[c], 225);
        s.GAIN_INIT[c] = ReadKey(path, kGainInit[c], 2);
    }
    return s;
}

const char* CalibrationSettingsPath() {
    return g_calibrationPath;
}

}  // namespace b58

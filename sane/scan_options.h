// The backend's options: their descriptors (fixed in memory for the life of the handle, as
// frontends keep pointers to them), their values, and the rules of sane_control_option.
#pragma once

#include <sane/sane.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace b58::sane {

enum OptionIndex : SANE_Int {
    kOptCount = 0,
    kOptModeGroup,
    kOptMode,
    kOptDepth,
    kOptResolution,
    kOptSource,
    kOptPreview,
    kOptThreshold,
    kOptGeometryGroup,
    kOptTlX,
    kOptTlY,
    kOptBrX,
    kOptBrY,
    kOptEnhancementGroup,
    kOptCustomGamma,
    kOptGammaVector,
    kOptGammaVectorR,
    kOptGammaVectorG,
    kOptGammaVectorB,
    kOptSensorsGroup,
    kOptScanButton,
    kOptionCount
};

enum class ScanMode { Lineart, Gray, Color };

// What the scanner offers, as the options present it.
struct ScanSourceInfo {
    const char* name;      // the option's value, e.g. "Flatbed"
    uint8_t driverSource;  // the driver's scan source code
    double widthMm, heightMm;
};

struct ScannerCapabilities {
    std::vector<int> resolutions;  // dpi, ascending
    std::vector<ScanSourceInfo> sources;
    bool gray16 = false;  // the scanner delivers 16-bit grey
};

// The request the options describe, ready for the scan.
struct ScanSettings {
    ScanMode mode = ScanMode::Color;
    int depth = 8;
    int resolution = 0;
    const ScanSourceInfo* source = nullptr;
    double leftMm = 0, topMm = 0, rightMm = 0, bottomMm = 0;  // ordered: left <= right, top <= bottom
    int threshold = 128;
    // Empty without custom gamma; else three sections (red, green, blue) of 2^depth entries
    // (256 for line art), the driver's table format.
    std::vector<uint16_t> gamma;
};

class ScanOptions {
  public:
    explicit ScanOptions(ScannerCapabilities capabilities);
    ScanOptions(const ScanOptions&) = delete;
    ScanOptions& operator=(const ScanOptions&) = delete;

    const SANE_Option_Descriptor* Descriptor(SANE_Int option) const;

    // sane_control_option's rules, with `buttonState` answering a read of the scan button
    // (false when it cannot say). `scanning` refuses changes while a scan runs.
    SANE_Status Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info, bool scanning,
                        const std::function<bool()>& buttonState);

    ScanSettings Settings() const;

  private:
    SANE_Status Set(SANE_Int option, void* value, SANE_Int& info);
    SANE_Status Get(SANE_Int option, void* value, const std::function<bool()>& buttonState) const;
    void UpdateForMode(SANE_Int& info);
    void UpdateForSource(SANE_Int& info);
    void UpdateGammaSize(SANE_Int& info);
    void UpdateActivity();
    int GammaEntries() const;
    const ScanSourceInfo& Source() const { return capabilities_.sources[sourceIndex_]; }

    ScannerCapabilities capabilities_;
    std::array<SANE_Option_Descriptor, kOptionCount> descriptors_{};

    // Constraint storage; the descriptors point here.
    std::vector<SANE_String_Const> modeNames_;
    std::vector<SANE_String_Const> sourceNames_;
    std::vector<SANE_Word> resolutionList_;
    std::array<SANE_Word, 3> depthList_{};
    SANE_Range xRange_{}, yRange_{}, thresholdRange_{}, gammaRange_{};

    // Values.
    ScanMode mode_ = ScanMode::Color;
    SANE_Int depth_ = 8;
    SANE_Int resolution_ = 0;
    size_t sourceIndex_ = 0;
    SANE_Bool preview_ = SANE_FALSE;
    SANE_Int threshold_ = 128;
    SANE_Fixed tlX_ = 0, tlY_ = 0, brX_ = 0, brY_ = 0;
    SANE_Bool customGamma_ = SANE_FALSE;
    std::array<std::vector<SANE_Word>, 4> gamma_;  // master, red, green, blue
};

// Resolution used for a preview: the lowest the scanner offers at or above 75 dpi.
int PreviewResolution(const std::vector<int>& resolutions);

}  // namespace b58::sane

// The scanner model the driver serves, described in one table: its sensor, where the scan
// area and the calibration strips lie on the bed and on the transparency adapter, the front
// end's range and the levels calibration aims at, the lamps, and how the scanner is reached.
// The code reads these facts from Model() and keeps only its algorithms; a second model would
// be a second table. The header depends on nothing, so every layer may read it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace b58 {

struct SensorFacts {
    uint16_t baseDpi;        // the sensor's resolution across and the motor's coarse step
    uint16_t fineMotorDpi;   // the motor's fine step, for resolutions above baseDpi
    int linePixels;          // the widest line: pixel maps per colour, plane slot size
    int segmentPixels;       // pixels per sensor chip; the joins between chips are repaired
    uint16_t maxBaseXCount;  // base pixels across a window
    uint16_t maxBaseYCount;  // base lines down a window
    uint16_t maxOutputLines;
};

// The flatbed's scan-area origin and the carriage moves around it.
struct BedFacts {
    uint16_t defaultLeft;         // leftbound when the origin strip shows no usable edge
    int32_t defaultTop;           // TopLine likewise
    uint16_t originForwardSteps;  // carriage steps before a scan from the origin
    int32_t largestStartTopLine;  // the highest TopLine a request's window is placed by
};

// The transparency adapter's lit window.
struct AdapterFacts {
    uint16_t defaultLeft;       // leftbound when the adapter strip shows no edge
    int32_t defaultTop;         // TopLine likewise
    uint16_t minimumLeftbound;  // the lit window never starts further left
    int backstepBase;           // the carriage goes back this less TopLine before the scan
};

// The calibration strips: the origin strip (grey, at the strip resolution), the AFE search's
// strips and the shading strips.
struct StripFacts {
    uint16_t originDpi;
    uint16_t originLines;
    uint16_t flatbedOriginPixels;
    uint16_t adapterOriginPixels;
    uint16_t afeLines;           // motor lines of an AFE search strip
    uint16_t shadingLines;       // motor lines of a shading strip
    size_t shadingRows;          // rows the shading planes hold
    uint16_t maxCalibrationDpi;  // calibration runs at the scan's resolution up to this
    uint16_t closingDpi;         // the flatbed search's closing strip
};

// The analogue front end's range and the levels its searches aim at (8-bit sample codes).
struct AfeFacts {
    int maxValue;          // offsets and gains are 0..maxValue
    int initialOffset;     // where every offset search starts
    int flatbedGainStart;  // the flatbed gain phase's start
    int adapterGainStart;  // the adapter gain halving's start
    int coarseLow;         // flatbed coarse offset: MidLevel band coarseLow..coarseHigh-1
    int coarseHigh;
    int coarseStep;
    int whiteCeiling;   // MaxWhite kept below it
    int adapterMidLow;  // adapter offset: MidLevel band adapterMidLow..adapterMidHigh-1
    int adapterMidHigh;
    int adapterMidTarget;  // the adapter's offset nudge aims MidLevel here
    int adapterMidTolerance;
    int adapterBlackCeiling;
};

struct LampFacts {
    uint8_t none;
    uint8_t flatbed;
    uint8_t adapter;
};

// How the scanner is reached: the interface kind it is told in every window, the tags its
// interface path carries, and the sizes of its packets.
struct InterfaceFacts {
    int32_t kind;
    const char* vendorTag;
    const char* productTag;
    size_t commandPacketSize;
    size_t scanWindowPacketSize;
    size_t miscControlDataSize;
    int deviceInfoBlockSize;
};

struct ScannerModel {
    SensorFacts sensor;
    BedFacts bed;
    AdapterFacts adapter;
    StripFacts strips;
    AfeFacts afe;
    LampFacts lamps;
    InterfaceFacts connection;
};

inline constexpr ScannerModel kB58Model{
    .sensor = {.baseDpi = 300,
               .fineMotorDpi = 600,
               .linePixels = 3700,
               .segmentPixels = 96,
               .maxBaseXCount = 14400,
               .maxBaseYCount = 28800,
               .maxOutputLines = 14400},
    .bed = {.defaultLeft = 72, .defaultTop = 86, .originForwardSteps = 83, .largestStartTopLine = 200},
    .adapter = {.defaultLeft = 368, .defaultTop = 58, .minimumLeftbound = 36, .backstepBase = 280},
    .strips = {.originDpi = 300,
               .originLines = 200,
               .flatbedOriginPixels = 512,
               .adapterOriginPixels = 700,
               .afeLines = 2,
               .shadingLines = 40,
               .shadingRows = 50,
               .maxCalibrationDpi = 1200,
               .closingDpi = 300},
    .afe = {.maxValue = 63,
            .initialOffset = 32,
            .flatbedGainStart = 12,
            .adapterGainStart = 24,
            .coarseLow = 100,
            .coarseHigh = 110,
            .coarseStep = 2,
            .whiteCeiling = 245,
            .adapterMidLow = 124,
            .adapterMidHigh = 132,
            .adapterMidTarget = 128,
            .adapterMidTolerance = 2,
            .adapterBlackCeiling = 20},
    .lamps = {.none = 0, .flatbed = 1, .adapter = 2},
    .connection = {.kind = 4,
                   .vendorTag = "vid_1a2b",
                   .productTag = "pid_3c4d",
                   .commandPacketSize = 64,
                   .scanWindowPacketSize = 26,
                   .miscControlDataSize = 58,
                   .deviceInfoBlockSize = 96},
};

// What the searches and the geometry rely on of any model's table.
static_assert(kB58Model.afe.coarseLow < kB58Model.afe.coarseHigh);
static_assert(kB58Model.afe.adapterMidLow <= kB58Model.afe.adapterMidTarget &&
              kB58Model.afe.adapterMidTarget < kB58Model.afe.adapterMidHigh);
static_assert(kB58Model.afe.whiteCeiling <= 255 && kB58Model.afe.initialOffset <= kB58Model.afe.maxValue);
static_assert(kB58Model.sensor.linePixels <= kB58Model.sensor.maxBaseXCount);
static_assert(kB58Model.sensor.fineMotorDpi % kB58Model.sensor.baseDpi == 0);
static_assert((kB58Model.lamps.flatbed & kB58Model.lamps.adapter) == 0);

// The model the driver serves. One accessor rather than a parameter: there is one model per
// build, its facts size arrays and buffers at compile time, and the calls that need them run
// deep below the exports; a driver for several models would choose the table here.
constexpr const ScannerModel& Model() {
    return kB58Model;
}

}  // namespace b58

// Where things lie on the virtual scanner's bed. Across: 300-dpi sensor pixel numbers. Down:
// 300-dpi lines below the carriage's home (the motor steps at 300 or 600 per inch; the bed
// is laid out in 300ths). Reflectances are relative to the calibration white (1.0).
//
//   lines  < 0      housing behind the home position (dark)
//   0 .. 109        white calibration strip across the whole sensor, with the dark
//                   reference block (a light trap) over pixels < 64 and lines < 86
//   110 .. 151      bezel
//   152 ..          glass, pixels 72 .. 2621 and lines 152 .. 3659 (8.5 x 11.69 in), under
//                   a white lid pad; bezel beside and below it. Documents lie on the glass.
//
// The transparency adapter has its own frame: its lines count from its reference line,
// which lies at bed line 152. In that frame its lamp lights pixels 354 .. 1853 over lines
// 0 .. 2399; lines 0 .. 69 are clear (its calibration area), and from line 70 on an opaque
// film holder covers it but for the film aperture (pixels 369 .. 818, lines 318 .. 1817)
// and a clear calibration slot beside it (pixels 1029 .. 1178, same lines).
//
// sim/README.md derives these positions from the driver's window arithmetic.
#pragma once

namespace b58::sim::bed {

// Home area.
constexpr int kDarkBlockRight = 64;     // first pixel right of the dark reference block
constexpr int kDarkBlockBottom = 86;    // first line below it
constexpr int kWhiteStripBottom = 110;  // first line below the white calibration strip

// Glass.
constexpr int kGlassLeft = 72;
constexpr int kGlassTop = 152;
constexpr int kGlassWidth = 2550;
constexpr int kGlassHeight = 3508;

constexpr float kHousingReflectance = 0.02f;
constexpr float kDarkBlockReflectance = 0.0f;
constexpr float kWhiteStripReflectance = 1.0f;
constexpr float kBezelReflectance = 0.30f;
constexpr float kLidReflectance = 0.90f;

// Transparency adapter (lines in its own frame).
constexpr int kTaOriginLine = 152;  // bed line of the adapter's line 0
constexpr int kTaWindowLeft = 354;
constexpr int kTaWindowWidth = 1500;
constexpr int kTaWindowHeight = 2400;
constexpr int kTaHolderTop = 70;
constexpr int kFilmLeft = 369;
constexpr int kFilmTop = 318;
constexpr int kFilmWidth = 450;
constexpr int kFilmHeight = 1500;
constexpr int kTaSlotLeft = 1029;
constexpr int kTaSlotWidth = 150;

}  // namespace b58::sim::bed

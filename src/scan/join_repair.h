// The repair of the sensor's segment joins: the sensor is built from segments of 96 pixels
// at the 300-dpi pitch, and the pixels on either side of a join read a little off. After a
// line is converted, the samples around each join are replaced by values drawn from the
// join's outer neighbours when the neighbourhood is smooth enough that the join shows.
//
// Everything here is pure apart from the noise source the caller passes in.
#pragma once

#include <cstdint>
#include <vector>

namespace b58 {

// The pseudo-random values the repair adds as noise: 0 to 32767, drawn in order. Seedable
// so that tests can repeat a sequence.
class JoinRandom {
  public:
    explicit JoinRandom(uint32_t seed = 1) : state_(seed) {}
    int Next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

  private:
    uint32_t state_;
};

enum class JoinColour { Red, Green, Blue };
enum class JoinLayout { Gray, Color24, Color48 };

// x rounded toward zero plus a small noise addend by the band of x, at most 255; 0 for x <= 0.
int JoinNoise(double x, JoinRandom& random);

// The tolerance of a join pixel with value p0 for a colour.
int JoinTolerance(JoinColour colour, int p0);

// One colour's samples of a converted line: the sample of output pixel x is
// bytes[first + stride * x], for x from 0 to pixels - 1.
struct JoinSamples {
    uint8_t* bytes;
    int first;
    int stride;
    int pixels;
};

// Repairs the join at output pixel q of a line at `dpi` (300, 150, 100 or 50). `layout`
// matters only at 50 dpi, where 24-bit colour leaves the pixel before the join alone. A
// join whose neighbourhood would reach outside the line is left alone.
void RepairSegmentJoin(const JoinSamples& samples, int dpi, int q, JoinColour colour, JoinLayout layout,
                       JoinRandom& random);

// The offset, in 300-dpi pixels from the window's first pixel, of the first join after it.
int FirstJoinOffset(uint16_t windowStartX);

// What the join positions depend on.
struct JoinGeometry {
    uint16_t windowStartX;
    int dpi;        // RXDPI
    int pixels;     // LinePixels
    int lineBytes;  // LineBytes
    int redOffset;
    int greenOffset;
    int blueOffset;
};

// The output pixels of the joins to repair in a line, in increasing order: the joins that
// pass their layout's bounds test. Empty at a resolution other than 300, 150, 100 or 50.
std::vector<int> JoinPixels(const JoinGeometry& geometry, JoinLayout layout);

}  // namespace b58

namespace b58 {

// Repairs every join of a converted host line: once on the grey samples (with the tolerance
// of the colour whose offset is 0), or red, green and blue in turn for each colour join (for
// 48-bit colour on the high bytes of the samples).
void RepairLineJoins(uint8_t* line, const JoinGeometry& geometry, JoinLayout layout, JoinRandom& random);

}  // namespace b58

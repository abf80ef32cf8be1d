#include "scan/ring_layout.h"

namespace b58 {

uint32_t PixelRingLineBytes(const DriverState& state) {
    uint32_t bytes = state.Session.SWWidth;
    if (state.Session.PixelFormatCode == 4) bytes *= 3;
    if (state.Session.DataWidth == 16) bytes *= 2;
    return bytes;
}

uint32_t PlaneLineBytes(const DriverState& state) {
    return static_cast<uint32_t>(state.Session.SWWidth) * (state.Session.DataWidth == 16 ? 2u : 1u);
}

bool PixelRingLineFits(uint32_t lineBytes) {
    return lineBytes > 0 && static_cast<uint64_t>(lineBytes) * kRingSlots <= kLineRingBytes;
}

bool PlaneLineFits(uint32_t lineBytes, uint16_t dataWidth) {
    return lineBytes > 0 && lineBytes <= static_cast<uint32_t>(kMaxLinePixels) * (dataWidth == 16 ? 2u : 1u);
}

}  // namespace b58

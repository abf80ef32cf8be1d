#include "scan/ring_layout.h"

namespace b58 {

uint32_t PixelRingLineBytes(const ScanSession& session) {
    uint32_t bytes = session.SWWidth;
    if (session.PixelFormatCode == 4) bytes *= 3;
    if (session.DataWidth == 16) bytes *= 2;
    return bytes;
}

uint32_t PlaneLineBytes(const ScanSession& session) {
    return static_cast<uint32_t>(session.SWWidth) * (session.DataWidth == 16 ? 2u : 1u);
}

bool PixelRingLineFits(uint32_t lineBytes) {
    return lineBytes > 0 && static_cast<uint64_t>(lineBytes) * kRingSlots <= kLineRingBytes;
}

bool PlaneLineFits(uint32_t lineBytes, uint16_t dataWidth) {
    return lineBytes > 0 && lineBytes <= static_cast<uint32_t>(kMaxLinePixels) * (dataWidth == 16 ? 2u : 1u);
}

}  // namespace b58

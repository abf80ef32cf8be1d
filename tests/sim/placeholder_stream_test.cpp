#include <gtest/gtest.h>

#include <vector>

#include "controller_harness.h"
#include "sim/placeholder_stream.h"
#include "sim/scan_window_decoder.h"

namespace b58::sim {
namespace {

using harness::WindowPacket;
using harness::WindowSpec;

std::vector<uint8_t> WholeStream(const WindowSpec& shape, size_t chunk) {
    PlaceholderStream stream(DecodeScanWindow(WindowPacket(shape).data()));
    std::vector<uint8_t> bytes(stream.TotalBytes() + 100);
    size_t done = 0;
    while (size_t made = stream.Produce(bytes.data() + done, std::min(chunk, bytes.size() - done)))
        done += made;
    bytes.resize(done);
    EXPECT_EQ(done, stream.TotalBytes());
    return bytes;
}

TEST(PlaceholderStream, ColourPixelModeInterleavesEachPixel) {
    WindowSpec shape;  // 300 pixels, 20 lines, 8 bits
    const std::vector<uint8_t> bytes = WholeStream(shape, 30720);
    ASSERT_EQ(bytes.size(), 20u * 300u * 3u);
    for (uint32_t line : {0u, 7u, 19u}) {
        for (uint32_t pixel : {0u, 1u, 150u, 299u}) {
            for (uint32_t plane = 0; plane < 3; ++plane) {
                EXPECT_EQ(bytes[line * 900 + pixel * 3 + plane], PlaceholderSampleByte(line, plane, pixel));
            }
        }
    }
}

TEST(PlaceholderStream, ColourLineModeSendsRedGreenBlueLines) {
    WindowSpec shape;
    shape.pixelMode = false;
    const std::vector<uint8_t> bytes = WholeStream(shape, 1000);
    ASSERT_EQ(bytes.size(), 20u * 300u * 3u);
    for (uint32_t line : {0u, 11u, 19u}) {
        for (uint32_t plane = 0; plane < 3; ++plane) {
            for (uint32_t pixel : {0u, 5u, 299u}) {
                EXPECT_EQ(bytes[(line * 3 + plane) * 300 + pixel], PlaceholderSampleByte(line, plane, pixel));
            }
        }
    }
}

TEST(PlaceholderStream, SixteenBitSamplesTakeTwoBytes) {
    WindowSpec shape;
    shape.pixelMode = false;
    shape.dataWidth = 16;
    const std::vector<uint8_t> bytes = WholeStream(shape, 777);
    ASSERT_EQ(bytes.size(), 20u * 600u * 3u);
    const size_t at = (4 * 3 + 2) * 600 + 2 * 123;  // line 4, blue, pixel 123
    EXPECT_EQ(bytes[at], PlaceholderSampleByte(4, 2, 123));
    EXPECT_EQ(bytes[at + 1], PlaceholderSampleByte(4, 2, 123));
}

TEST(PlaceholderStream, GreyIsOneLinePerScanLine) {
    WindowSpec shape;
    shape.colour = false;
    shape.pixelMode = false;
    const std::vector<uint8_t> bytes = WholeStream(shape, 64);
    ASSERT_EQ(bytes.size(), 20u * 300u);
    EXPECT_EQ(bytes[13 * 300 + 77], PlaceholderSampleByte(13, 0, 77));
}

TEST(PlaceholderStream, ChunkingDoesNotChangeTheBytes) {
    WindowSpec shape;
    EXPECT_EQ(WholeStream(shape, 1), WholeStream(shape, 100000));
    EXPECT_EQ(WholeStream(shape, 899), WholeStream(shape, 901));
}

}  // namespace
}  // namespace b58::sim

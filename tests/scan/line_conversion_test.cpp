#include "scan/line_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace b58 {
namespace {

// Identity maps for `pixels` pixels, and gamma sections whose entries carry a high byte the
// 8-bit modes must drop.
std::vector<uint8_t> IdentityMaps(int pixels) {
    std::vector<uint8_t> maps(static_cast<size_t>(pixels) * 256);
    for (size_t i = 0; i < maps.size(); ++i) maps[i] = static_cast<uint8_t>(i % 256);
    return maps;
}

std::vector<uint16_t> Gamma8(uint16_t highByte, int sectionShift = 0) {
    std::vector<uint16_t> gamma(768);
    for (int i = 0; i < 768; ++i)
        gamma[i] = static_cast<uint16_t>(highByte << 8 | ((i % 256 + (i / 256) * sectionShift) & 0xFF));
    return gamma;
}

TEST(LineArtConversion, ThresholdIsStrictAndBitsAreMostSignificantFirst) {
    std::vector<uint8_t> raw(16, 0);
    raw[0] = 101;   // above the threshold: bit 7 of byte 0
    raw[1] = 100;   // equal: 0
    raw[7] = 200;   // bit 0 of byte 0
    raw[8] = 255;   // bit 7 of byte 1
    raw[15] = 101;  // bit 0 of byte 1
    const auto maps = IdentityMaps(16);
    const auto gamma = Gamma8(0x7F);  // high byte would push every value above the threshold
    std::vector<uint8_t> out(3, 0xEE);
    ConvertLineArt({raw.data(), 1, 16}, 16, maps.data(), gamma.data(), 100, out.data(), 2);
    EXPECT_EQ(out[0], 0x81);
    EXPECT_EQ(out[1], 0x81);
    EXPECT_EQ(out[2], 0xEE);  // exactly two bytes written
}

TEST(LineArtConversion, UsesEachPixelsOwnMap) {
    std::vector<uint8_t> raw(8, 50);
    auto maps = IdentityMaps(8);
    maps[3 * 256 + 50] = 250;  // only pixel 3 is shaded above the threshold
    const auto gamma = Gamma8(0);
    uint8_t out = 0;
    ConvertLineArt({raw.data(), 1, 8}, 8, maps.data(), gamma.data(), 128, &out, 1);
    EXPECT_EQ(out, 0x10);

    // A raw line of 5 samples in a byte of 8 pixels: the last three are white, not the
    // repeated dark last sample.
    ConvertLineArt({raw.data(), 1, 5}, 8, maps.data(), gamma.data(), 128, &out, 1);
    EXPECT_EQ(out, 0x17);
}

TEST(GrayConversion, MapsThenTakesTheGammaLowByte) {
    std::vector<uint8_t> raw{0, 10, 200, 255};
    auto maps = IdentityMaps(4);
    maps[1 * 256 + 10] = 20;
    std::vector<uint16_t> gamma = Gamma8(0x12);
    gamma[20] = 0x3405;
    std::vector<uint8_t> out(4);
    ConvertGray({raw.data(), 1, 4}, 4, maps.data(), gamma.data(), out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0x05, 200, 255}));
}

TEST(GrayConversion, PixelsBeyondTheRawLineRepeatItsLastSample) {
    // A raw line of 3 samples followed by bytes that belong to another line.
    std::vector<uint8_t> memory{7, 8, 9, 99, 99};
    const auto maps = IdentityMaps(5);
    const auto gamma = Gamma8(0);
    std::vector<uint8_t> out(5);
    ConvertGray({memory.data(), 1, 3}, 5, maps.data(), gamma.data(), out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{7, 8, 9, 9, 9}));
}

TEST(Color24Conversion, ColoursGoToTheirOffsetsThroughTheirOwnSections) {
    // Interleaved raw line of two pixels; the green section adds 1 and the blue section 2.
    const std::vector<uint8_t> raw{10, 20, 30, 40, 50, 60};
    const auto maps = IdentityMaps(2);
    const auto gamma = Gamma8(0x80, 1);
    const ColourMaps colourMaps{maps.data(), maps.data(), maps.data()};
    std::vector<uint8_t> rgb(6), bgr(6);
    ConvertColor24({{raw.data(), 3, 2}, {raw.data() + 1, 3, 2}, {raw.data() + 2, 3, 2}}, 2, colourMaps,
                   gamma.data(), {0, 1, 2}, rgb.data());
    ConvertColor24({{raw.data(), 3, 2}, {raw.data() + 1, 3, 2}, {raw.data() + 2, 3, 2}}, 2, colourMaps,
                   gamma.data(), {2, 1, 0}, bgr.data());
    EXPECT_EQ(rgb, (std::vector<uint8_t>{10, 21, 32, 40, 51, 62}));
    EXPECT_EQ(bgr, (std::vector<uint8_t>{32, 21, 10, 62, 51, 40}));
}

TEST(Color48Conversion, ShadingClampsAndEqualReferencesNeverDivide) {
    EXPECT_EQ(ShadedIndex16(100, 1000, 200), 0);       // below dark
    EXPECT_EQ(ShadedIndex16(5000, 1000, 200), 65535);  // above white
    EXPECT_EQ(ShadedIndex16(600, 1000, 200), 32767);   // half way, truncated
    EXPECT_EQ(ShadedIndex16(301, 300, 300), 65535);    // equal references, above
    EXPECT_EQ(ShadedIndex16(300, 300, 300), 0);        // equal references, at
    EXPECT_EQ(ShadedIndex16(0, 0, 0), 0);
    // Every sample of a realistic reference pair lands on the exact truncated quotient.
    int off = 0;
    for (int r = 1000; r <= 60000; ++r)
        off += ShadedIndex16(static_cast<uint16_t>(r), 60000, 1000) != (r - 1000) * 65535LL / 59000;
    EXPECT_EQ(off, 0);
}

TEST(Color48Conversion, GammaEntryPerColourLowByteFirstInHostOrder) {
    // One pixel; each colour's raw sample is little-endian in its plane.
    const std::vector<uint8_t> red{0x00, 0x80}, green{0xFF, 0xFF}, blue{0x00, 0x00};
    std::vector<uint16_t> gamma(3 * 65536);
    for (size_t i = 0; i < gamma.size(); ++i) gamma[i] = static_cast<uint16_t>(i % 65536 ^ (i / 65536) << 12);
    const ShadingReferences identity[3] = {{nullptr, nullptr}, {nullptr, nullptr}, {nullptr, nullptr}};
    std::vector<uint8_t> rgb(6), bgr(6);
    ConvertColor48({{red.data(), 2, 1}, {green.data(), 2, 1}, {blue.data(), 2, 1}}, 1, identity, gamma.data(),
                   {0, 1, 2}, rgb.data());
    ConvertColor48({{red.data(), 2, 1}, {green.data(), 2, 1}, {blue.data(), 2, 1}}, 1, identity, gamma.data(),
                   {2, 1, 0}, bgr.data());
    // red: entry 0x8000 of section 0; green: 0xFFFF of section 1; blue: 0 of section 2.
    const uint16_t r = 0x8000, g = 0xFFFF ^ 0x1000, b = 0x2000;
    EXPECT_EQ(rgb, (std::vector<uint8_t>{r & 0xFF, r >> 8, g & 0xFF, g >> 8, b & 0xFF, b >> 8}));
    EXPECT_EQ(bgr, (std::vector<uint8_t>{b & 0xFF, b >> 8, g & 0xFF, g >> 8, r & 0xFF, r >> 8}));
}

TEST(Color48Conversion, ReferencesArePerPixel) {
    const std::vector<uint8_t> plane{0x00, 0x02, 0x00, 0x02};  // 512 in both pixels
    const std::vector<uint16_t> white{1024, 512}, dark{0, 0};
    std::vector<uint16_t> gamma(3 * 65536);
    for (size_t i = 0; i < gamma.size(); ++i) gamma[i] = static_cast<uint16_t>(i % 65536);
    const ShadingReferences refs[3] = {
        {white.data(), dark.data()}, {white.data(), dark.data()}, {white.data(), dark.data()}};
    std::vector<uint8_t> out(12);
    ConvertColor48({{plane.data(), 2, 2}, {plane.data(), 2, 2}, {plane.data(), 2, 2}}, 2, refs, gamma.data(),
                   {0, 1, 2}, out.data());
    EXPECT_EQ(out[0] | out[1] << 8, 32767);
    EXPECT_EQ(out[6] | out[7] << 8, 65535);
}

}  // namespace
}  // namespace b58

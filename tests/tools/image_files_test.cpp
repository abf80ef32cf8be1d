#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scanned_image.h"
#include "support/scratch_directory.h"

namespace b58::tools {
namespace {

ScannedImage Sample(PixelKind kind, uint32_t width, uint32_t height) {
    ScannedImage image;
    image.kind = kind;
    image.width = width;
    image.height = height;
    image.xDpi = 150;
    image.yDpi = 300;
    image.pixels.resize(image.RowBytes() * height);
    for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8;
}
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return Le16(b, at) | Le16(b, at + 2) << 16;
}

struct PngContents {
    uint32_t width = 0, height = 0;
    int depth = 0, colourType = 0;
    uint32_t xPpm = 0, yPpm = 0;
    std::vector<uint8_t> pixels;  // rows as stored (16-bit samples big-endian)
};

PngContents ReadPng(const std::filesystem::path& path) {
    PngContents out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        out.width = png_get_image_width(png, info);
        out.height = png_get_image_height(png, info);
        out.depth = png_get_bit_depth(png, info);
        out.colourType = png_get_color_type(png, info);
        int unit = 0;
        png_get_pHYs(png, info, &out.xPpm, &out.yPpm, &unit);
        const size_t rowBytes = png_get_rowbytes(png, info);
        out.pixels.resize(rowBytes * out.height);
        for (uint32_t y = 0; y < out.height; ++y)
            png_read_row(png, out.pixels.data() + y * rowBytes, nullptr);
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return out;
}

TEST(PngWriterTest, EachPixelKindReadsBackAsWritten) {
    testing::ScratchDirectory dir;
    struct Case {
        PixelKind kind;
        int depth, colourType;
    };
    for (Case c :
         {Case{PixelKind::Bilevel, 1, PNG_COLOR_TYPE_GRAY}, Case{PixelKind::Gray8, 8, PNG_COLOR_TYPE_GRAY},
          Case{PixelKind::Rgb24, 8, PNG_COLOR_TYPE_RGB}, Case{PixelKind::Rgb48, 16, PNG_COLOR_TYPE_RGB}}) {
        SCOPED_TRACE(c.depth * 10 + c.colourType);
        const ScannedImage image = Sample(c.kind, 24, 5);
        std::string error;
        ASSERT_TRUE(WriteImageFile(image, (dir.Path() / "out.png").string(), error)) << error;
        const PngContents png = ReadPng(dir.Path() / "out.png");
        EXPECT_EQ(png.width, 24u);
        EXPECT_EQ(png.height, 5u);
        EXPECT_EQ(png.depth, c.depth);
        EXPECT_EQ(png.colourType, c.colourType);
        EXPECT_EQ(png.xPpm, 5906u);  // 150 dpi
        EXPECT_EQ(png.yPpm, 11811u);
        std::vector<uint8_t> expected = image.pixels;
        if (c.kind == PixelKind::Rgb48) {
            for (size_t i = 0; i < expected.size(); i += 2) std::swap(expected[i], expected[i + 1]);
        }
        EXPECT_EQ(png.pixels, expected);
    }
}

TEST(PngWriterTest, EmptyImageAndUnwritablePathAreReported) {
    std::string error;
    EXPECT_FALSE(WritePng(Sample(PixelKind::Gray8, 8, 0), "/nonexistent/none.png", error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(WritePng(Sample(PixelKind::Gray8, 8, 2), "/nonexistent/none.png", error));
    EXPECT_NE(error.find("cannot create"), std::string::npos);
}

TEST(PnmWriterTest, HeadersAndSampleOrder) {
    testing::ScratchDirectory dir;
    std::string error;
    const ScannedImage bilevel = Sample(PixelKind::Bilevel, 16, 2);
    ASSERT_TRUE(WriteImageFile(bilevel, (dir.Path() / "a.pbm").string(), error));
    std::vector<uint8_t> pbm = ReadFile(dir.Path() / "a.pbm");
    const std::string pbmHeader = "P4\n16 2\n";
    ASSERT_EQ(pbm.size(), pbmHeader.size() + 4);
    EXPECT_EQ(std::string(pbm.begin(), pbm.begin() + pbmHeader.size()), pbmHeader);
    EXPECT_EQ(pbm[pbmHeader.size()], static_cast<uint8_t>(~bilevel.pixels[0]));  // PBM: 1 is black

    const ScannedImage grey = Sample(PixelKind::Gray8, 3, 2);
    ASSERT_TRUE(WriteImageFile(grey, (dir.Path() / "g.pgm").string(), error));
    std::vector<uint8_t> pgm = ReadFile(dir.Path() / "g.pgm");
    const std::string pgmHeader = "P5\n3 2\n255\n";
    EXPECT_EQ(std::vector<uint8_t>(pgm.begin() + pgmHeader.size(), pgm.end()), grey.pixels);

    const ScannedImage deep = Sample(PixelKind::Rgb48, 2, 1);
    ASSERT_TRUE(WriteImageFile(deep, (dir.Path() / "c.pnm").string(), error));
    std::vector<uint8_t> ppm = ReadFile(dir.Path() / "c.pnm");
    const std::string ppmHeader = "P6\n2 1\n65535\n";
    ASSERT_EQ(ppm.size(), ppmHeader.size() + 12);
    EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + ppmHeader.size()), ppmHeader);
    EXPECT_EQ(ppm[ppmHeader.size()], deep.pixels[1]);  // high byte first
    EXPECT_EQ(ppm[ppmHeader.size() + 1], deep.pixels[0]);
}

// The value of a directory entry, read as a short or a long by its type.
uint32_t TagValue(const std::vector<uint8_t>& tiff, uint16_t tag) {
    const uint32_t ifd = Le32(tiff, 4);
    for (uint32_t i = 0; i < Le16(tiff, ifd); ++i) {
        const size_t at = ifd + 2 + i * 12;
        if (Le16(tiff, at) == tag) return Le16(tiff, at + 2) == 3 ? Le16(tiff, at + 8) : Le32(tiff, at + 8);
    }
    return 0xFFFFFFFF;
}

TEST(TiffWriterTest, DirectoryDescribesTheStripAndTheStripHoldsTheRows) {
    testing::ScratchDirectory dir;
    std::string error;
    for (PixelKind kind : {PixelKind::Bilevel, PixelKind::Gray8, PixelKind::Rgb24, PixelKind::Rgb48}) {
        const ScannedImage image =
            Sample(kind, 8, 3);  // odd strip sizes put the directory on a word boundary
        ASSERT_TRUE(WriteImageFile(image, (dir.Path() / "x.tif").string(), error)) << error;
        const std::vector<uint8_t> tiff = ReadFile(dir.Path() / "x.tif");
        ASSERT_GE(tiff.size(), 8u);
        EXPECT_EQ(tiff[0], 'I');
        EXPECT_EQ(Le16(tiff, 2), 42u);
        EXPECT_EQ(Le32(tiff, 4) % 2, 0u);
        const bool colour = kind == PixelKind::Rgb24 || kind == PixelKind::Rgb48;
        EXPECT_EQ(TagValue(tiff, 256), 8u);
        EXPECT_EQ(TagValue(tiff, 257), 3u);
        EXPECT_EQ(TagValue(tiff, 259), 1u);
        EXPECT_EQ(TagValue(tiff, 262), colour ? 2u : 1u);
        EXPECT_EQ(TagValue(tiff, 277), colour ? 3u : 1u);
        const uint32_t bitsAt = TagValue(tiff, 258);
        const uint32_t bits = colour ? Le16(tiff, bitsAt) : bitsAt;
        EXPECT_EQ(bits, kind == PixelKind::Bilevel ? 1u : kind == PixelKind::Rgb48 ? 16u : 8u);
        const uint32_t offset = TagValue(tiff, 273), count = TagValue(tiff, 279);
        ASSERT_EQ(count, image.pixels.size());
        ASSERT_LE(offset + count, tiff.size());
        EXPECT_EQ(std::vector<uint8_t>(tiff.begin() + offset, tiff.begin() + offset + count), image.pixels);
        EXPECT_EQ(Le32(tiff, TagValue(tiff, 283)), 300u);
    }
}

TEST(ImageFormatTest, ChosenByExtension) {
    EXPECT_EQ(ImageFormatForPath("scan.PNG"), "png");
    EXPECT_EQ(ImageFormatForPath("a/b.tiff"), "tiff");
    EXPECT_EQ(ImageFormatForPath("b.ppm"), "pnm");
    EXPECT_EQ(ImageFormatForPath("dir.png/scan"), "");
    EXPECT_EQ(ImageFormatForPath("scan.jpg"), "");
    std::string error;
    EXPECT_FALSE(WriteImageFile(ScannedImage{}, "scan.jpg", error));
}

}  // namespace
}  // namespace b58::tools

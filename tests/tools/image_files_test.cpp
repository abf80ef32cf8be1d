// The image writers, each read back through its format's own library and compared with what
// the scan delivered: pixel for pixel, JPEG within its quality.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image_writer.h"
#include "support/scratch_directory.h"

namespace b58::tools {
namespace {

using host::BilevelPolarity;
using host::ImageFormat;
using host::PixelKind;

// A smooth picture (JPEG compares within its quality), as the host library delivers it.
std::vector<std::vector<uint8_t>> Sample(const ImageFormat& f) {
    std::vector<std::vector<uint8_t>> rows(f.height, std::vector<uint8_t>(host::RowBytes(f)));
    for (uint32_t y = 0; y < f.height; ++y) {
        for (uint32_t x = 0; x < f.width; ++x) {
            const int v = (x * 8 + y * 4) & 0xFF;
            switch (f.kind) {
                case PixelKind::Bilevel:
                    if (((x / 8 + y / 8) & 1) != 0) rows[y][x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                    break;
                case PixelKind::Gray8:
                    rows[y][x] = static_cast<uint8_t>(v);
                    break;
                case PixelKind::Rgb24:
                    for (int c = 0; c < 3; ++c) rows[y][x * 3 + c] = static_cast<uint8_t>(v / (c + 1));
                    break;
                case PixelKind::Rgb48:
                    for (int c = 0; c < 3; ++c) {
                        const int s = (v / (c + 1)) * 257 + c;
                        rows[y][x * 6 + 2 * c] = static_cast<uint8_t>(s);
                        rows[y][x * 6 + 2 * c + 1] = static_cast<uint8_t>(s >> 8);
                    }
                    break;
            }
        }
    }
    return rows;
}

// The sample as plain values: one per sample, line art 0 black / 1 white, 16-bit whole.
std::vector<uint32_t> Values(const ImageFormat& f, const std::vector<std::vector<uint8_t>>& rows) {
    std::vector<uint32_t> out;
    for (const auto& row : rows) {
        for (uint32_t x = 0; x < f.width; ++x) {
            if (f.kind == PixelKind::Bilevel) {
                const bool one = ((row[x / 8] >> (7 - x % 8)) & 1) != 0;
                out.push_back(one == (f.polarity == BilevelPolarity::OneIsWhite) ? 1 : 0);
            } else if (f.kind == PixelKind::Rgb48) {
                for (int c = 0; c < 3; ++c) out.push_back(row[x * 6 + 2 * c] | row[x * 6 + 2 * c + 1] << 8);
            } else {
                for (int c = 0; c < (f.kind == PixelKind::Rgb24 ? 3 : 1); ++c)
                    out.push_back(row[x * (f.kind == PixelKind::Rgb24 ? 3 : 1) + c]);
            }
        }
    }
    return out;
}

bool Write(FileFormat format, const std::string& path, const ImageFormat& f, uint32_t pages = 1,
           uint32_t lines = ~0u, uint32_t* blank = nullptr) {
    std::string error;
    auto writer = OpenImageWriter(format, path, {}, error);
    if (!writer) return false;
    const auto rows = Sample(f);
    for (uint32_t page = 0; page < pages; ++page) {
        if (!writer->Begin(f, error)) return false;
        const uint32_t n = std::min(lines, f.height);
        for (uint32_t y = 0; y < n; ++y) {
            if (!writer->WriteLine(rows[y].data(), error)) return false;
        }
        if (!writer->End(n, error)) return false;
        if (blank != nullptr) *blank = writer->BlankLines();
    }
    return writer->Close(error);
}

struct ReadBack {
    uint32_t width = 0, height = 0, xDpi = 0;
    std::vector<uint32_t> values;  // as Values() gives them
};

ReadBack ReadPng(const std::string& path) {
    ReadBack r;
    FILE* file = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (file != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        r.width = png_get_image_width(png, info);
        r.height = png_get_image_height(png, info);
        const int depth = png_get_bit_depth(png, info);
        const int samples = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB ? 3 : 1;
        r.xDpi = static_cast<uint32_t>(png_get_x_pixels_per_meter(png, info) * 0.0254 + 0.5);
        std::vector<uint8_t> row(png_get_rowbytes(png, info));
        for (uint32_t y = 0; y < r.height; ++y) {
            png_read_row(png, row.data(), nullptr);
            for (uint32_t i = 0; i < r.width * samples; ++i) {
                r.values.push_back(depth == 1    ? (row[i / 8] >> (7 - i % 8)) & 1
                                   : depth == 16 ? uint32_t{row[2 * i]} << 8 | row[2 * i + 1]
                                                 : row[i]);
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (file != nullptr) std::fclose(file);
    return r;
}

ReadBack ReadTiff(const std::string& path, uint16_t* compression = nullptr, uint16_t* pages = nullptr) {
    ReadBack r;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) return r;
    uint16_t bits = 0, samples = 1, photometric = 0;
    float xres = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &r.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &r.height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xres);
    if (compression != nullptr) TIFFGetField(tiff, TIFFTAG_COMPRESSION, compression);
    r.xDpi = static_cast<uint32_t>(xres + 0.5f);
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tiff)));
    for (uint32_t y = 0; y < r.height; ++y) {
        TIFFReadScanline(tiff, row.data(), y, 0);
        for (uint32_t i = 0; i < r.width * samples; ++i) {
            if (bits == 1) {
                const uint32_t bit = (row[i / 8] >> (7 - i % 8)) & 1;
                r.values.push_back(photometric == PHOTOMETRIC_MINISWHITE ? 1 - bit : bit);
            } else {
                r.values.push_back(bits == 16 ? reinterpret_cast<uint16_t*>(row.data())[i] : row[i]);
            }
        }
    }
    if (pages != nullptr) *pages = TIFFNumberOfDirectories(tiff);
    TIFFClose(tiff);
    return r;
}

ReadBack ReadJpeg(const std::string& path) {
    ReadBack r;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return r;
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    r.width = cinfo.output_width;
    r.height = cinfo.output_height;
    r.xDpi = cinfo.X_density;
    std::vector<uint8_t> row(size_t{r.width} * cinfo.output_components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
        r.values.insert(r.values.end(), row.begin(), row.end());
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return r;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Netpbm through its header: magic, width, height, maxval; samples as Values() gives them.
ReadBack ReadPnm(const std::string& path) {
    ReadBack r;
    const std::vector<uint8_t> file = ReadFile(path);
    std::string text(file.begin(), file.end());
    size_t at = 2;
    auto number = [&]() {
        while (at < text.size() && (std::isspace(static_cast<unsigned char>(text[at])) || text[at] == '#')) {
            if (text[at] == '#') at = text.find('\n', at);
            ++at;
        }
        const size_t start = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
        return static_cast<uint32_t>(std::atoi(text.substr(start, at - start).c_str()));
    };
    const char kind = text[1];
    r.width = number();
    r.height = number();
    const uint32_t maxval = kind == '4' ? 1 : number();
    ++at;
    const uint32_t samples = kind == '6' ? 3 : 1;
    for (uint32_t y = 0; y < r.height; ++y) {
        for (uint32_t i = 0; i < r.width * samples; ++i) {
            if (kind == '4') {
                const size_t rowBytes = (r.width + 7) / 8;
                r.values.push_back(1 - ((file[at + y * rowBytes + i / 8] >> (7 - i % 8)) & 1));
            } else if (maxval > 255) {
                r.values.push_back(file[at] << 8 | file[at + 1]);
                at += 2;
            } else {
                r.values.push_back(file[at++]);
            }
        }
    }
    return r;
}

TEST(ImageWriters, EveryFormatReadsBackAsTheScanDeliveredIt) {
    testing::ScratchDirectory dir;
    for (PixelKind kind : {PixelKind::Bilevel, PixelKind::Gray8, PixelKind::Rgb24, PixelKind::Rgb48}) {
        for (BilevelPolarity polarity : {BilevelPolarity::OneIsWhite, BilevelPolarity::OneIsBlack}) {
            if (kind != PixelKind::Bilevel && polarity == BilevelPolarity::OneIsBlack) continue;
            SCOPED_TRACE(static_cast<int>(kind) * 10 + static_cast<int>(polarity));
            const ImageFormat f{kind, 37, 11, 150, 150, polarity};
            const std::vector<uint32_t> expected = Values(f, Sample(f));
            const std::string base = (dir.Path() / "page").string();
            ASSERT_TRUE(Write(FileFormat::Pnm, base + ".pnm", f));
            ASSERT_TRUE(Write(FileFormat::Png, base + ".png", f));
            ASSERT_TRUE(Write(FileFormat::Tiff, base + ".tif", f));
            ASSERT_TRUE(Write(FileFormat::Jpeg, base + ".jpg", f));
            EXPECT_EQ(ReadPnm(base + ".pnm").values, expected);
            const ReadBack png = ReadPng(base + ".png");
            EXPECT_EQ(png.xDpi, 150u);
            EXPECT_EQ(png.values, expected);
            uint16_t compression = 0;
            const ReadBack tiff = ReadTiff(base + ".tif", &compression);
            EXPECT_EQ(tiff.xDpi, 150u);
            EXPECT_EQ(tiff.values, expected);
            EXPECT_EQ(compression,
                      kind == PixelKind::Bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE);
            // JPEG: 8 bits, line art as 0 / 255, within a few levels on a smooth picture.
            const ReadBack jpeg = ReadJpeg(base + ".jpg");
            EXPECT_EQ(jpeg.xDpi, 150u);
            ASSERT_EQ(jpeg.values.size(), expected.size());
            double error = 0;
            for (size_t i = 0; i < expected.size(); ++i) {
                const double want = kind == PixelKind::Bilevel ? expected[i] * 255.0
                                    : kind == PixelKind::Rgb48 ? expected[i] / 257.0
                                                               : expected[i];
                error += std::abs(want - jpeg.values[i]);
            }
            EXPECT_LT(error / expected.size(), kind == PixelKind::Bilevel ? 12 : 4);
        }
    }
}

TEST(ImageWriters, PartialPagesAndSeveralPages) {
    testing::ScratchDirectory dir;
    const ImageFormat f{PixelKind::Gray8, 20, 10, 300, 300, BilevelPolarity::OneIsWhite};
    const std::string base = (dir.Path() / "p").string();
    uint32_t blank = 0;
    // Formats that can say so end where the scan ended...
    for (FileFormat format : {FileFormat::Tiff, FileFormat::Pnm}) {
        ASSERT_TRUE(Write(format, base + "." + FormatName(format), f, 1, 6, &blank));
        EXPECT_EQ(blank, 0u);
    }
    EXPECT_EQ(ReadTiff(base + ".tiff").height, 6u);
    EXPECT_EQ(ReadPnm(base + ".pnm").height, 6u);
    // ...the others keep the full height, the rest white.
    ASSERT_TRUE(Write(FileFormat::Png, base + ".png", f, 1, 6, &blank));
    EXPECT_EQ(blank, 4u);
    const ReadBack png = ReadPng(base + ".png");
    ASSERT_EQ(png.height, 10u);
    EXPECT_EQ(png.values.back(), 255u);

    uint16_t pages = 0;
    ASSERT_TRUE(Write(FileFormat::Tiff, base + "3.tif", f, 3));
    ReadTiff(base + "3.tif", nullptr, &pages);
    EXPECT_EQ(pages, 3u);
    // A PDF of three pages, one line art: every cross-reference lands on its object.
    ASSERT_TRUE(Write(FileFormat::Pdf, base + ".pdf", f, 2));
    const ImageFormat art{PixelKind::Bilevel, 20, 10, 300, 300, BilevelPolarity::OneIsWhite};
    ASSERT_TRUE(Write(FileFormat::Pdf, base + "a.pdf", art, 3));
    for (const char* name : {".pdf", "a.pdf"}) {
        const std::vector<uint8_t> bytes = ReadFile(base + name);
        const std::string pdf(bytes.begin(), bytes.end());
        const size_t xref = std::stoul(pdf.substr(pdf.rfind("startxref") + 10));
        ASSERT_EQ(pdf.compare(xref, 4, "xref"), 0);
        const size_t count = std::stoul(pdf.substr(xref + 7));
        for (size_t object = 1; object < count; ++object) {
            const size_t offset =
                std::stoul(pdf.substr(xref + 7 + pdf.substr(xref + 7).find('\n') + 1 + object * 20, 10));
            EXPECT_EQ(
                pdf.compare(offset, std::to_string(object).size() + 6, std::to_string(object) + " 0 obj"), 0)
                << name << " object " << object;
        }
        EXPECT_NE(pdf.find(std::string("/Count ") + (name[0] == '.' ? "2" : "3")), std::string::npos);
    }
}

TEST(ImageWriters, FormatNamesAndUnwritableFiles) {
    struct Case {
        const char* name;
        bool known;
        FileFormat format;
    } cases[] = {{"scan.PNG", true, FileFormat::Png}, {"a/b.tiff", true, FileFormat::Tiff},
                 {"b.ppm", true, FileFormat::Pnm},    {"c.jpg", true, FileFormat::Jpeg},
                 {"d.pdf", true, FileFormat::Pdf},    {"dir.png/scan", false, FileFormat::Pnm},
                 {"scan.gif", false, FileFormat::Pnm}};
    for (const Case& c : cases) {
        FileFormat format = FileFormat::Pnm;
        EXPECT_EQ(FormatForPath(c.name, format), c.known) << c.name;
        EXPECT_EQ(format, c.format) << c.name;
    }
    std::string error;
    EXPECT_EQ(OpenImageWriter(FileFormat::Png, "/nonexistent/none.png", {}, error), nullptr);
    EXPECT_NE(error.find("cannot write"), std::string::npos);
}

}  // namespace
}  // namespace b58::tools

#include <gtest/gtest.h>
#include <png.h>

#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "image_test_support.h"
#include "sim/bed_layout.h"
#include "sim/driver_plan.h"
#include "sim/ground_truth.h"
#include "sim/png_io.h"
#include "sim/test_chart.h"

namespace b58::sim {
namespace {

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("b58sim_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

TEST(PngIo, ImagesRoundTripInEveryLayoutWithTheirResolution) {
    for (int channels : {1, 3}) {
        for (int depth : {8, 16}) {
            SampleImage image;
            image.width = 5;
            image.height = 3;
            image.channels = channels;
            image.bitDepth = depth;
            image.dpiX = 600;
            image.dpiY = 1200;
            for (int i = 0; i < 5 * 3 * channels; ++i) {
                image.samples.push_back(static_cast<uint16_t>((i * 37) % (depth == 8 ? 256 : 65536)));
            }
            const std::string path = TempPath("roundtrip.png");
            SavePng(path, image);
            auto doc = LoadPngDocument(path);
            std::remove(path.c_str());
            ASSERT_EQ(doc->Width(), 5);
            ASSERT_EQ(doc->Height(), 3);
            EXPECT_EQ(doc->Channels(), channels);
            EXPECT_NEAR(doc->DpiX(), 600.0, 0.01);
            EXPECT_NEAR(doc->DpiY(), 1200.0, 0.01);
            const int scale = depth == 8 ? 257 : 1;
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < 5; ++x) {
                    for (int c = 0; c < channels; ++c)
                        ASSERT_EQ(doc->Sample(x, y, c), image.At(x, y, c) * scale);
                }
            }
        }
    }
}

TEST(PngIo, AlphaIsDroppedAndBadFilesAreReported) {
    const std::string path = TempPath("rgba.png");
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_set_IHDR(png, info, 2, 1, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_byte row[8] = {10, 20, 30, 0, 40, 50, 60, 255};
        png_write_row(png, row);
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
    }
    auto doc = LoadPngDocument(path, 150.0);
    EXPECT_EQ(doc->Channels(), 3);
    EXPECT_EQ(doc->DpiX(), 150.0);
    EXPECT_EQ(doc->Sample(1, 0, 2), 60 * 257);
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs("not a picture", f);
        std::fclose(f);
    }
    EXPECT_THROW(LoadPngDocument(path), std::runtime_error);
    std::remove(path.c_str());
    EXPECT_THROW(LoadPngDocument(TempPath("missing.png")), std::runtime_error);
}

TEST(Documents, AnyResolutionIsAveragedOverEachSensorPixel) {
    // A 600-dpi checkerboard of single pixels reads mid grey at 300 dpi; a 150-dpi document
    // spreads each of its pixels over two sensor pixels and two lines.
    std::vector<uint16_t> checker(64 * 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x)
            checker[static_cast<size_t>(y) * 64 + x] = ((x + y) % 2) != 0 ? 65535 : 0;
    }
    auto fine = std::make_shared<const RasterDocument>(64, 64, 600.0, 600.0, 1, checker);
    HostRequest r;
    r.mode = 1;
    r.right = 32;
    r.bottom = 32;
    SampleImage truth = RequestedTruth(*testing::ModelWithDocument(fine), r);
    for (uint16_t v : truth.samples) EXPECT_NEAR(v, 128, 1);

    std::vector<uint16_t> ramp(16 * 4);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint16_t>((i % 16) * 4096);
    auto coarse = std::make_shared<const RasterDocument>(16, 4, 150.0, 150.0, 1, ramp);
    r.right = 32;
    r.bottom = 8;
    truth = RequestedTruth(*testing::ModelWithDocument(coarse), r);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 32; ++x) EXPECT_EQ(truth.At(x, y), truth.At(x / 2 * 2, y / 2 * 2));
    }
    EXPECT_NE(truth.At(0, 0), truth.At(2, 0));
}

TEST(TestChart, FeaturesLieWhereTheLayoutSays) {
    auto chart = MakeTestChart(bed::kGlassWidth, 3300);
    const ChartLayout& l = chart->Layout();
    ASSERT_EQ(l.marks.size(), 5u);
    EXPECT_EQ(l.wedge.size(), 16u);
    EXPECT_EQ(l.colours.size(), 8u);
    std::vector<float> r(chart->Width()), g(chart->Width()), b(chart->Width());
    for (const ChartPatch& m : l.marks) {
        chart->Row(m.top, r.data(), g.data(), b.data());
        EXPECT_EQ(g[m.left], 0.0f);
        EXPECT_EQ(g[m.left - 1], l.paper);
        chart->Row(m.top - 1, r.data(), g.data(), b.data());
        EXPECT_EQ(g[m.left], l.paper);
    }
    const ChartPatch& red = l.colours[0];
    chart->Row(red.top + 1, r.data(), g.data(), b.data());
    EXPECT_GT(r[red.left + 1], 0.7f);
    EXPECT_LT(g[red.left + 1], 0.2f);
    const ChartPatch& lines = l.verticalLines2;
    chart->Row(lines.top + 3, r.data(), g.data(), b.data());
    EXPECT_NE(g[lines.left], g[lines.left + 1]);
    EXPECT_EQ(g[lines.left], g[lines.left + 2]);
    // A small chart keeps what fits.
    auto film = MakeTestChart(bed::kFilmWidth, 1200);
    EXPECT_EQ(film->Layout().marks.size(), 5u);
    EXPECT_FALSE(film->Layout().wedge.empty());
}

TEST(GroundTruth, RequestAndScanAgreeWhereTheGeometryDoes) {
    auto model = ScannerModel::WithTestCharts(1);
    HostRequest r;
    r.left = 30;
    r.top = 40;
    r.right = 330;
    r.bottom = 440;
    for (int dpi : {300, 150}) {
        r.resolution = dpi;
        const DriverScan scan = PlanDriverScan(r);
        const SampleImage requested = RequestedTruth(*model, r);
        const SampleImage scanned = ScannedTruth(*model, scan.window, kLampFlatbed);
        const ScanOffsets o = OffsetsOf(r, scan);
        ASSERT_EQ(requested.width, scanned.width);
        const int dx = static_cast<int>(std::lround(o.pixels));
        // Scanned row y + 5 shows what requested row y shows when the scan is on target.
        size_t same = 0;
        size_t total = 0;
        for (int y = 0; y < requested.height; ++y) {
            for (int x = std::max(0, dx); x < requested.width; ++x) {
                ++total;
                if (scanned.At(x - dx, y + 5, 1) == requested.At(x, y, 1)) ++same;
            }
        }
        if (o.lines == 0.0) {
            EXPECT_EQ(same, total) << dpi;
        } else {
            EXPECT_LT(same, total) << "an offset shows as a difference at " << dpi;
        }
    }
}

}  // namespace
}  // namespace b58::sim

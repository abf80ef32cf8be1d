// The published virtual scanner streams the image model, with the options that choose what
// lies on the bed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "controller_harness.h"
#include "image_test_support.h"
#include "sim/png_io.h"
#include "sim/scan_window_decoder.h"
#include "sim/scanner_options.h"
#include "sim/test_chart.h"

namespace b58::sim {
namespace {

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("b58sim_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

TEST(PublishedScanner, StreamsTheImageModelOfTheDocumentItWasGiven) {
    SampleImage page;
    page.width = 120;
    page.height = 90;
    page.channels = 3;
    page.bitDepth = 8;
    for (int i = 0; i < page.width * page.height * 3; ++i)
        page.samples.push_back(static_cast<uint16_t>(i * 7 % 256));
    const std::string path = TempPath("page.png");
    SavePng(path, page);

    std::string error;
    auto device = CreateVirtualScanner(
        "firmware=running,rate=0,start_ms=0,step_us=0,seed=9,document_at=4:6,document=" + path, &error);
    ASSERT_NE(device, nullptr) << error;
    harness::Packet lamp = harness::MakePacket(kCmdLamp);
    lamp[2] = kLampFlatbed;
    ASSERT_EQ(harness::Exchange(*device, lamp)[0], kStatusDone);
    harness::WindowSpec shape;
    shape.startLine = 150;
    shape.startPixel = 70;
    shape.pixels = 200;
    shape.lines = 30;
    harness::StartScan(*device, shape);
    std::vector<uint8_t> got(30 * 200 * 3);
    uint32_t n = 0;
    ASSERT_EQ(device->BulkRead(got.data(), static_cast<uint32_t>(got.size()), &n), usbscan::BulkStatus::Ok);
    ASSERT_EQ(n, got.size());

    BedContents contents;
    contents.document.document = LoadPngDocument(path);
    contents.document.left = 4;
    contents.document.top = 6;
    std::remove(path.c_str());
    auto model = std::make_shared<const ScannerModel>(9, contents);
    AfeSettings afe;
    for (size_t c = 0; c < 3; ++c) afe.offset[c] = afe.gain[c] = 20;  // as the harness sends them
    auto expected = testing::ReadAll(
        *MakeImageStream(model, DecodeScanWindow(harness::WindowPacket(shape).data()), afe, kLampFlatbed));
    EXPECT_EQ(got, expected);
}

TEST(PublishedScanner, ImageOptionsParseAndBadDocumentsAreReported) {
    ScannerConfig config;
    std::string error;
    ASSERT_TRUE(ParseScannerOptions(
        "document=/a b.png,document_dpi=600,document_at=10:20,film=f.png,film_dpi=1200", &config, &error))
        << error;
    EXPECT_EQ(config.image.document, "/a b.png");
    EXPECT_EQ(config.image.documentDpi, 600.0);
    EXPECT_EQ(config.image.documentX, 10.0);
    EXPECT_EQ(config.image.documentY, 20.0);
    EXPECT_EQ(config.image.film, "f.png");
    EXPECT_EQ(config.image.filmDpi, 1200.0);
    EXPECT_FALSE(config.image.placeholder);
    EXPECT_TRUE(ParseScannerOptions("stream=placeholder", &config, &error));
    EXPECT_TRUE(config.image.placeholder);
    EXPECT_FALSE(ParseScannerOptions("document_dpi=0", &config, &error));
    EXPECT_FALSE(ParseScannerOptions("stream=photo", &config, &error));

    EXPECT_EQ(CreateVirtualScanner("document=" + TempPath("missing.png"), &error), nullptr);
    EXPECT_NE(error.find("missing.png"), std::string::npos) << error;
    EXPECT_NE(CreateVirtualScanner("seed=3", &error), nullptr);
}

}  // namespace
}  // namespace b58::sim

#include "scan_command.h"

#include <tiffio.h>

#include <filesystem>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "support/scratch_directory.h"

namespace b58::tools {
namespace {

// A stand-in driver: a grey image of kLines lines of kLineBytes bytes, line n filled with n,
// with the progress routine called as the driver does (first line, then every 100th of a
// call).
constexpr uint16_t kLineBytes = 40;
struct FakeDriver {
    uint32_t imageLines = 250;
    uint32_t failAfter = 100000;  // the reader fails after this many lines
    bool startFails = false;
    uint32_t delivered = 0;
    int stops = 0;
    int closes = 0;
    std::vector<int32_t> progressCalls;
    ProgressRoutine progress = nullptr;
    uint16_t threshold = 0;
    host::ScanCancel* cancelFlag = nullptr;  // set once cancelAt lines are delivered
    uint32_t cancelAt = 0;
} fake;

int32_t B58_CALL FakeOpen() {
    return 1;
}
int32_t B58_CALL FakeClose() {
    ++fake.closes;
    return 1;
}
int32_t B58_CALL FakeSetParameters(ScanParameters* p) {
    fake.threshold = p->Threshold;
    fake.imageLines = std::min<uint32_t>(fake.imageLines, (p->Bottom - p->Top) * 150u / 300);
    p->Status = 0;
    return 1;
}
int32_t B58_CALL FakeGetParameters(ScanParametersInfo* info) {
    info->RXDPI = 150;
    info->RYDPI = 150;
    info->LineBytes = kLineBytes;
    info->ImageLines = fake.imageLines;
    return 1;
}
int32_t B58_CALL FakeStartScan(ScanStartRecord* record) {
    fake.progress = record->ProgressCallback;
    fake.delivered = 0;
    return fake.startFails ? 0 : 1;
}
int32_t B58_CALL FakeRead(ReadRequest* r) {
    r->Status = 0;
    r->LinesDone = 0;
    for (uint32_t i = 0; i < r->LinesWanted; ++i) {
        if (fake.delivered >= fake.imageLines || fake.delivered >= fake.failAfter) {
            r->Status = kStatusNoFurtherLine;
            return 1;
        }
        std::fill_n(r->Buffer + i * kLineBytes, kLineBytes, static_cast<uint8_t>(fake.delivered++));
        if (fake.cancelFlag != nullptr && fake.delivered == fake.cancelAt) fake.cancelFlag->Request();
        ++r->LinesDone;
        if (i % 100 == 0 && fake.progress != nullptr) {
            fake.progressCalls.push_back(r->LinesDone);
            if (fake.progress(r->LinesDone) == 0) {
                r->Status = kStatusStoppedByHost;
                return 1;
            }
        }
    }
    return 1;
}
int32_t B58_CALL FakeStop(StopRecord* record) {
    record->Status = 0;
    ++fake.stops;
    return 1;
}

DriverEntryPoints FakeEntryPoints() {
    DriverEntryPoints d;
    d.open = FakeOpen;
    d.close = FakeClose;
    d.setParameters = FakeSetParameters;
    d.getParameters = FakeGetParameters;
    d.startScan = FakeStartScan;
    d.readScannedData = FakeRead;
    d.stopScan = FakeStop;
    return d;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ScanCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = FakeDriver{};
        output_ = (dir_.Path() / "scan.pgm").string();
    }
    // b58scan scan with these options: grey, 40 x 250 pixels at 150 dpi.
    int Run(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"b58scan", "scan",       "--mode", "Gray", "--resolution", "150",
                                         "--area",  "0,0,80,500", "-p",     "-o",   output_};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        CommandLine line;
        if (ParseCommandLine(static_cast<int>(argv.size()), argv.data(), line, out_, bar_) != -1) return -1;
        ScanEnvironment environment;
        environment.out = &out_;
        environment.err = &bar_;
        return RunScan(FakeEntryPoints(), line, cancel_, environment);
    }
    // The pixel rows of the written PGM.
    std::vector<uint8_t> Rows() {
        std::vector<uint8_t> file = ReadFile(output_);
        const std::string header = "P5\n";
        EXPECT_EQ(std::string(file.begin(), file.begin() + header.size()), header);
        size_t newlines = 0, at = 0;
        while (at < file.size() && newlines < 4) newlines += file[at++] == '\n';
        return {file.begin() + at, file.end()};
    }

    testing::ScratchDirectory dir_;
    std::string output_;
    host::ScanCancel cancel_;
    std::ostringstream out_, bar_;
};

TEST_F(ScanCommandTest, WholeScanIsWrittenWithProgressToTheEnd) {
    EXPECT_EQ(Run({"--threshold", "77"}), kExitOk);
    const std::vector<uint8_t> rows = Rows();
    ASSERT_EQ(rows.size(), 250u * kLineBytes);
    for (uint32_t line = 0; line < 250; ++line) ASSERT_EQ(rows[line * kLineBytes], line);
    EXPECT_EQ(fake.stops, 1);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.threshold, 77);
    EXPECT_NE(bar_.str().find("scanning: 100%"), std::string::npos) << bar_.str();
    EXPECT_NE(out_.str().find("40 x 250 pixels, 150 x 150 dpi"), std::string::npos) << out_.str();
}

TEST_F(ScanCommandTest, CancelKeepsTheLinesReadAndStopsTheScan) {
    fake.cancelFlag = &cancel_;
    fake.cancelAt = 20;
    EXPECT_EQ(Run(), kExitCancelled);
    EXPECT_EQ(fake.stops, 1);
    // Reads are a few lines each: the scan ends within one read of the request.
    const size_t lines = Rows().size() / kLineBytes;
    EXPECT_GE(lines, 20u);
    EXPECT_LE(lines, 28u);
    EXPECT_NE(bar_.str().find("cancelled after " + std::to_string(lines) + " of 250"), std::string::npos);
}

TEST_F(ScanCommandTest, ShortImageIsWrittenAndReportedAsAFailure) {
    fake.failAfter = 130;
    EXPECT_EQ(Run(), kExitCommandFailed);
    EXPECT_EQ(Rows().size(), 130u * kLineBytes);
    EXPECT_EQ(fake.stops, 1);
}

TEST_F(ScanCommandTest, FailedStartStillStopsAndWritesNothing) {
    fake.startFails = true;
    EXPECT_EQ(Run(), kExitCommandFailed);
    EXPECT_EQ(fake.stops, 1);
    EXPECT_FALSE(std::filesystem::exists(output_));
}

TEST_F(ScanCommandTest, BatchOfThreePagesIntoOneTiffOrThreeFiles) {
    output_ = (dir_.Path() / "pages.tif").string();
    ASSERT_EQ(Run({"--batch-count", "3"}), kExitOk) << bar_.str();
    TIFF* tiff = TIFFOpen(output_.c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), 3);
    TIFFClose(tiff);
    EXPECT_EQ(fake.stops, 3);
    EXPECT_EQ(fake.closes, 1);  // one session for the batch

    const std::string pattern = (dir_.Path() / "page%02d.pgm").string();
    std::vector<std::string> args = {"b58scan", "scan",   "--area", "0,0,80,500",         "--resolution",
                                     "150",     "--mode", "gray",   "--batch=" + pattern, "--batch-count",
                                     "3"};
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    CommandLine line;
    ASSERT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), line, out_, bar_), -1)
        << bar_.str();
    ScanEnvironment environment;
    environment.out = &out_;
    environment.err = &bar_;
    ASSERT_EQ(RunScan(FakeEntryPoints(), line, cancel_, environment), kExitOk);
    for (const char* name : {"page01.pgm", "page02.pgm", "page03.pgm"}) {
        EXPECT_TRUE(std::filesystem::exists(dir_.Path() / name)) << name;
    }
}

}  // namespace
}  // namespace b58::tools

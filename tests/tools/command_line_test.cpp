// b58scan's options, table-driven: each form of each option, the conflicts and the ranges,
// and one-line usage errors.
#include "command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "scan_command.h"

namespace b58::tools {
namespace {

struct Parsed {
    int status = 0;
    CommandLine line;
    std::string out, err;
};

Parsed Parse(const std::string& arguments) {
    std::vector<std::string> words = {"b58scan"};
    std::istringstream in(arguments);
    for (std::string word; in >> word;) words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    Parsed p;
    std::ostringstream out, err;
    p.status = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), p.line, out, err);
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(CommandLine, AcceptedForms) {
    using Check = std::function<bool(const CommandLine&)>;
    const double inch = 25.4;
    struct Case {
        const char* arguments;
        Check check;
    } cases[] = {
        {"scan --resolution=600 -o x.png",
         [](auto& l) { return l.scan.resolution == 600 && l.format == FileFormat::Png; }},
        {"scan --resolution 75 -o x.png", [](auto& l) { return l.scan.resolution == 75; }},
        {"scan --mode Lineart -o x.tif",
         [](auto& l) { return l.scan.mode == host::ColorMode::Lineart && l.scan.depth == 1; }},
        {"scan --mode=grey -o x.pnm",
         [](auto& l) { return l.scan.mode == host::ColorMode::Gray && l.scan.depth == 8; }},
        {"scan --mode colour48 -o x.png", [](auto& l) { return l.scan.depth == 16; }},
        {"scan --mode Color --depth 16 -o x.png", [](auto& l) { return l.scan.depth == 16; }},
        {"scan -l 10 -t 20 -x 30 -y 40 -o x.png",
         [](auto& l) {
             return l.scan.area.left == 10 && l.scan.area.top == 20 && l.scan.area.width == 30 &&
                    l.scan.area.height == 40;
         }},
        {"scan -l 1 -x 2 --units in -o x.png",
         [&](auto& l) { return l.scan.area.left == inch && l.scan.area.width == 2 * inch; }},
        {"scan --area 300,600,900,1200 -o x.png",
         [&](auto& l) {
             return l.scan.area.left == inch && l.scan.area.height == 2 * inch && l.infoRequest.right == 900;
         }},
        {"scan --size a4 -o x.png",
         [](auto& l) { return l.scan.area.width == 210 && l.scan.area.height == 297; }},
        {"scan --source ta1 -o x.png",
         [](auto& l) { return l.scan.source == host::ScanSource::Adapter1 && l.scan.area.width == 38.1; }},
        {"scan --threshold=200 --gamma 2.2 --brightness -10 --contrast 5 -o x.png",
         [](auto& l) {
             return l.scan.threshold == 200 && l.scan.tone.gamma == 2.2 && l.scan.tone.brightness == -10;
         }},
        {"scan -o - ", [](auto& l) { return l.output == "-" && l.format == FileFormat::Pnm; }},
        {"scan -o - --format tiff", [](auto& l) { return l.format == FileFormat::Tiff; }},
        {"scan -o x.png --format jpeg --quality 50",
         [](auto& l) { return l.format == FileFormat::Jpeg && l.writer.jpegQuality == 50; }},
        {"scan -o x.png --png-level 9", [](auto& l) { return l.writer.pngLevel == 9; }},
        {"scan -o x.tif --batch-count 3",
         [](auto& l) { return l.batchCount == 3 && l.batchPattern.empty(); }},
        {"scan --batch --format png", [](auto& l) { return l.batchPattern == "page%d.png"; }},
        {"scan --batch=p%03d.jpg --batch-prompt",
         [](auto& l) { return l.format == FileFormat::Jpeg && l.batchPrompt; }},
        {"scan -p -o x.png", [](auto& l) { return l.progress == ProgressStyle::Shown; }},
        {"scan -q -o x.png", [](auto& l) { return l.progress == ProgressStyle::Quiet; }},
        {"--driver lib.so scan -o x.png", [](auto& l) { return l.driverPath == "lib.so"; }},
        {"scan -d sim@1 -o x.png", [](auto& l) { return DeviceSetting(l) == "sim@1"; }},
        {"info --mode gray --resolution 1200",
         [](auto& l) { return l.infoRequest.mode == ModeGray && l.infoRequest.resolution == 1200; }},
        {"lamp off", [](auto& l) { return l.command == "lamp" && !l.lampOn; }},
        {"-V", [](auto& l) { return l.version && l.command.empty(); }},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.arguments);
        EXPECT_EQ(p.status, -1) << c.arguments << ": " << p.err;
        if (p.status == -1) {
            EXPECT_TRUE(c.check(p.line)) << c.arguments;
        }
    }
}

TEST(CommandLine, UsageErrorsAreOneLineWithAHint) {
    const char* cases[] = {
        "scan --resolution 0 -o x.png",
        "scan --resolution abc -o x.png",
        "scan --mode sepia -o x.png",
        "scan --size a4 --area 0,0,10,10",
        "scan --area 0,0,10 -o x.png",
        "scan --area 10,0,5,10 -o x.png",
        "scan --size legal -o x.png",
        "scan -x 300 -o x.png",
        "scan --source ta1 --size a4 -o x.png",
        "scan --threshold 256 -o x.png",
        "scan --png-level 10 -o x.png",
        "scan --quality 0 -o x.jpg",
        "scan -o x.gif",
        "scan -o x.png --batch-count 2",
        "scan --batch=page.png",
        "scan -p -q -o x.png",
        "scan --mode Gray --depth 16 -o x.png",
        "scan --mode Lineart --depth 8 -o x.png",
        "scan --gamma 0 -o x.png",
        "scan --brightness 101 -o x.png",
        "lamp dim",
        "frobnicate",
        "",
        "scan --sim-dpi 300 -o x.png",
        "scan --sim-document /none/x.png -o x.png",
        "scan -d sim@0 --sim-film /none/f.png -o x.png",
    };
    for (const char* arguments : cases) {
        const Parsed p = Parse(arguments);
        EXPECT_EQ(p.status, kExitUsage) << arguments;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << arguments << ": " << p.err;
        EXPECT_NE(p.err.find("--help"), std::string::npos) << arguments;
    }
}

TEST(CommandLine, HelpForTheProgramAndEachCommand) {
    const Parsed all = Parse("--help");
    EXPECT_EQ(all.status, 0);
    for (const char* command : {"info", "scan", "key", "lamp", "home", "status"})
        EXPECT_NE(all.out.find(command), std::string::npos) << command;
    const Parsed scan = Parse("scan --help");
    EXPECT_EQ(scan.status, 0);
    for (const char* option :
         {"--resolution", "-o,--output", "--batch-count", "--png-level", "--quality", "-l"})
        EXPECT_NE(scan.out.find(option), std::string::npos) << option;
}

TEST(CommandLine, SimulatorOptionsNameTheVirtualScanner) {
    const std::string file = ::testing::TempDir() + "b58_sim_document.png";
    std::ofstream(file) << "x";
    const Parsed p = Parse("scan --sim-document " + file + " --sim-dpi 200 --sim-at 25.4:0 -o x.png");
    ASSERT_EQ(p.status, -1) << p.err;
    EXPECT_EQ(DeviceSetting(p.line), "sim@0:document=" + file + ",document_dpi=200,document_at=300:0");
    EXPECT_EQ(BatchFileName("scan%03d.png", 7), "scan007.png");
    EXPECT_EQ(BatchFileName("100%%-%d.tif", 12), "100%-12.tif");
}

}  // namespace
}  // namespace b58::tools

// The backend as people use it: through scanimage and saned, from the build tree (the dll
// backend finds it through LD_LIBRARY_PATH and SANE_CONFIG_DIR), against b58scan.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "frontend_process.h"
#include "support/scratch_directory.h"

namespace b58::testing {
namespace {

using std::chrono::milliseconds;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A Netpbm file's header fields and its pixel bytes.
struct Pnm {
    std::string magic;
    int width = 0, height = 0, maxval = 1;
    std::string pixels;
};
bool ParsePnm(const std::string& bytes, Pnm& pnm) {
    size_t at = 0;
    auto token = [&]() {
        for (;;) {
            while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
            if (at < bytes.size() && bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n') ++at;
                continue;
            }
            break;
        }
        const size_t start = at;
        while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
        return bytes.substr(start, at - start);
    };
    pnm.magic = token();
    pnm.width = std::atoi(token().c_str());
    pnm.height = std::atoi(token().c_str());
    if (pnm.magic != "P4") pnm.maxval = std::atoi(token().c_str());
    if (at >= bytes.size()) return false;
    pnm.pixels = bytes.substr(at + 1);
    return !pnm.magic.empty() && pnm.width > 0 && pnm.height > 0;
}

uint32_t BigEndian32(const std::string& b, size_t at) {
    return (uint32_t{static_cast<uint8_t>(b[at])} << 24) | (uint32_t{static_cast<uint8_t>(b[at + 1])} << 16) |
           (uint32_t{static_cast<uint8_t>(b[at + 2])} << 8) | static_cast<uint8_t>(b[at + 3]);
}

// Width, height, bits per sample and dots per inch from a PNG's IHDR and pHYs chunks.
struct ImageInfo {
    uint32_t width = 0, height = 0, bits = 0, dpi = 0;
};
ImageInfo PngInfo(const std::string& b) {
    ImageInfo info;
    if (b.size() < 33 || b.compare(1, 3, "PNG") != 0) return info;
    info.width = BigEndian32(b, 16);
    info.height = BigEndian32(b, 20);
    info.bits = static_cast<uint8_t>(b[24]);
    const size_t phys = b.find("pHYs");
    if (phys != std::string::npos && phys + 12 < b.size()) {
        info.dpi = static_cast<uint32_t>(BigEndian32(b, phys + 4) * 0.0254 + 0.5);
    }
    return info;
}

// The same from a TIFF's first directory (either byte order).
ImageInfo TiffInfo(const std::string& b) {
    ImageInfo info;
    if (b.size() < 8) return info;
    const bool little = b[0] == 'I';
    auto u16 = [&](size_t at) -> uint32_t {
        const auto lo = static_cast<uint8_t>(b[at + (little ? 0 : 1)]),
                   hi = static_cast<uint8_t>(b[at + (little ? 1 : 0)]);
        return uint32_t{hi} << 8 | lo;
    };
    auto u32 = [&](size_t at) -> uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    const uint32_t ifd = u32(4);
    if (ifd + 2 > b.size()) return info;
    const uint32_t entries = u16(ifd);
    for (uint32_t i = 0; i < entries && ifd + 2 + 12 * (i + 1) <= b.size(); ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
        // Values that fit in four bytes stand in the entry; larger ones at the offset there.
        const uint32_t value = type == 3 && count <= 2 ? u16(e + 8) : u32(e + 8);
        if (tag == 256) info.width = value;
        if (tag == 257) info.height = value;
        if (tag == 258) info.bits = count > 2 ? u16(value) : value;
        if (tag == 282 && value + 8 <= b.size() && u32(value + 4) != 0)
            info.dpi = u32(value) / u32(value + 4);
    }
    return info;
}

class sane_frontend : public ::testing::Test {
  protected:
    void SetUp() override {
        scanimage_ = FindProgram("scanimage");
        if (scanimage_.empty()) GTEST_SKIP() << "scanimage is not installed (Debian: sane-utils)";
        WriteConfig(config_, "sim@0:rate=0");
    }

    // A SANE configuration folder publishing `devices` through the backend of this tree.
    static void WriteConfig(const ScratchDirectory& folder, const std::string& devices) {
        folder.Write("dll.conf", "b58\n");
        folder.Write("b58.conf",
                     "driver " B58_TEST_DRIVER "\nfirmware-dir " B58_TEST_WINDOWS_DIR "\n" + devices + "\n");
    }
    std::vector<std::string> Environment(const ScratchDirectory& folder) const {
        std::vector<std::string> env = {"LD_LIBRARY_PATH=" B58_TEST_SANE_LIB_DIR,
                                        "SANE_CONFIG_DIR=" + folder.Path().string(), "B58_TIME_SCALE=0.02",
                                        "B58_IPC_NAMESPACE=" B58_TEST_IPC};
        // An instrumented backend in a program that is not: its runtime goes first.
        if (std::strlen(B58_TEST_PRELOAD) > 0) {
            env.push_back("LD_PRELOAD=" B58_TEST_PRELOAD);
            env.push_back("ASAN_OPTIONS=detect_leaks=0");
        }
        return env;
    }
    // Runs scanimage with `args`; its exit status, and its output in `output`.
    int Scanimage(const std::vector<std::string>& args, std::string& output,
                  const ScratchDirectory* folder = nullptr) {
        std::vector<std::string> argv = {scanimage_};
        argv.insert(argv.end(), args.begin(), args.end());
        Process p(argv, Environment(folder != nullptr ? *folder : config_), work_.Name("scanimage.log"));
        if (!p.Wait(milliseconds(120000))) return -1;
        output = p.Output();
        return p.Status();
    }

    std::string scanimage_;
    ScratchDirectory config_, work_;
};

TEST_F(sane_frontend, ListsTheScannerItsOptionsAndPassesTheReadTest) {
    std::string out;
    ASSERT_EQ(Scanimage({"-L"}, out), 0) << out;
    EXPECT_NE(out.find("device `b58:sim0'"), std::string::npos) << out;

    ASSERT_EQ(Scanimage({"-d", "b58:sim0", "-A"}, out), 0) << out;
    for (const char* option :
         {"--mode Lineart|Gray|Color", "--depth 8|16bit", "--resolution 50|100|150|300|600dpi",
          "--source Flatbed|Transparency Adapter", "--preview", "--threshold 0..255", "-l 0..215.9mm",
          "-y 0..297", "--custom-gamma", "--red-gamma-table", "--scan"}) {
        EXPECT_NE(out.find(option), std::string::npos) << option << "\n" << out;
    }
    for (const char* mode : {"Lineart", "Gray", "Color"}) {
        EXPECT_EQ(
            Scanimage({"-d", "b58:sim0", "-T", "--mode", mode, "--resolution", "150", "-x", "40", "-y", "30"},
                      out),
            0)
            << mode << "\n"
            << out;
        EXPECT_EQ(out.find("FAIL"), std::string::npos) << mode << "\n" << out;
    }

    ScratchDirectory none;
    WriteConfig(none, "# no device");
    ASSERT_EQ(Scanimage({"-L"}, out, &none), 0) << out;
    EXPECT_NE(out.find("No scanners were identified"), std::string::npos) << out;
}

// Every mode at several resolutions: the image files have the requested size, depth and
// resolution, and the pixels are those b58scan writes for the same request.
TEST_F(sane_frontend, ImagesMatchB58scanInEveryModeAndFormat) {
    const struct {
        const char* mode;
        const char* depth;
        const char* b58mode;
        uint32_t bits;
    } kModes[] = {{"Lineart", "1", "lineart", 1},
                  {"Gray", "8", "gray", 8},
                  {"Color", "8", "color", 8},
                  {"Color", "16", "color48", 16}};
    // Area 300,300,900,750 in 300-dpi units: 1 x 1 in from the corner, 2 x 1.5 in.
    for (const auto& m : kModes) {
        for (uint32_t dpi : {100u, 300u, 600u}) {
            const std::string name = std::string(m.b58mode) + "-" + std::to_string(dpi);
            SCOPED_TRACE(name);
            const std::vector<std::string> request = {
                "-d", "b58:sim0", "--mode", m.mode, "--depth", m.depth, "--resolution", std::to_string(dpi),
                "-l", "25.4",     "-t",     "25.4", "-x",      "50.8",  "-y",           "38.1"};
            const std::string pnmFile = work_.Name(name + ".pnm");
            std::string out;
            auto with = [&](std::vector<std::string> extra) {
                std::vector<std::string> args = request;
                args.insert(args.end(), extra.begin(), extra.end());
                return args;
            };
            ASSERT_EQ(Scanimage(with({"--format=pnm", "-o", pnmFile}), out), 0) << out;
            Pnm sane, ours;
            ASSERT_TRUE(ParsePnm(ReadFile(pnmFile), sane));
            EXPECT_EQ(sane.width, static_cast<int>(2 * dpi));
            EXPECT_EQ(sane.height, static_cast<int>(3 * dpi / 2));
            EXPECT_EQ(sane.magic, m.bits == 1 ? "P4" : std::strcmp(m.mode, "Gray") == 0 ? "P5" : "P6");
            EXPECT_EQ(sane.maxval, m.bits == 16 ? 65535 : 1 + (m.bits == 8) * 254);

            const std::string b58File = work_.Name(name + "-b58scan.pnm");
            Process b58scan(
                {B58_TEST_B58SCAN, "scan", "--mode", m.b58mode, "--resolution", std::to_string(dpi), "--area",
                 "300,300,900,750", "--output", b58File},
                {"B58_DEVICES=sim@0:rate=0", "B58_TIME_SCALE=0.02", "B58_IPC_NAMESPACE=" B58_TEST_IPC},
                work_.Name("b58scan.log"));
            ASSERT_TRUE(b58scan.Wait(milliseconds(120000)));
            ASSERT_EQ(b58scan.Status(), 0) << b58scan.Output();
            ASSERT_TRUE(ParsePnm(ReadFile(b58File), ours));
            EXPECT_EQ(sane.width, ours.width);
            EXPECT_EQ(sane.height, ours.height);
            EXPECT_TRUE(sane.pixels == ours.pixels) << "pixels differ from b58scan's";

            if (dpi != 300) continue;  // the other formats once per mode
            const std::string png = work_.Name(name + ".png"), tiff = work_.Name(name + ".tif");
            ASSERT_EQ(Scanimage(with({"--format=png", "-o", png}), out), 0) << out;
            ASSERT_EQ(Scanimage(with({"--format=tiff", "-o", tiff}), out), 0) << out;
            for (const ImageInfo& info : {PngInfo(ReadFile(png)), TiffInfo(ReadFile(tiff))}) {
                EXPECT_EQ(info.width, 2 * dpi);
                EXPECT_EQ(info.height, 3 * dpi / 2);
                EXPECT_EQ(info.bits, m.bits);
                EXPECT_EQ(info.dpi, dpi);
            }
        }
    }
}

TEST_F(sane_frontend, BatchScansThreePages) {
    std::string out;
    const std::string pattern = work_.Name("page%d.pnm");
    ASSERT_EQ(Scanimage({"-d", "b58:sim0", "--batch=" + pattern, "--batch-count=3", "--format=pnm",
                         "--resolution", "50", "-x", "50", "-y", "50"},
                        out),
              0)
        << out;
    for (int page = 1; page <= 4; ++page) {
        Pnm pnm;
        EXPECT_EQ(ParsePnm(ReadFile(work_.Name("page" + std::to_string(page) + ".pnm")), pnm), page <= 3)
            << page;
    }
}

// While one scanimage scans slowly: another lists it and is told it is busy; Ctrl-C ends
// the first, and the device then serves the next run.
TEST_F(sane_frontend, BusyWhileScanningAndInterruptFreesTheDevice) {
    ScratchDirectory slow;
    WriteConfig(slow, "sim@0:rate=20000");
    Process first(
        {scanimage_, "-d", "b58:sim0", "--resolution", "300", "--format=pnm", "-o", work_.Name("slow.pnm")},
        Environment(slow), work_.Name("first.log"));
    // Until its image file has data: the scan runs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto written = [&] {
        std::error_code noFileYet;
        const uintmax_t size = std::filesystem::file_size(work_.Name("slow.pnm"), noFileYet);
        return noFileYet ? uintmax_t{0} : size;
    };
    while (written() < 100000 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_FALSE(first.Wait(milliseconds(20))) << first.Output();
    }

    std::string out;
    EXPECT_EQ(Scanimage({"-L"}, out, &slow), 0);  // listing opens nothing, so it does not wait
    EXPECT_NE(out.find("device `b58:sim0'"), std::string::npos) << out;
    auto started = std::chrono::steady_clock::now();
    EXPECT_NE(Scanimage({"-d", "b58:sim0", "-T"}, out, &slow), 0);
    const auto busyMs =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_NE(out.find("Device busy"), std::string::npos) << out;

    started = std::chrono::steady_clock::now();
    first.Signal(SIGINT);
    ASSERT_TRUE(first.Wait(milliseconds(20000))) << "scanimage did not end after SIGINT";
    const auto interruptMs =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::cout << "busy reported after " << busyMs << " ms; SIGINT ended scanimage after " << interruptMs
              << " ms\n";

    EXPECT_EQ(Scanimage({"-d", "b58:sim0", "-T", "--resolution", "50", "-x", "20", "-y", "20"}, out), 0)
        << out;
}

// saned on 127.0.0.1 with a folder of its own, the net backend pointed at it. The net
// backend has no port setting of its own: it uses SANE's port, 6566, which must be free.
TEST_F(sane_frontend, ScansThroughSaned) {
    const std::string saned = FindProgram("saned");
    if (saned.empty()) GTEST_SKIP() << "saned is not installed (Debian: sane-utils)";
    {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(6566);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const bool free = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(probe);
        if (!free) GTEST_SKIP() << "port 6566 on 127.0.0.1 is in use";
    }
    config_.Write("saned.conf", "127.0.0.1\n");
    Process daemon({saned, "-l", "-e", "-b", "127.0.0.1", "-p", "6566"}, Environment(config_),
                   work_.Name("saned.log"));
    ScratchDirectory client;
    client.Write("dll.conf", "net\n");
    client.Write("net.conf", "connect_timeout = 5\n127.0.0.1\n");

    std::string out;
    int status = -1;
    for (int attempt = 0; attempt < 50; ++attempt) {  // until saned listens
        status = Scanimage({"-L"}, out, &client);
        if (out.find("net:127.0.0.1:b58:sim0") != std::string::npos) break;
        std::this_thread::sleep_for(milliseconds(100));
    }
    ASSERT_NE(out.find("net:127.0.0.1:b58:sim0"), std::string::npos) << status << out << daemon.Output();
    const std::string png = work_.Name("net.png");
    ASSERT_EQ(Scanimage({"-d", "net:127.0.0.1:b58:sim0", "--format=png", "-o", png, "--resolution", "100",
                         "-x", "50.8", "-y", "25.4"},
                        out, &client),
              0)
        << out << daemon.Output();
    const ImageInfo info = PngInfo(ReadFile(png));
    EXPECT_EQ(info.width, 200u);
    EXPECT_EQ(info.height, 100u);
    daemon.Signal(SIGTERM);
    EXPECT_TRUE(daemon.Wait(milliseconds(10000)));
}

}  // namespace
}  // namespace b58::testing

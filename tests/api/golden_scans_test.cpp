// Byte-identity of whole scans: every mode at 50 to 600 dpi on the glass and colour on the
// adapter, through the entry points against the virtual scanner with a fixed device seed.
// Each case hashes the image's bytes and a transcript of the calls (_Open, GetVersionInfo,
// GetDeviceInfo, GetKeyStatus, the scan, StopScan, _Close) with every trace line they wrote,
// and compares both with golden_scans.txt. A change that is meant to alter images or traces
// rewrites the table with B58_GOLDEN_UPDATE=1 (the diff of the table then shows which cases
// moved; B58_GOLDEN_DUMP=<folder> writes each image there to compare, B58_GOLDEN_CASE=<text>
// runs only the cases whose names hold the text). Sanitizer builds run the cases up to 150 dpi
// only.
//
// Held out of the comparison, as they differ run to run: the address of the driver's
// device-information block (its 96 bytes are hashed instead) and the trace line StopScan
// writes while it waits for the reader thread. The join repair's noise is process-wide and
// never reseeded, so each case starts it afresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "scan/scan_run.h"
#include "sim/virtual_scanner.h"
#include "support/sanitized_build.h"
#include "virtual_scanner_fixture.h"

namespace b58 {
namespace {

using testing::kSanitized;

constexpr const char* kScannerOptions = "seed=7,rate=0";

struct Case {
    int source;  // 0 glass; 1, 2, 4 adapter
    int mode;
    int dpi;
    std::string Name() const {
        const char* mode_name = mode == ModeLineArt   ? "lineart"
                                : mode == ModeGray    ? "gray"
                                : mode == ModeColor24 ? "color24"
                                                      : "color48";
        return (source == 0 ? std::string("glass") : "adapter" + std::to_string(source)) + "-" + mode_name +
               "-" + std::to_string(dpi);
    }
};

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (int mode : {int{ModeLineArt}, int{ModeGray}, int{ModeColor24}, int{ModeColor48}})
        for (int dpi : {50, 100, 150, 300, 600}) cases.push_back({0, mode, dpi});
    for (int source : {1, 2, 4})
        for (int mode : {int{ModeColor24}, int{ModeColor48}}) cases.push_back({source, mode, 150});
    return cases;
}

uint64_t Fnv1a(const void* data, size_t size, uint64_t hash = 0xcbf29ce484222325ull) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    return hash;
}

std::string Hex(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

struct Outcome {
    std::string line;  // the table's line for the case
    std::vector<uint8_t> image;
    std::string transcript;  // calls, results and trace
};

// Holds the driver's address of its device-information block, the only trace-free value of a
// transcript that differs run to run, out of the comparison.
std::string Record(const DeviceInfoRecord& r) {
    std::ostringstream out;
    out << "status " << +r.Status << " version " << +r.InfoVersion << " size " << +r.InfoBlockSize << " flag "
        << +r.DeviceFlag << " bytes " << +r.Byte16 << ' ' << +r.Byte17 << ' ' << +r.Byte18 << " block "
        << (r.DeviceInfoBlock ? Hex(Fnv1a(r.DeviceInfoBlock, r.InfoBlockSize)) : "none");
    return out.str();
}

// The trace without the line StopScan writes each time the reader thread has not ended within
// a poll: how often that happens depends on the machine's load, not on the driver.
std::string WithoutTimingLines(const std::string& trace) {
    static const std::string kReaderWait = "StopScan: reader thread still running, waiting";
    std::string out;
    for (size_t at = 0; at < trace.size();) {
        const size_t next = std::min(trace.find('\n', at + 1), trace.size());
        const std::string line = trace.substr(at, next - at);
        if (line.size() < kReaderWait.size() ||
            line.compare(line.size() - kReaderWait.size(), std::string::npos, kReaderWait) != 0)
            out += line;
        at = next;
    }
    return out;
}

class GoldenScanTest : public testing::VirtualScannerTest {
  protected:
    void TearDown() override {
        StopRecord stop{};
        if (TheDriver().Run.ReaderAlive()) StopScan(&stop);
        _Close();
        ControllerTest::TearDown();
    }

    // A fresh driver and a fresh scanner with the fixed seed, then the whole conversation.
    Outcome Run(const Case& k) {
        _Close();
        TheDriver().Run.FreeMemory();
        if (TheDriver().DeviceHandle != INVALID_HANDLE_VALUE) CloseHandle(TheDriver().DeviceHandle);
        ResetDriver();
        ResetTraceIndent();
        TheDriver().Run.ResetJoinNoise();
        EXPECT_NE(PublishVirtualScanner(kScannerOptions), nullptr);
        trace_.clear();

        Outcome out;
        std::ostringstream calls;
        calls << "_Open " << _Open() << '\n';
        VersionRecord version{};
        calls << "GetVersionInfo " << GetVersionInfo(&version) << " status " << +version.Status << ' '
              << +version.VersionMajor << '.' << +version.VersionMinor << '\n';
        DeviceInfoRecord info{};
        calls << "GetDeviceInfo " << GetDeviceInfo(&info) << ' ' << Record(info) << '\n';
        uint8_t key = 0xEE;
        calls << "GetKeyStatus " << GetKeyStatus(&key) << " key " << +key << '\n';
        out.image = Scan(k, calls);
        StopRecord stop{};
        calls << "StopScan " << StopScan(&stop) << " status " << +stop.Status << '\n';
        calls << "_Close " << _Close() << '\n';
        out.transcript = calls.str() + WithoutTimingLines(trace_);
        out.line = k.Name() + " lines " + std::to_string(lines_) + " image " +
                   Hex(Fnv1a(out.image.data(), out.image.size())) + " trace " +
                   Hex(Fnv1a(out.transcript.data(), out.transcript.size()));
        if (const char* dump = std::getenv("B58_GOLDEN_DUMP")) {
            static int n = 0;
            std::ofstream(std::string(dump) + "/" + std::to_string(n++) + "-" + k.Name() + ".raw",
                          std::ios::binary)
                .write(reinterpret_cast<const char*>(out.image.data()),
                       static_cast<std::streamsize>(out.image.size()));
        }
        return out;
    }

    // SetParameters, GetParameters, StartScan and reads of 100 lines until status 29; the
    // delivered bytes.
    std::vector<uint8_t> Scan(const Case& k, std::ostringstream& calls) {
        lines_ = 0;
        ScanParameters p{};
        if (k.source == 0) {
            p.Left = 300, p.Top = 300, p.Right = 900, p.Bottom = 750;
        } else {
            p.Left = 0, p.Top = 0, p.Right = 420, p.Bottom = 240;
        }
        p.Resolution = static_cast<uint16_t>(k.dpi);
        p.ScanMode = static_cast<uint16_t>(k.mode);
        p.Threshold = 128;
        p.ScanSource = static_cast<uint8_t>(k.source);
        calls << "SetParameters " << SetParameters(&p) << " status " << +p.Status << " resolution "
              << +p.Resolution << '\n';
        ScanParametersInfo info{};
        calls << "GetParameters " << GetParameters(&info) << " status " << +info.Status << ' ' << +info.RXDPI
              << 'x' << +info.RYDPI << ' ' << +info.LineBytes << 'x' << +info.ImageLines << '\n';
        ScanStartRecord start{};
        calls << "StartScan " << StartScan(&start) << " status " << +start.Status << '\n';
        std::vector<uint8_t> image(size_t{info.LineBytes} * (info.ImageLines + 100));
        for (int reads = 0; reads < 1000 && lines_ <= info.ImageLines; ++reads) {
            ReadRequest read{};
            read.LinesWanted = 100;
            read.Buffer = image.data() + size_t{lines_} * info.LineBytes;
            const int32_t result = ReadScannedData(&read);
            lines_ += read.LinesDone;
            calls << "ReadScannedData " << result << " status " << +read.Status << " lines "
                  << +read.LinesDone << '\n';
            if (result == 0 || read.Status != 0) break;
        }
        image.resize(size_t{lines_} * info.LineBytes);
        return image;
    }

    uint32_t lines_ = 0;
};

std::map<std::string, std::string> ReadTable() {
    std::map<std::string, std::string> table;
    std::ifstream in(B58_GOLDEN_TABLE);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') table[line.substr(0, line.find(' '))] = line;
    return table;
}

TEST_F(GoldenScanTest, ImagesAndTracesMatchTheTable) {
    const bool update = std::getenv("B58_GOLDEN_UPDATE") != nullptr;
    const char* only = std::getenv("B58_GOLDEN_CASE");  // run the cases whose names hold this text
    ASSERT_FALSE(update && (kSanitized || only)) << "update the whole table, from a build without sanitizers";
    const std::map<std::string, std::string> table = ReadTable();
    std::string rewritten =
        "# Byte-identity of whole scans (tests/api/golden_scans_test.cpp, scanner \"" +
        std::string(kScannerOptions) +
        "\").\n# case, delivered lines, FNV-1a of the image bytes, FNV-1a of the calls and their trace.\n";
    for (const Case& k : AllCases()) {
        if ((kSanitized && k.dpi > 150) || (only && k.Name().find(only) == std::string::npos)) continue;
        const Outcome outcome = Run(k);
        rewritten += outcome.line + '\n';
        if (update) continue;
        const auto expected = table.find(k.Name());
        if (expected == table.end()) {
            ADD_FAILURE() << k.Name() << " is not in the table; run with B58_GOLDEN_UPDATE=1 to add it";
            continue;
        }
        EXPECT_EQ(outcome.line, expected->second)
            << k.Name() << " no longer scans as before (image or trace changed). If the change is meant, "
            << "rewrite the table with B58_GOLDEN_UPDATE=1 and commit it. Calls and trace now:\n"
            << outcome.transcript.substr(0, 4000);
    }
    if (update) {
        std::ofstream(B58_GOLDEN_TABLE) << rewritten;
        std::printf("rewrote %s\n", B58_GOLDEN_TABLE);
    }
}

// Scans do not depend on what ran before them in the process: a case repeated after others
// gives the same bytes and the same transcript.
TEST_F(GoldenScanTest, RepeatedCasesAreIdentical) {
    const Case first{0, ModeColor24, 300};
    const Outcome a = Run(first);
    Run({0, ModeColor48, 600});
    Run({1, ModeColor48, 150});
    const Outcome b = Run(first);
    EXPECT_EQ(a.line, b.line);
    EXPECT_EQ(a.transcript, b.transcript);
}

// Nothing of one scan reaches the next within one open session: after other scans, the
// same request gives the same image as the session's first scan (the join noise restarted).
TEST_F(GoldenScanTest, LaterScansOfASessionMatchItsFirst) {
    const Outcome first = Run({0, ModeGray, 300});
    ASSERT_EQ(_Open(), 1);
    std::ostringstream calls;
    for (const Case& k : {Case{0, ModeColor48, 150}, Case{2, ModeColor24, 150}, Case{0, ModeGray, 300}}) {
        SCOPED_TRACE(k.Name());
        TheDriver().Run.ResetJoinNoise();
        const std::vector<uint8_t> image = Scan(k, calls);
        StopRecord stop{};
        ASSERT_EQ(StopScan(&stop), 1);
        if (k.mode == ModeGray) {
            EXPECT_TRUE(image == first.image) << calls.str();
        }
    }
}

}  // namespace
}  // namespace b58

// b58scan's command line: the commands, their options in the forms scanimage users know,
// and what they are turned into. Parsing only; nothing here touches the driver.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "device_commands.h"
#include "image_writer.h"
#include "scan_request.h"

namespace b58::tools {

enum class ProgressStyle { Auto, Shown, Quiet };  // Auto: a bar on a terminal only

struct CommandLine {
    std::string command;  // info, scan, key, lamp, home, status; empty with --version
    bool version = false;
    std::string driverPath;  // empty: beside the program
    std::string device;      // -d: the scanners the stand-in publishes (B58_DEVICES)

    host::ScanDescription scan;
    ScanRequestOptions infoRequest;  // what `info` hands the driver as is

    std::string output;  // "-": standard output
    FileFormat format = FileFormat::Pnm;
    WriterSettings writer;
    std::string batchPattern;  // with %d, one file per page; empty: one output
    uint32_t batchCount = 1;
    bool batchPrompt = false;
    ProgressStyle progress = ProgressStyle::Auto;
    bool lampOn = false;

    // The virtual scanner's options, from --sim-*: appended to the device's name.
    std::string simOptions;
};

// Parses the arguments. Returns -1 to go on, or the exit status to end with: 0 after help
// was printed to `out`, kExitUsage after a one-line message with a hint on `err`.
int ParseCommandLine(int argc, const char* const* argv, CommandLine& line, std::ostream& out,
                     std::ostream& err);

// The paper sizes --size knows, in millimetres; false for an unknown name.
bool PaperSizeMm(const std::string& name, double& width, double& height);

// The device the stand-in should publish: -d, or the virtual scanner with the --sim-*
// options; empty when neither was given.
std::string DeviceSetting(const CommandLine& line);

}  // namespace b58::tools

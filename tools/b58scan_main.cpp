// b58scan: a host program for the scanner driver. It loads the driver by file name and
// drives it through its exported entry points only, as an imaging application would.
//
//   b58scan [--driver PATH] info
#include <cstring>
#include <iostream>
#include <string>

#include "driver_library.h"
#include "info_command.h"

namespace {

void PrintUsage(std::ostream& out) {
    out << "usage: b58scan [--driver PATH] info\n"
           "  info           show the loaded driver, its entry points and its version\n"
           "  --driver PATH  load the driver from PATH instead of the one beside this program\n";
}

// A name without a folder means the file in the current folder, not one the system's
// library search happens to find.
std::string AsFilePath(const std::string& path) {
#if defined(_WIN32)
    return path.find_first_of("\\/") == std::string::npos ? ".\\" + path : path;
#else
    return path.find('/') == std::string::npos ? "./" + path : path;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    std::string driverPath = b58::tools::DriverLibrary::DefaultPath();
    std::string command;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
            driverPath = AsFilePath(argv[++i]);
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(std::cout);
            return 0;
        } else if (command.empty() && argv[i][0] != '-') {
            command = argv[i];
        } else {
            std::cerr << "b58scan: unexpected argument '" << argv[i] << "'\n";
            PrintUsage(std::cerr);
            return 2;
        }
    }
    if (command != "info") {
        if (!command.empty()) std::cerr << "b58scan: unknown command '" << command << "'\n";
        PrintUsage(std::cerr);
        return 2;
    }

    std::string error;
    auto driver = b58::tools::DriverLibrary::Load(driverPath, error);
    if (!driver) {
        std::cerr << "b58scan: " << error << "\n";
        return 1;
    }
    return b58::tools::RunInfo(*driver, std::cout);
}

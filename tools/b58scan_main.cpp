// b58scan: a host program for the scanner driver. It loads the driver by file name and
// drives it through its exported entry points only, as an imaging application would.
//
//   b58scan [--driver PATH] info [--resolution DPI] [--mode MODE] [--area L,T,R,B] [--source SRC]
//   b58scan [--driver PATH] scan [--resolution DPI] [--mode MODE] [--area L,T,R,B | --size PAPER]
//           [--source SRC] [--threshold N] --output FILE
//   b58scan [--driver PATH] key | lamp on|off | home | status
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "device_commands.h"
#include "driver_entry_points.h"
#include "driver_library.h"
#include "info_command.h"
#include "scan_command.h"

namespace {

using namespace b58::tools;
using b58::host::ResolveEntryPoints;

void PrintUsage(std::ostream& out) {
    out << "usage: b58scan [--driver PATH] COMMAND\n"
           "commands:\n"
           "  info [--resolution DPI] [--mode lineart|grey|colour|colour48]\n"
           "       [--area LEFT,TOP,RIGHT,BOTTOM] [--source flatbed|ta1|ta2|ta4]\n"
           "                 the driver, its entry points and version; the scanner's identity,\n"
           "                 its gamma table formats, and what the driver makes of a scan request\n"
           "                 (area in 300-dpi units; default colour, 300 dpi, US letter, flatbed)\n"
           "  scan [--resolution DPI] [--mode lineart|gray|color|color48]\n"
           "       [--area LEFT,TOP,RIGHT,BOTTOM | --size a4|a5|a6|b5|letter|legal|photo]\n"
           "       [--source flatbed|ta1|ta2|ta4] [--threshold 0-255] --output FILE\n"
           "                 scan into FILE (.png, .tif or .pnm/.pbm/.pgm/.ppm) with a progress\n"
           "                 bar; Ctrl-C cancels and keeps the lines scanned so far\n"
           "                 (default colour, 300 dpi, US letter, flatbed, threshold 128)\n"
           "  key            whether the scanner's key has been pressed\n"
           "  lamp on|off    switch the light of the current source\n"
           "  home           move the carriage home\n"
           "  status         whether the scanner answers\n"
           "options:\n"
           "  --driver PATH  load the driver from PATH instead of the one beside this program\n"
           "exit status: 0 done, 1 driver unusable, 2 usage, 3 no scanner, 4 scanner in use,\n"
           "             5 the scanner refused or failed the command, 6 scan cancelled\n"
#if !defined(_WIN32)
           "environment: B58_DEVICES chooses the scanners the driver sees (default \"sim@0\",\n"
           "             the virtual scanner; set it empty for none)\n"
#endif
        ;
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

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
    g_interrupted = true;
}

int Usage(const std::string& problem) {
    std::cerr << "b58scan: " << problem << "\n";
    PrintUsage(std::cerr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::string driverPath = DriverLibrary::DefaultPath();
    std::string command;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        if (command.empty() && std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
            driverPath = AsFilePath(argv[++i]);
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(std::cout);
            return kExitOk;
        } else if (command.empty() && argv[i][0] != '-') {
            command = argv[i];
        } else if (!command.empty()) {
            arguments.push_back(argv[i]);
        } else {
            return Usage(std::string("unexpected argument '") + argv[i] + "'");
        }
    }

    ScanRequestOptions request;
    ScanCommandOptions scan;
    bool lampOn = false;
    if (command == "scan") {
        if (arguments.size() % 2 != 0) return Usage("option '" + arguments.back() + "' needs a value");
        for (size_t i = 0; i < arguments.size(); i += 2) {
            std::string error;
            if (!ApplyScanOption(arguments[i], arguments[i + 1], scan, error)) return Usage(error);
        }
        if (scan.output.empty()) return Usage("scan needs --output FILE");
    } else if (command == "info") {
        if (arguments.size() % 2 != 0) return Usage("option '" + arguments.back() + "' needs a value");
        for (size_t i = 0; i < arguments.size(); i += 2) {
            std::string error;
            if (!ApplyRequestOption(arguments[i], arguments[i + 1], request, error)) return Usage(error);
        }
    } else if (command == "lamp") {
        if (arguments.size() != 1 || (arguments[0] != "on" && arguments[0] != "off")) {
            return Usage("lamp takes 'on' or 'off'");
        }
        lampOn = arguments[0] == "on";
    } else if (command == "key" || command == "home" || command == "status") {
        if (!arguments.empty()) return Usage("unexpected argument '" + arguments[0] + "'");
    } else {
        return Usage(command.empty() ? "no command given" : "unknown command '" + command + "'");
    }

#if !defined(_WIN32)
    // The stand-in class driver publishes what B58_DEVICES names; without it, the virtual
    // scanner. It reads the variable when the driver first looks for a device.
    setenv("B58_DEVICES", "sim@0", 0);
#endif

    std::string error;
    auto library = DriverLibrary::Load(driverPath, error);
    if (!library) {
        std::cerr << "b58scan: " << error << "\n";
        return kExitDriverUnusable;
    }
    if (command == "info") {
        if (int status = RunInfo(*library, std::cout); status != kExitOk) return status;
    } else if (!library->Complete()) {
        std::cerr << "b58scan: " << library->LoadedFile() << " lacks entry points (see 'b58scan info')\n";
        return kExitDriverUnusable;
    }

    const DriverEntryPoints driver = ResolveEntryPoints(*library);
    if (command == "info") return RunScannerInfo(driver, request, std::cout, std::cerr);
    if (command == "scan") {
        std::signal(SIGINT, OnInterrupt);
        return RunScan(driver, scan, g_interrupted, std::cout, std::cerr);
    }
    if (command == "key") return RunKey(driver, std::cout, std::cerr);
    if (command == "lamp") return RunLamp(driver, lampOn, std::cout, std::cerr);
    if (command == "home") return RunHome(driver, std::cout, std::cerr);
    return RunStatus(driver, std::cout, std::cerr);
}

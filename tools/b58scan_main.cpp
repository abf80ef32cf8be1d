// b58scan: a host program for the scanner driver. It loads the driver by file name and
// drives it through its exported entry points only, as an imaging application would.
// 'b58scan --help' and b58scan.1 describe the commands and options.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#if defined(_WIN32)
#include <io.h>
#define B58_ISATTY _isatty
#define B58_FILENO _fileno
#else
#include <poll.h>
#include <unistd.h>
#define B58_ISATTY isatty
#define B58_FILENO fileno
#endif

#include "command_line.h"
#include "device_commands.h"
#include "driver_entry_points.h"
#include "driver_library.h"
#include "info_command.h"
#include "scan_command.h"
#include "scanner_session.h"
#if defined(_WIN32)
#include "virtual_devices.h"
#endif

namespace {

using namespace b58::tools;
using b58::host::ResolveEntryPoints;

constexpr const char* kVersion = "2.0";

// A name without a folder means the file in the current folder, not one the system's
// library search happens to find.
std::string AsFilePath(const std::string& path) {
#if defined(_WIN32)
    return path.find_first_of("\\/") == std::string::npos ? ".\\" + path : path;
#else
    return path.find('/') == std::string::npos ? "./" + path : path;
#endif
}

void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

b58::host::ScanCancel g_cancel;

extern "C" void OnInterrupt(int) {
    g_cancel.Request();
}

// Waits for Enter, the scanner's key, or the end of the batch (q, end of input, Ctrl-C).
bool WaitForPage(const DriverEntryPoints& driver, uint32_t page) {
    std::cerr << "b58scan: place page " << page
              << " and press Enter or the scanner's key (q and Enter to end)\n";
#if !defined(_WIN32)
    uint8_t key = 0;
    driver.getKeyStatus(&key);  // forget a press from before the prompt
    while (!g_cancel.Requested()) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, 200) > 0) break;
        key = 0;
        if (driver.getKeyStatus(&key) != 0 && (key & 0x10) != 0) return true;
    }
    if (g_cancel.Requested()) return false;
#else
    (void)driver;
#endif
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer != "q" && answer != "Q";
}

int PrintVersion(const b58::host::DriverLibrary& library) {
    std::cout << "b58scan " << kVersion << "\ndriver: " << library.LoadedFile();
    if (!library.Complete()) {
        std::cout << " (lacks entry points; see 'b58scan info')\n";
        return kExitDriverUnusable;
    }
    const DriverEntryPoints driver = ResolveEntryPoints(library);
    VersionRecord version = {};
    if (driver.getVersionInfo(&version) != 0) {
        std::cout << ", version " << int{version.VersionMajor} << "." << int{version.VersionMinor};
    }
    std::cout << "\n";
    ScannerSession session(driver);
    std::ostringstream ignored;
    if (session.Open(ignored) != kExitOk) {
        std::cout << "scanner: none found\n";
        return kExitOk;
    }
    DeviceInfoRecord device = {};
    driver.getDeviceInfo(&device);
    std::cout << "scanner: identifier " << DeviceIdentifier(device.DeviceInfoBlock, device.InfoBlockSize)
              << ", information version " << device.InfoVersion << "\n";
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    if (int status = ParseCommandLine(argc, argv, line, std::cout, std::cerr); status >= 0) return status;
    const bool toStandardOutput = line.command == "scan" && line.output == "-" && line.batchPattern.empty();
    if (toStandardOutput && B58_ISATTY(B58_FILENO(stdout))) {
        std::cerr
            << "b58scan: the image would go to the terminal: give -o FILE (see 'b58scan scan --help')\n";
        return kExitUsage;
    }

    // The stand-in class driver publishes what B58_DEVICES names; without it, the virtual
    // scanner. It reads the variable when the driver first looks for a device. On Windows
    // it is attached to the loaded driver below, in place of the system's class driver.
    const std::string device = DeviceSetting(line);
    if (!device.empty()) SetEnvironment("B58_DEVICES", device);
    if (getenv("B58_DEVICES") == nullptr) {
        SetEnvironment("B58_DEVICES", "sim@0");
        // Nobody named a scanner: say that the image comes from the virtual one.
        if (line.progress != ProgressStyle::Quiet && !line.version)
            std::cerr
                << "b58scan: no scanner configured (-d or B58_DEVICES); using the virtual scanner sim@0\n";
    }

    std::string error;
    const std::string driverPath =
        line.driverPath.empty() ? b58::host::DriverLibrary::DefaultPath() : AsFilePath(line.driverPath);
    auto library = b58::host::DriverLibrary::Load(driverPath, error);
    if (!library) {
        std::cerr << "b58scan: " << error << "\n";
        return kExitDriverUnusable;
    }
#if defined(_WIN32)
    // "system" leaves the system's still-image class driver in place (a real scanner on Windows).
    const char* devices = getenv("B58_DEVICES");
    const bool standIn = devices != nullptr && std::string(devices) != "system";
    if (standIn && library->Complete() &&
        !b58::standin::AttachVirtualDevices(static_cast<HMODULE>(library->Module()), &error)) {
        std::cerr << "b58scan: cannot attach the virtual scanner to " << library->LoadedFile() << ": "
                  << error << "\n";
        return kExitDriverUnusable;
    }
#endif
    if (line.version) return PrintVersion(*library);
    if (line.command == "info") {
        if (int status = RunInfo(*library, std::cout); status != kExitOk) return status;
    } else if (!library->Complete()) {
        std::cerr << "b58scan: " << library->LoadedFile() << " lacks entry points (see 'b58scan info')\n";
        return kExitDriverUnusable;
    }

    const DriverEntryPoints driver = ResolveEntryPoints(*library);
    if (line.command == "info") return RunScannerInfo(driver, line.infoRequest, std::cout, std::cerr);
    if (line.command == "scan") {
        std::signal(SIGINT, OnInterrupt);
#if !defined(_WIN32)
        std::signal(SIGTERM, OnInterrupt);
#endif
        ScanEnvironment environment;
        environment.out = toStandardOutput ? &std::cerr : &std::cout;
        environment.err = &std::cerr;
        environment.errIsTerminal = B58_ISATTY(B58_FILENO(stderr)) != 0;
        environment.waitForPage = [&driver](uint32_t page) { return WaitForPage(driver, page); };
        return RunScan(driver, line, g_cancel, environment);
    }
    if (line.command == "key") return RunKey(driver, std::cout, std::cerr);
    if (line.command == "lamp") return RunLamp(driver, line.lampOn, std::cout, std::cerr);
    if (line.command == "home") return RunHome(driver, std::cout, std::cerr);
    return RunStatus(driver, std::cout, std::cerr);
}

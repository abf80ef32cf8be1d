#include "device_commands.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "scan_request.h"
#include "scanner_session.h"

namespace b58::tools {
namespace {

const char* ModeName(uint16_t mode) {
    switch (mode) {
        case ModeLineArt:
            return "Lineart";
        case ModeGray:
            return "Gray";
        case ModeColor24:
            return "Color";
        case ModeColor48:
            return "Color 16-bit";
        default:
            return "unknown mode";
    }
}

const char* SourceName(uint8_t source) {
    switch (source) {
        case 0:
            return "flatbed";
        case 1:
            return "transparency adapter 1";
        case 2:
            return "transparency adapter 2";
        case 4:
            return "transparency adapter 4";
        default:
            return "no source";
    }
}

std::string StatusText(uint16_t status) {
    std::string text = std::to_string(status);
    switch (status) {
        case kStatusRequestRejected:
            return text + " (a request the scanner cannot scan)";
        case kStatusScanRunning:
            return text + " (a scan is running)";
        case kStatusOutOfMemory:
            return text + " (out of memory)";
        default:
            return text;
    }
}

bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    return value <= max;
}

}  // namespace

std::string DeviceIdentifier(const uint8_t* block, uint16_t blockSize) {
    if (block == nullptr || blockSize < 36) return "(none)";
    std::string id;
    for (int i = 32; i < 36; ++i) {
        if (block[i] < 0x21 || block[i] > 0x7E) return "(none)";
        id += static_cast<char>(block[i]);
    }
    return id;
}

bool ApplyRequestOption(const std::string& name, const std::string& value, ScanRequestOptions& options,
                        std::string& error) {
    uint32_t number = 0;
    if (name == "--resolution") {
        if (!ParseNumber(value, 65535, number) || number == 0) {
            error = "resolution '" + value + "' is not a number of dots per inch";
            return false;
        }
        options.resolution = static_cast<uint16_t>(number);
    } else if (name == "--mode") {
        std::string mode = value;
        for (char& c : mode) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (mode == "lineart") {
            options.mode = ModeLineArt;
        } else if (mode == "grey" || mode == "gray") {
            options.mode = ModeGray;
        } else if (mode == "colour" || mode == "color") {
            options.mode = ModeColor24;
        } else if (mode == "colour48" || mode == "color48") {
            options.mode = ModeColor48;
        } else {
            error = "mode '" + value + "' is not Lineart, Gray or Color";
            return false;
        }
    } else if (name == "--area") {
        uint32_t edges[4] = {};
        size_t count = 0, start = 0;
        bool valid = true;
        for (;;) {
            const size_t comma = value.find(',', start);
            valid =
                valid && count < 4 && ParseNumber(value.substr(start, comma - start), 65535, edges[count]);
            ++count;
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (!valid || count != 4) {
            error = "area '" + value + "' is not LEFT,TOP,RIGHT,BOTTOM in 300-dpi units";
            return false;
        }
        options.left = static_cast<uint16_t>(edges[0]);
        options.top = static_cast<uint16_t>(edges[1]);
        options.right = static_cast<uint16_t>(edges[2]);
        options.bottom = static_cast<uint16_t>(edges[3]);
    } else if (name == "--source") {
        if (value == "flatbed") {
            options.source = 0;
        } else if (value == "ta1" || value == "ta2" || value == "ta4") {
            options.source = static_cast<uint8_t>(value[2] - '0');
        } else {
            error = "source '" + value + "' is not flatbed, ta1, ta2 or ta4";
            return false;
        }
    } else {
        error = "unknown option '" + name + "'";
        return false;
    }
    return true;
}

int RunScannerInfo(const DriverEntryPoints& driver, const ScanRequestOptions& request, std::ostream& out,
                   std::ostream& err) {
    ScannerSession session(driver);
    if (int status = session.Open(err); status != kExitOk) return status;
    out << "scanner: open\n";

    DeviceInfoRecord device = {};
    const int32_t deviceResult = driver.getDeviceInfo(&device);
    out << "device: identifier " << DeviceIdentifier(device.DeviceInfoBlock, device.InfoBlockSize)
        << ", feature flag " << static_cast<int>(device.DeviceFlag) << " (GetDeviceInfo returned "
        << deviceResult << ", status " << device.Status << ")\n";

    out << "gamma tables (bits in/out):";
    const uint16_t modes[] = {ModeLineArt, ModeGray, ModeColor24, ModeColor48};
    for (uint16_t mode : modes) {
        GammaInfoRecord gamma = {};
        gamma.ScanMode = mode;
        driver.getGammaInfo(&gamma);
        out << (mode == ModeLineArt ? " " : ", ") << ModeName(mode) << " " << gamma.GammaInBits << "/"
            << gamma.GammaOutBits;
    }
    out << "\n";
    out << "resolutions:";
    for (unsigned dpi : host::DeliveredResolutions()) out << " " << dpi;
    out << " dpi (b58scan rounds others down; 600 dpi comes as 300 across and b58scan makes it square)\n";

    ScanParameters parameters = {};
    parameters.Left = request.left;
    parameters.Top = request.top;
    parameters.Right = request.right;
    parameters.Bottom = request.bottom;
    parameters.Resolution = request.resolution;
    parameters.ScanMode = request.mode;
    parameters.Threshold = 128;
    parameters.ScanSource = request.source;
    out << "request: " << ModeName(request.mode) << " at " << request.resolution << " dpi, area "
        << request.left << "," << request.top << " to " << request.right << "," << request.bottom
        << " (300-dpi units), " << SourceName(request.source) << "\n";
    const int32_t setResult = driver.setParameters(&parameters);
    if (setResult == 0) {
        out << "SetParameters: returned 0, status " << StatusText(parameters.Status) << "\n";
        err << "b58scan: the driver did not accept the request\n";
        return kExitCommandFailed;
    }
    out << "SetParameters: returned " << setResult << ", status " << parameters.Status << ", resolution "
        << parameters.Resolution << "\n";
    ScanParametersInfo info = {};
    driver.getParameters(&info);
    out << "GetParameters: " << info.RXDPI << " x " << info.RYDPI << " dpi, line size " << info.LineBytes
        << " bytes, image lines " << info.ImageLines << "\n";
    // No scan follows: the request's working memory goes with the program.
    return kExitOk;
}

int RunKey(const DriverEntryPoints& driver, std::ostream& out, std::ostream& err) {
    ScannerSession session(driver);
    if (int status = session.Open(err); status != kExitOk) return status;
    uint8_t key = 0;
    if (driver.getKeyStatus(&key) == 0) {
        err << "b58scan: the scanner did not answer the key query\n";
        return kExitCommandFailed;
    }
    out << "key: " << ((key & 0x10) != 0 ? "pressed" : "not pressed") << "\n";
    return kExitOk;
}

int RunLamp(const DriverEntryPoints& driver, bool on, std::ostream& out, std::ostream& err) {
    ScannerSession session(driver);
    if (int status = session.Open(err); status != kExitOk) return status;
    ControlRecord record = {};
    record.PowerOn = on ? 1 : 0;
    const int32_t result = driver.powerControl(&record);
    if (result == 0 || record.Status != kStatusOk) {
        err << "b58scan: the scanner refused to switch the lamp " << (on ? "on" : "off") << " (status "
            << record.Status << ")\n";
        return kExitCommandFailed;
    }
    out << "lamp: " << (on ? "on" : "off") << "\n";
    return kExitOk;
}

int RunHome(const DriverEntryPoints& driver, std::ostream& out, std::ostream& err) {
    ScannerSession session(driver);
    if (int status = session.Open(err); status != kExitOk) return status;
    ControlRecord record = {};
    const int32_t result = driver.carriageHome(&record);
    if (result == 0 || record.Status != kStatusOk) {
        err << "b58scan: the carriage did not move home (status " << record.Status << ")\n";
        return kExitCommandFailed;
    }
    out << "carriage: home\n";
    return kExitOk;
}

int RunStatus(const DriverEntryPoints& driver, std::ostream& out, std::ostream& err) {
    ScannerSession session(driver);
    if (int status = session.Open(err); status != kExitOk) return status;
    ControlRecord record = {};
    if (driver.getDeviceStatus(&record) == 0 || record.Status != kStatusOk) {
        err << "b58scan: the scanner does not answer (status " << record.Status << ")\n";
        return kExitCommandFailed;
    }
    out << "status: ready\n";
    return kExitOk;
}

}  // namespace b58::tools

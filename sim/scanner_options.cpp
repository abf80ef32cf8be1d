#include "sim/scanner_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string_view>
#include <vector>

namespace b58::sim {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// Decimal, or hexadecimal with 0x, no sign, within max.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value) {
    text = Trim(text);
    if (text.empty() || text.front() == '-' || text.front() == '+') return false;
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(copy.c_str(), &end, 0);
    if (errno != 0 || end != copy.c_str() + copy.size() || parsed > max) return false;
    *value = parsed;
    return true;
}

template <typename T>
bool ParseInto(std::string_view text, T* out) {
    uint64_t value = 0;
    if (!ParseNumber(text, std::numeric_limits<T>::max(), &value)) return false;
    *out = static_cast<T>(value);
    return true;
}

bool ParseFlag(std::string_view text, std::string_view onWord, std::string_view offWord, bool* out) {
    text = Trim(text);
    if (text == onWord || text == "1" || text == "on" || text == "yes") {
        *out = true;
    } else if (text == offWord || text == "0" || text == "off" || text == "no") {
        *out = false;
    } else {
        return false;
    }
    return true;
}

// "a" or "a:b": the first number, and the second when given.
template <typename A, typename B>
bool ParsePair(std::string_view text, A* first, B* second) {
    const std::vector<std::string_view> parts = Split(text, ':');
    if (parts.size() > 2 || !ParseInto(parts[0], first)) return false;
    return parts.size() == 1 || ParseInto(parts[1], second);
}

bool ParseIdentity(std::string_view text, Identity* id) {
    const std::vector<std::string_view> parts = Split(text, ':');
    return parts.size() == 5 && ParseInto(parts[0], &id->word1) && ParseInto(parts[1], &id->word2) &&
           ParseInto(parts[2], &id->word3) && ParseInto(parts[3], &id->word4) &&
           ParseInto(parts[4], &id->value5);
}

bool ParsePath(std::string_view text, std::string* out) {
    text = Trim(text);
    if (text.empty()) return false;
    *out = std::string(text);
    return true;
}

bool ParseDpi(std::string_view text, double* out) {
    uint16_t dpi = 0;
    if (!ParseInto(text, &dpi) || dpi == 0) return false;
    *out = dpi;
    return true;
}

using Setter = std::function<bool(std::string_view, ScannerConfig&)>;

const std::vector<std::pair<std::string_view, Setter>>& Setters() {
    static const std::vector<std::pair<std::string_view, Setter>> setters = {
        {"firmware", [](std::string_view v,
                        ScannerConfig& c) { return ParseFlag(v, "running", "none", &c.firmwareRunning); }},
        {"key", [](std::string_view v,
                   ScannerConfig& c) { return ParseFlag(v, "pressed", "released", &c.keyPressed); }},
        {"id", [](std::string_view v, ScannerConfig& c) { return ParseIdentity(v, &c.identity); }},
        {"feature", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.feature); }},
        {"lamp_power", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.lampPower); }},
        {"seed", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.seed); }},
        {"start_ms", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.time.startMs); }},
        {"step_us", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.time.stepUs); }},
        {"rate", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.time.bytesPerSecond); }},
        {"buffer", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.time.bufferBytes); }},
        {"packet", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.time.packetBytes); }},
        {"not_taken", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.faults.notTaken); }},
        {"fail_cmd",
         [](std::string_view v, ScannerConfig& c) {
             uint8_t command = 0;
             uint8_t status = 0x02;
             if (!ParsePair(v, &command, &status) || status == 0) return false;
             c.faults.failCommand[command] = status;
             return true;
         }},
        {"fail_transfers",
         [](std::string_view v, ScannerConfig& c) {
             if (Trim(v) == "all") {
                 c.faults.failAllTransfers = true;
                 return true;
             }
             return ParseInto(v, &c.faults.failTransfers);
         }},
        {"fail_bulk",
         [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.faults.failBulkReads); }},
        {"busy_ms", [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.faults.busyMs); }},
        {"handshake_refusals",
         [](std::string_view v, ScannerConfig& c) { return ParseInto(v, &c.faults.handshakeRefusals); }},
        {"bad_readback",
         [](std::string_view v, ScannerConfig& c) {
             uint16_t block = 0;
             if (!ParsePair(v, &block, &c.faults.badReadBackTimes)) return false;
             c.faults.badReadBackBlock = block;
             return true;
         }},
        {"stream_end",
         [](std::string_view v, ScannerConfig& c) {
             uint64_t bytes = 0;
             if (!ParseInto(v, &bytes)) return false;
             c.faults.streamEndAfter = bytes;
             return true;
         }},
        {"stall_read", [](std::string_view v,
                          ScannerConfig& c) { return ParsePair(v, &c.faults.stallRead, &c.faults.stallMs); }},
        {"stream",
         [](std::string_view v, ScannerConfig& c) {
             bool image = true;
             if (!ParseFlag(v, "image", "placeholder", &image)) return false;
             c.image.placeholder = !image;
             return true;
         }},
        {"document", [](std::string_view v, ScannerConfig& c) { return ParsePath(v, &c.image.document); }},
        {"document_dpi", [](std::string_view v, ScannerConfig& c) { return ParseDpi(v, &c.image.documentDpi); }},
        {"document_at",
         [](std::string_view v, ScannerConfig& c) {
             uint16_t x = 0;
             uint16_t y = 0;
             if (!ParsePair(v, &x, &y)) return false;
             c.image.documentX = x;
             c.image.documentY = y;
             return true;
         }},
        {"film", [](std::string_view v, ScannerConfig& c) { return ParsePath(v, &c.image.film); }},
        {"film_dpi", [](std::string_view v, ScannerConfig& c) { return ParseDpi(v, &c.image.filmDpi); }},
        {"unplug_after",
         [](std::string_view v, ScannerConfig& c) {
             uint32_t transfers = 0;
             if (!ParseInto(v, &transfers)) return false;
             c.faults.unplugAfter = transfers;
             return true;
         }},
    };
    return setters;
}

}  // namespace

bool ParseScannerOptions(const std::string& text, ScannerConfig* config, std::string* error) {
    for (std::string_view item : Split(text, ',')) {
        item = Trim(item);
        if (item.empty()) continue;
        const size_t equals = item.find('=');
        const std::string_view key = Trim(item.substr(0, equals));
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
        const Setter* setter = nullptr;
        for (const auto& [name, candidate] : Setters()) {
            if (name == key) setter = &candidate;
        }
        if (setter == nullptr) {
            if (error != nullptr) *error = "virtual scanner: unknown option \"" + std::string(key) + "\"";
            return false;
        }
        if (equals == std::string_view::npos || !(*setter)(value, *config)) {
            if (error != nullptr) *error = "virtual scanner: bad value in \"" + std::string(item) + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace b58::sim

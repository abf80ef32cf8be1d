// Everything that makes one virtual scanner differ from another: what it reports about
// itself, how fast it is, and the faults it is told to show. Built from the option string by
// ParseScannerOptions or filled in directly by tests.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "sim/stream_source.h"

namespace b58::sim {

// The five values of the identity query (reply bytes 2-13).
struct Identity {
    uint16_t word1 = 0x0001;       // hardware revision
    uint16_t word2 = 0x0210;       // firmware release 2.10
    uint16_t word3 = 0x011A;       // model code; the host shows its low byte
    uint16_t word4 = 0x0258;       // sensor resolution, 600
    uint32_t value5 = 0x00012C01;  // serial number
};

// Durations are at time scale 1 and shrink with the platform's time scale; 0 means none.
struct TimeModel {
    uint32_t startMs = 100;                // from the start command to the first image data
    uint32_t stepUs = 1000;                // per motor step of a carriage move
    uint64_t bytesPerSecond = 10'000'000;  // image data rate; 0 = as fast as the host reads
    uint32_t bufferBytes = 256 * 1024;     // data the controller holds ahead while the host does not read
    uint32_t packetBytes = 64;  // the stream is padded with zeros to whole packets; 0 or 1 = no padding
};

// Faults; every counter counts down as the fault is shown.
struct FaultConfig {
    uint32_t notTaken = 0;                     // answer the next n command packets "not taken"
    std::map<uint8_t, uint8_t> failCommand;    // command -> status it is always answered with
    uint32_t failTransfers = 0;                // fail the next n control transfers
    bool failAllTransfers = false;             // fail every control transfer
    uint32_t failBulkReads = 0;                // fail the next n bulk reads
    uint32_t busyMs = 0;                       // the next status query starts a busy period this long
    uint32_t handshakeRefusals = 0;            // refuse the next n handshakes of a started scan
    std::optional<uint16_t> badReadBackBlock;  // memory reads of this 64-byte block come back wrong
    uint32_t badReadBackTimes = 0;             // ... this many times (0 = every time)
    std::optional<uint64_t> streamEndAfter;    // every stream ends after this many bytes
    uint32_t stallRead = 0;                    // the k-th bulk read of each scan (1-based) stalls
    uint32_t stallMs = 35000;                  // ... this long, beyond the host's 30 s block limit
    std::optional<uint32_t> unplugAfter;       // unplugged after this many more control transfers
};

// What lies on the bed of the image model (sim/README.md, "Image model"); paths to PNG files,
// empty for the built-in test charts.
struct ImageOptions {
    bool placeholder = false;  // CreateVirtualScanner: stream the placeholder pattern instead
    std::string document;
    double documentDpi = 0.0;  // 0: the file's own resolution, else 300
    double documentX = 0.0;    // the document's corner, 300-dpi units from the glass corner
    double documentY = 0.0;
    std::string film;
    double filmDpi = 0.0;
};

struct ScannerConfig {
    bool firmwareRunning = false;  // as after power-on: no firmware until it is downloaded
    bool keyPressed = false;       // the front-panel key has been pressed
    Identity identity;
    uint8_t feature = 1;    // reply byte 8 of the feature query
    uint8_t lampPower = 1;  // reply byte 2 of the lamp-power query
    uint32_t seed = 0;      // handed to the image stream
    TimeModel time;
    FaultConfig faults;
    ImageOptions image;
    StreamFactory streamFactory;  // empty: the placeholder stream (CreateVirtualScanner fills in the image model)
};

}  // namespace b58::sim

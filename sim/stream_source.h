// The bulk image stream of one scan, as the virtual scanner's controller hands it out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "sim/scan_window.h"

namespace b58::sim {

class StreamSource {
public:
    virtual ~StreamSource() = default;
    // Bytes the whole scan delivers.
    virtual uint64_t TotalBytes() const = 0;
    // Produces the next bytes of the stream into dst; returns how many (less than n only at
    // the end of the stream).
    virtual size_t Produce(uint8_t* dst, size_t n) = 0;
};

// Makes the stream for a programmed window; `lamps` holds LampBits.
using StreamFactory =
    std::function<std::unique_ptr<StreamSource>(const ScanWindow& window, const AfeSettings& afe, uint8_t lamps)>;

}  // namespace b58::sim

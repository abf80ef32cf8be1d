// Where a scan's lines go as they arrive: an image file writer, a SANE frame buffer, a test.
#pragma once

#include <cstdint>
#include <string>

#include "image_format.h"

namespace b58::host {

class LineSink {
  public:
    virtual ~LineSink() = default;
    // Before the first line, with the shape of the image the scan will deliver.
    virtual bool Begin(const ImageFormat& format, std::string& error) = 0;
    // One row of RowBytes(format) bytes, top to bottom.
    virtual bool WriteLine(const uint8_t* row, std::string& error) = 0;
    // After the last line: `lines` rows were written; fewer than format.height when the
    // scan was cancelled or failed (the sink keeps what it has and may pad or shorten).
    virtual bool End(uint32_t lines, std::string& error) = 0;
};

}  // namespace b58::host

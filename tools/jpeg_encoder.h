// A JPEG stream through libjpeg, a row at a time, for the JPEG files and the pages of a PDF.
// Line art goes in as 8-bit grey and 48-bit colour as 24-bit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "image_format.h"

namespace b58::tools {

class JpegEncoder {
  public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    bool Start(FILE* out, const host::ImageFormat& format, int quality, std::string& error);
    bool Row(const uint8_t* row, std::string& error);
    bool Finish(std::string& error);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace b58::tools

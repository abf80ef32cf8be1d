// A scanned image as the driver delivers it: rows of the host's pixel format one after the
// other, and the files b58scan writes it to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image_format.h"

namespace b58::tools {

using host::PixelKind;  // line art here: 1 = white
using host::RowBytesFor;

struct ScannedImage {
    PixelKind kind = PixelKind::Gray8;
    uint32_t width = 0;   // pixels
    uint32_t height = 0;  // rows held in `pixels`
    uint32_t xDpi = 0;    // resolution across and down, recorded where the format has room
    uint32_t yDpi = 0;
    std::vector<uint8_t> pixels;

    size_t RowBytes() const;
    const uint8_t* Row(uint32_t y) const { return pixels.data() + y * RowBytes(); }
};

// Each writes the whole image; false with a message in `error` when the file cannot be
// written (or, for PNG, when the program was built without PNG support).
bool WritePng(const ScannedImage& image, const std::string& path, std::string& error);
bool WriteTiff(const ScannedImage& image, const std::string& path, std::string& error);
// PBM for bilevel, PGM for grey, PPM for colour (maxval 65535, big-endian, for 48-bit).
bool WritePnm(const ScannedImage& image, const std::string& path, std::string& error);

// The format the file name's extension names: .png, .tif/.tiff, .pnm/.pbm/.pgm/.ppm; empty
// when none.
std::string ImageFormatForPath(const std::string& path);
// Writes by the extension.
bool WriteImageFile(const ScannedImage& image, const std::string& path, std::string& error);

}  // namespace b58::tools

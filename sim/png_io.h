// Reading documents from PNG files and writing images to PNG files (libpng).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/document.h"
#include "sim/sample_image.h"

namespace b58::sim {

// Loads a PNG of any colour type and bit depth (alpha is dropped, palettes and low bit
// depths are expanded) as a document. Its resolution is `dpi` when that is above 0, else
// the file's own (pHYs), else 300. Throws std::runtime_error with a message on failure.
std::shared_ptr<const RasterDocument> LoadPngDocument(const std::string& path, double dpi = 0.0);

// Writes the image (its resolution as pHYs when dpiX is above 0). Throws
// std::runtime_error with a message on failure.
void SavePng(const std::string& path, const SampleImage& image);

}  // namespace b58::sim

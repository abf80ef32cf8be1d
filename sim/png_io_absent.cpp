// PNG files in a build without libpng (the Windows build): documents cannot be read from
// them, so the virtual scanner there has its built-in chart only.
#include <stdexcept>

#include "sim/png_io.h"

namespace b58::sim {

std::shared_ptr<const RasterDocument> LoadPngDocument(const std::string& path, double) {
    throw std::runtime_error("cannot read " + path + ": this build reads no PNG files");
}

void SavePng(const std::string& path, const SampleImage&) {
    throw std::runtime_error("cannot write " + path + ": this build writes no PNG files");
}

}  // namespace b58::sim

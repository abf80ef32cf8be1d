// Writes the virtual scanner's firmware file: make_firmware <path>. The build runs it to put
// the file where the driver looks for it, in the build tree's Windows directory.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "sim/firmware_image.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <firmware file>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path path(argv[1]);
    std::error_code error;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
    const std::vector<uint8_t> image = b58::sim::BuildFirmwareImage();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}

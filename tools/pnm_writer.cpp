// Netpbm files: P4 (bilevel, 1 = black), P5 (grey) and P6 (colour; 16-bit samples
// big-endian with maxval 65535).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "scanned_image.h"

namespace b58::tools {

bool WritePnm(const ScannedImage& image, const std::string& path, std::string& error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) {
        error = "cannot create '" + path + "'";
        return false;
    }
    const char* magic = image.kind == PixelKind::Bilevel ? "P4"
                        : image.kind == PixelKind::Gray8 ? "P5"
                                                         : "P6";
    std::string header =
        std::string(magic) + "\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n";
    if (image.kind == PixelKind::Rgb48)
        header += "65535\n";
    else if (image.kind != PixelKind::Bilevel)
        header += "255\n";
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();

    const size_t rowBytes = image.RowBytes();
    std::vector<uint8_t> row(rowBytes);
    for (uint32_t y = 0; ok && y < image.height; ++y) {
        const uint8_t* in = image.Row(y);
        if (image.kind == PixelKind::Bilevel) {
            for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(~in[i]);
        } else if (image.kind == PixelKind::Rgb48) {
            for (size_t i = 0; i + 1 < rowBytes; i += 2) {
                row[i] = in[i + 1];
                row[i + 1] = in[i];
            }
        } else {
            row.assign(in, in + rowBytes);
        }
        ok = std::fwrite(row.data(), 1, rowBytes, file.get()) == rowBytes;
    }
    if (std::fclose(file.release()) != 0) ok = false;
    if (!ok) error = "cannot write '" + path + "'";
    return ok;
}

}  // namespace b58::tools

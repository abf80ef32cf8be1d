#include "scanned_image.h"

#include <algorithm>
#include <cctype>

namespace b58::tools {

size_t ScannedImage::RowBytes() const {
    return RowBytesFor(kind, width);
}

std::string ImageFormatForPath(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return {};
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "png") return "png";
    if (extension == "tif" || extension == "tiff") return "tiff";
    if (extension == "pnm" || extension == "pbm" || extension == "pgm" || extension == "ppm") return "pnm";
    return {};
}

bool WriteImageFile(const ScannedImage& image, const std::string& path, std::string& error) {
    const std::string format = ImageFormatForPath(path);
    if (format == "png") return WritePng(image, path, error);
    if (format == "tiff") return WriteTiff(image, path, error);
    if (format == "pnm") return WritePnm(image, path, error);
    error = "unknown image format of '" + path + "' (use .png, .tif or .pnm)";
    return false;
}

}  // namespace b58::tools

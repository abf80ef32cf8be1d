// PNG through libpng: 1-bit and 8-bit grey, 8-bit and 16-bit RGB, with the resolution.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "scanned_image.h"

#if defined(B58_HAVE_PNG)
#include <png.h>
#endif

namespace b58::tools {

#if defined(B58_HAVE_PNG)

namespace {

uint32_t PixelsPerMetre(uint32_t dpi) {
    return static_cast<uint32_t>(dpi / 0.0254 + 0.5);
}

// libpng reports errors by longjmp; everything with a destructor lives outside this frame.
bool WriteRows(FILE* file, const ScannedImage& image, const std::vector<const uint8_t*>& rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    const bool colour = image.kind == PixelKind::Rgb24 || image.kind == PixelKind::Rgb48;
    const int depth = image.kind == PixelKind::Bilevel ? 1 : image.kind == PixelKind::Rgb48 ? 16 : 8;
    png_set_IHDR(png, info, image.width, image.height, depth,
                 colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (image.xDpi && image.yDpi) {
        png_set_pHYs(png, info, PixelsPerMetre(image.xDpi), PixelsPerMetre(image.yDpi), PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    if (depth == 16) png_set_swap(png);  // the driver's samples are low byte first
    for (const uint8_t* row : rows) png_write_row(png, row);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePng(const ScannedImage& image, const std::string& path, std::string& error) {
    if (image.width == 0 || image.height == 0) {
        error = "a PNG file cannot hold an empty image";
        return false;
    }
    std::vector<const uint8_t*> rows(image.height);
    for (uint32_t y = 0; y < image.height; ++y) rows[y] = image.Row(y);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) {
        error = "cannot create '" + path + "'";
        return false;
    }
    bool ok = WriteRows(file.get(), image, rows);
    if (std::fclose(file.release()) != 0) ok = false;
    if (!ok) error = "cannot write '" + path + "'";
    return ok;
}

#else

bool WritePng(const ScannedImage&, const std::string&, std::string& error) {
    error = "this b58scan was built without PNG support; write .tif or .pnm";
    return false;
}

#endif

}  // namespace b58::tools

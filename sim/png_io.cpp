#include "sim/png_io.h"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace b58::sim {

namespace {

constexpr double kInchesPerMetre = 39.37007874015748;

struct File {
    explicit File(const std::string& path, const char* mode) : f(std::fopen(path.c_str(), mode)) {}
    ~File() {
        if (f != nullptr) std::fclose(f);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::FILE* f;
};

[[noreturn]] void PngError(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    if (text != nullptr) *text = message;
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// What ReadPng found; filled through a pointer so that nothing the jump could clobber
// lives in registers across it.
struct DecodedPng {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int channels = 0;
    int depth = 0;
    double dpiX = 0.0;
    double dpiY = 0.0;
    std::vector<uint8_t> pixels;
    std::string message;
};

// libpng reports errors by longjmp; this function holds no object with a destructor, and the
// jump point is set again once the buffers are allocated.
bool ReadPng(std::FILE* file, DecodedPng* out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &out->message, PngError, PngWarning);
    if (png == nullptr) {
        out->message = "libpng: out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    const int colourType = png_get_color_type(png, info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    png_set_strip_alpha(png);
    png_read_update_info(png, info);
    out->width = png_get_image_width(png, info);
    out->height = png_get_image_height(png, info);
    out->channels = png_get_channels(png, info);
    out->depth = png_get_bit_depth(png, info);
    png_uint_32 resX = 0;
    png_uint_32 resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) != 0 && unit == PNG_RESOLUTION_METER && resX > 0 &&
        resY > 0) {
        out->dpiX = std::round(resX / kInchesPerMetre * 100.0) / 100.0;
        out->dpiY = std::round(resY / kInchesPerMetre * 100.0) / 100.0;
    }
    const size_t rowBytes = png_get_rowbytes(png, info);
    out->pixels.resize(rowBytes * out->height);
    png_bytep* rows = static_cast<png_bytep*>(png_malloc(png, sizeof(png_bytep) * (out->height + 1)));
    for (png_uint_32 y = 0; y < out->height; ++y) rows[y] = out->pixels.data() + y * rowBytes;
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_free(png, rows);
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_free(png, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

std::shared_ptr<const RasterDocument> LoadPngDocument(const std::string& path, double dpi) {
    File file(path, "rb");
    if (file.f == nullptr) throw std::runtime_error("cannot open " + path);
    png_byte signature[8] = {};
    if (std::fread(signature, 1, 8, file.f) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        throw std::runtime_error(path + " is not a PNG file");
    }
    auto png = std::make_unique<DecodedPng>();
    if (!ReadPng(file.f, png.get())) {
        throw std::runtime_error(path + ": " +
                                 (png->message.empty() ? std::string("unreadable PNG") : png->message));
    }
    if ((png->channels != 1 && png->channels != 3) || (png->depth != 8 && png->depth != 16)) {
        throw std::runtime_error(path + ": unsupported PNG layout");
    }
    const size_t count = static_cast<size_t>(png->width) * png->height * static_cast<size_t>(png->channels);
    const std::vector<uint8_t>& pixels = png->pixels;
    std::vector<uint16_t> samples(count);
    if (png->depth == 8) {
        for (size_t i = 0; i < count; ++i) samples[i] = static_cast<uint16_t>(pixels[i] * 257);
    } else {
        for (size_t i = 0; i < count; ++i)
            samples[i] = static_cast<uint16_t>((pixels[2 * i] << 8) | pixels[2 * i + 1]);
    }
    const double dpiX = dpi > 0.0 ? dpi : (png->dpiX > 0.0 ? png->dpiX : 300.0);
    const double dpiY = dpi > 0.0 ? dpi : (png->dpiY > 0.0 ? png->dpiY : 300.0);
    return std::make_shared<const RasterDocument>(static_cast<int>(png->width), static_cast<int>(png->height),
                                                  dpiX, dpiY, png->channels, std::move(samples));
}

namespace {

bool WritePng(std::FILE* file, const SampleImage& image, std::string* message) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, PngError, PngWarning);
    if (png == nullptr) {
        *message = "libpng: out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
                 image.bitDepth, image.channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (image.dpiX > 0.0) {
        const double dpiY = image.dpiY > 0.0 ? image.dpiY : image.dpiX;
        png_set_pHYs(png, info, static_cast<png_uint_32>(std::lround(image.dpiX * kInchesPerMetre)),
                     static_cast<png_uint_32>(std::lround(dpiY * kInchesPerMetre)), PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    const size_t perRow = static_cast<size_t>(image.width) * image.channels;
    auto* row = static_cast<png_bytep>(png_malloc(png, perRow * (image.bitDepth / 8)));
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_free(png, row);
        png_destroy_write_struct(&png, &info);
        return false;
    }
    for (int y = 0; y < image.height; ++y) {
        const uint16_t* src = image.samples.data() + static_cast<size_t>(y) * perRow;
        for (size_t i = 0; i < perRow; ++i) {
            if (image.bitDepth == 8) {
                row[i] = static_cast<png_byte>(src[i]);
            } else {
                row[2 * i] = static_cast<png_byte>(src[i] >> 8);
                row[2 * i + 1] = static_cast<png_byte>(src[i] & 0xFF);
            }
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_free(png, row);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

void SavePng(const std::string& path, const SampleImage& image) {
    if (image.width <= 0 || image.height <= 0 || (image.channels != 1 && image.channels != 3) ||
        (image.bitDepth != 8 && image.bitDepth != 16) ||
        image.samples.size() != static_cast<size_t>(image.width) * image.height * image.channels) {
        throw std::runtime_error("image to write has an inconsistent size");
    }
    File file(path, "wb");
    if (file.f == nullptr) throw std::runtime_error("cannot create " + path);
    auto message = std::make_unique<std::string>();
    if (!WritePng(file.f, image, message.get())) {
        throw std::runtime_error(path + ": " +
                                 (message->empty() ? std::string("cannot write PNG") : *message));
    }
}

}  // namespace b58::sim

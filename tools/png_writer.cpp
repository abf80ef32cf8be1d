// PNG through libpng, a row at a time: 1-bit line art, 8-bit grey, 24-bit or 48-bit colour,
// with the resolution in pHYs. The default zlib level 1 with the Sub filter costs a small
// part of the scan's time; higher levels (--png-level) make smaller files more slowly.
#include "image_writer.h"

#if defined(B58_HAVE_PNG)
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <vector>

namespace b58::tools {
namespace {

class PngWriter : public ImageWriter {
  public:
    PngWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings)
        : out_(std::move(out)), level_(settings.pngLevel) {}
    ~PngWriter() override { Destroy(); }

    bool Begin(const host::ImageFormat& format, std::string& error) override {
        format_ = format;
        blankLines_ = 0;
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        info_ = png_ ? png_create_info_struct(png_) : nullptr;
        if (info_ == nullptr) return Fail("out of memory", error);
        if (setjmp(png_jmpbuf(png_)) != 0) return Fail("PNG encoding failed", error);
        png_init_io(png_, out_->Get());
        png_set_compression_level(png_, level_);
        png_set_filter(png_, 0, level_ <= 3 ? PNG_FILTER_SUB : PNG_ALL_FILTERS);
        const bool colour = format.kind == host::PixelKind::Rgb24 || format.kind == host::PixelKind::Rgb48;
        const int depth = format.kind == host::PixelKind::Bilevel ? 1
                          : format.kind == host::PixelKind::Rgb48 ? 16
                                                                  : 8;
        png_set_IHDR(png_, info_, format.width, format.height, depth,
                     colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        const auto ppm = [](uint32_t dpi) { return static_cast<png_uint_32>(std::lround(dpi / 0.0254)); };
        png_set_pHYs(png_, info_, ppm(format.xDpi), ppm(format.yDpi), PNG_RESOLUTION_METER);
        png_write_info(png_, info_);
        row_.resize(host::RowBytes(format));
        return true;
    }

    bool WriteLine(const uint8_t* row, std::string& error) override {
        if (setjmp(png_jmpbuf(png_)) != 0) return Fail("cannot write " + out_->Path(), error);
        const size_t bytes = row_.size();
        if (format_.kind == host::PixelKind::Bilevel) {
            // PNG's 1-bit grey: 1 = white.
            BilevelOneIsBlack(row, bytes, format_.polarity, row_.data());
            for (uint8_t& b : row_) b = static_cast<uint8_t>(~b);
        } else if (format_.kind == host::PixelKind::Rgb48) {
            for (size_t i = 0; i + 1 < bytes; i += 2) {
                row_[i] = row[i + 1];
                row_[i + 1] = row[i];
            }
        } else {
            std::copy_n(row, bytes, row_.data());
        }
        png_write_row(png_, row_.data());
        return true;
    }

    bool End(uint32_t lines, std::string& error) override {
        if (setjmp(png_jmpbuf(png_)) != 0) return Fail("cannot write " + out_->Path(), error);
        if (lines < format_.height) {
            const std::vector<uint8_t> blank = WhiteRow(format_);
            for (uint32_t y = lines; y < format_.height; ++y) WriteLine(blank.data(), error);
            blankLines_ = format_.height - lines;
        }
        png_write_end(png_, nullptr);
        Destroy();
        if (std::ferror(out_->Get()) != 0) return Fail("cannot write " + out_->Path(), error);
        return true;
    }

    bool Close(std::string& error) override { return out_->Close(error); }

  private:
    bool Fail(const std::string& message, std::string& error) {
        error = message;
        Destroy();
        return false;
    }
    void Destroy() {
        if (png_ != nullptr) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
        png_ = nullptr;
        info_ = nullptr;
    }

    std::unique_ptr<OutputFile> out_;
    int level_;
    host::ImageFormat format_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    std::vector<uint8_t> row_;
};

}  // namespace

std::unique_ptr<ImageWriter> MakePngWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings) {
    return std::make_unique<PngWriter>(std::move(out), settings);
}

}  // namespace b58::tools

#else

namespace b58::tools {
std::unique_ptr<ImageWriter> MakePngWriter(std::unique_ptr<OutputFile>, const WriterSettings&) {
    return nullptr;
}
}  // namespace b58::tools

#endif

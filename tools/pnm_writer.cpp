// Netpbm: PBM for line art, PGM for grey, PPM for colour (maxval 65535, big-endian, for
// 48-bit). Several pages follow each other in one file, as Netpbm allows. In a file the
// height is written wide enough to be corrected when a scan ends early; on a pipe the
// missing lines are written white.
#include <cstdio>
#include <vector>

#include "image_writer.h"

namespace b58::tools {
namespace {

class PnmWriter : public ImageWriter {
  public:
    explicit PnmWriter(std::unique_ptr<OutputFile> out) : out_(std::move(out)) {}

    bool Begin(const host::ImageFormat& format, std::string& error) override {
        format_ = format;
        blankLines_ = 0;
        const char* magic = format.kind == host::PixelKind::Bilevel ? "P4"
                            : format.kind == host::PixelKind::Gray8 ? "P5"
                                                                    : "P6";
        std::fprintf(out_->Get(), "%s\n# %u dpi\n%u ", magic, format.xDpi, format.width);
        heightAt_ = std::ftell(out_->Get());
        std::fprintf(out_->Get(), "%10u\n", format.height);
        if (format.kind == host::PixelKind::Rgb48) {
            std::fputs("65535\n", out_->Get());
        } else if (format.kind != host::PixelKind::Bilevel) {
            std::fputs("255\n", out_->Get());
        }
        row_.resize(host::RowBytes(format));
        return Check(error);
    }

    bool WriteLine(const uint8_t* row, std::string& error) override {
        const size_t bytes = row_.size();
        if (format_.kind == host::PixelKind::Bilevel) {
            BilevelOneIsBlack(row, bytes, format_.polarity, row_.data());
        } else if (format_.kind == host::PixelKind::Rgb48) {
            for (size_t i = 0; i + 1 < bytes; i += 2) {
                row_[i] = row[i + 1];
                row_[i + 1] = row[i];
            }
        } else {
            std::fwrite(row, 1, bytes, out_->Get());
            return Check(error);
        }
        std::fwrite(row_.data(), 1, bytes, out_->Get());
        return Check(error);
    }

    bool End(uint32_t lines, std::string& error) override {
        if (lines >= format_.height) return Check(error);
        if (out_->Seekable()) {
            const long end = std::ftell(out_->Get());
            std::fseek(out_->Get(), heightAt_, SEEK_SET);
            std::fprintf(out_->Get(), "%10u", lines);
            std::fseek(out_->Get(), end, SEEK_SET);
            return Check(error);
        }
        const std::vector<uint8_t> blank = WhiteRow(format_);
        for (uint32_t y = lines; y < format_.height; ++y) WriteLine(blank.data(), error);
        blankLines_ = format_.height - lines;
        return Check(error);
    }

    bool Close(std::string& error) override { return out_->Close(error); }

  private:
    bool Check(std::string& error) {
        if (std::ferror(out_->Get()) == 0) return true;
        error = "cannot write " + out_->Path();
        return false;
    }

    std::unique_ptr<OutputFile> out_;
    host::ImageFormat format_;
    long heightAt_ = 0;
    std::vector<uint8_t> row_;
};

}  // namespace

std::unique_ptr<ImageWriter> MakePnmWriter(std::unique_ptr<OutputFile> out) {
    return std::make_unique<PnmWriter>(std::move(out));
}

}  // namespace b58::tools

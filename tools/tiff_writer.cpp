// TIFF through libtiff, a row at a time: CCITT Group 4 for line art, Deflate with the
// horizontal predictor for grey and colour, 16-bit samples for 48-bit colour, resolution
// tags, one directory per page. A scan that ends early leaves a shorter image, not a padded
// one. TIFF needs to seek: on a pipe the file is
// made in a temporary file and copied out at the end.
#include "image_writer.h"

#if defined(B58_HAVE_TIFF)
#include "tiff_stdio.h"

#include <cstring>
#include <vector>

namespace b58::tools {
namespace {

tsize_t ReadProc(thandle_t h, tdata_t data, tsize_t size) {
    return static_cast<tsize_t>(std::fread(data, 1, static_cast<size_t>(size), static_cast<FILE*>(h)));
}
tsize_t WriteProc(thandle_t h, tdata_t data, tsize_t size) {
    return static_cast<tsize_t>(std::fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(h)));
}
toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
    FILE* f = static_cast<FILE*>(h);
    if (std::fseek(f, static_cast<long>(offset), whence) != 0) return static_cast<toff_t>(-1);
    return static_cast<toff_t>(std::ftell(f));
}
int CloseProc(thandle_t) {
    return 0;  // the file belongs to the writer
}
toff_t SizeProc(thandle_t h) {
    FILE* f = static_cast<FILE*>(h);
    const long at = std::ftell(f);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, at, SEEK_SET);
    return static_cast<toff_t>(size);
}
int MapProc(thandle_t, tdata_t*, toff_t*) {
    return 0;
}
void UnmapProc(thandle_t, tdata_t, toff_t) {}

}  // namespace

TIFF* OpenTiffOnStream(FILE* file, const char* name) {
    return TIFFClientOpen(name, "w", file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                          UnmapProc);
}

namespace {

class TiffWriter : public ImageWriter {
  public:
    explicit TiffWriter(std::unique_ptr<OutputFile> out) : out_(std::move(out)) {}
    ~TiffWriter() override {
        if (tiff_ != nullptr) TIFFClose(tiff_);
        if (temporary_ != nullptr) std::fclose(temporary_);
    }

    bool Begin(const host::ImageFormat& format, std::string& error) override {
        if (tiff_ == nullptr) {
            FILE* target = out_->Get();
            if (!out_->Seekable()) target = temporary_ = std::tmpfile();
            if (target == nullptr) return Fail("cannot make a temporary file for the TIFF", error);
            tiff_ = OpenTiffOnStream(target, out_->Path().c_str());
            if (tiff_ == nullptr) return Fail("cannot write " + out_->Path(), error);
        }
        format_ = format;
        row_ = 0;
        const bool colour = format.kind == host::PixelKind::Rgb24 || format.kind == host::PixelKind::Rgb48;
        const bool bilevel = format.kind == host::PixelKind::Bilevel;
        TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, format.width);
        TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, format.height);
        TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE,
                     bilevel                                 ? 1
                     : format.kind == host::PixelKind::Rgb48 ? 16
                                                             : 8);
        TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, colour ? 3 : 1);
        TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC,
                     colour ? PHOTOMETRIC_RGB
                     : bilevel
                         ? (format.polarity == host::BilevelPolarity::OneIsBlack ? PHOTOMETRIC_MINISWHITE
                                                                                 : PHOTOMETRIC_MINISBLACK)
                         : PHOTOMETRIC_MINISBLACK);
        if (bilevel) {
            TIFFSetField(tiff_, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        } else {
            TIFFSetField(tiff_, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
            TIFFSetField(tiff_, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
            TIFFSetField(tiff_, TIFFTAG_ZIPQUALITY, 1);
        }
        TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, bilevel ? 256u : 32u);
        TIFFSetField(tiff_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tiff_, TIFFTAG_XRESOLUTION, static_cast<float>(format.xDpi));
        TIFFSetField(tiff_, TIFFTAG_YRESOLUTION, static_cast<float>(format.yDpi));
        TIFFSetField(tiff_, TIFFTAG_SOFTWARE, "b58scan");
        if (pages_ > 0) TIFFSetField(tiff_, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        samples_.resize(host::RowBytes(format));
        return true;
    }

    bool WriteLine(const uint8_t* row, std::string& error) override {
        const uint8_t* data = row;
        if (format_.kind == host::PixelKind::Rgb48) {
            // Little-endian samples to the machine's 16-bit order.
            auto* out = reinterpret_cast<uint16_t*>(samples_.data());
            for (size_t i = 0; i < samples_.size() / 2; ++i)
                out[i] = static_cast<uint16_t>(row[2 * i] | row[2 * i + 1] << 8);
            data = samples_.data();
        } else {
            std::memcpy(samples_.data(), row, samples_.size());  // libtiff may encode in place
            data = samples_.data();
        }
        if (TIFFWriteScanline(tiff_, const_cast<uint8_t*>(data), row_++, 0) < 0) {
            return Fail("cannot write " + out_->Path(), error);
        }
        return true;
    }

    bool End(uint32_t lines, std::string& error) override {
        ++pages_;
        // A scan that ended early: the image ends with its last line (the strips never
        // written stay listed, empty).
        if (lines < format_.height) TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, lines);
        if (!TIFFWriteDirectory(tiff_)) return Fail("cannot write " + out_->Path(), error);
        return true;
    }

    bool Close(std::string& error) override {
        if (tiff_ != nullptr) TIFFClose(tiff_);
        tiff_ = nullptr;
        if (temporary_ != nullptr) {
            std::rewind(temporary_);
            char buffer[65536];
            size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, temporary_)) > 0)
                std::fwrite(buffer, 1, n, out_->Get());
            std::fclose(temporary_);
            temporary_ = nullptr;
        }
        return out_->Close(error);
    }

  private:
    bool Fail(const std::string& message, std::string& error) {
        error = message;
        return false;
    }

    std::unique_ptr<OutputFile> out_;
    FILE* temporary_ = nullptr;
    TIFF* tiff_ = nullptr;
    host::ImageFormat format_;
    uint32_t row_ = 0, pages_ = 0;
    std::vector<uint8_t> samples_;
};

}  // namespace

std::unique_ptr<ImageWriter> MakeTiffWriter(std::unique_ptr<OutputFile> out) {
    return std::make_unique<TiffWriter>(std::move(out));
}

}  // namespace b58::tools

#else

namespace b58::tools {
std::unique_ptr<ImageWriter> MakeTiffWriter(std::unique_ptr<OutputFile>) {
    return nullptr;
}
}  // namespace b58::tools

#endif

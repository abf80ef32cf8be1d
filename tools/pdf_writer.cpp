// PDF, one page per scan: line art as a CCITT Group 4 image (encoded through libtiff),
// grey and colour as JPEG. The file is written as the scan goes; each page's dictionary
// and lengths follow its image, and the page tree and cross-reference table close the file.
#include "image_writer.h"

#if defined(B58_HAVE_TIFF) && defined(B58_HAVE_JPEG)
#include "tiff_stdio.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <vector>

#include "jpeg_encoder.h"

namespace b58::tools {
namespace {

// Line art into one Group 4 strip in a temporary TIFF; the strip's bytes are read back.
class G4Strip {
  public:
    ~G4Strip() {
        if (tiff_ != nullptr) TIFFClose(tiff_);
        if (file_ != nullptr) std::fclose(file_);
    }
    bool Start(const host::ImageFormat& format, std::string& error) {
        file_ = std::tmpfile();
        tiff_ = file_ ? OpenTiffOnStream(file_, "page") : nullptr;
        if (tiff_ == nullptr) {
            error = "cannot make a temporary file for the PDF page";
            return false;
        }
        format_ = format;
        TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, format.width);
        TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tiff_, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, std::max(1u, format.height));
        row_.resize(host::RowBytes(format));
        return true;
    }
    bool Row(const uint8_t* row) {
        BilevelOneIsBlack(row, row_.size(), format_.polarity, row_.data());
        return TIFFWriteScanline(tiff_, row_.data(), rows_++, 0) >= 0;
    }
    bool Finish(std::vector<uint8_t>& strip, uint32_t& rows) {
        rows = rows_;
        // The strip's data, not the directory, which would free the strip's offsets.
        if (!TIFFFlushData(tiff_)) return false;
        uint64_t* offsets = nullptr;
        uint64_t* counts = nullptr;
        if (!TIFFGetField(tiff_, TIFFTAG_STRIPOFFSETS, &offsets) ||
            !TIFFGetField(tiff_, TIFFTAG_STRIPBYTECOUNTS, &counts)) {
            return false;
        }
        strip.resize(static_cast<size_t>(counts[0]));
        const bool ok = std::fseek(file_, static_cast<long>(offsets[0]), SEEK_SET) == 0 &&
                        std::fread(strip.data(), 1, strip.size(), file_) == strip.size();
        TIFFClose(tiff_);
        tiff_ = nullptr;
        return ok;
    }

  private:
    FILE* file_ = nullptr;
    TIFF* tiff_ = nullptr;
    host::ImageFormat format_;
    std::vector<uint8_t> row_;
    uint32_t rows_ = 0;
};

class PdfWriter : public ImageWriter {
  public:
    PdfWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings)
        : out_(std::move(out)), quality_(settings.jpegQuality) {
        // A PDF's cross-reference table needs byte offsets: on a pipe the file is made in a
        // temporary file and copied out at the end.
        file_ = out_->Seekable() ? out_->Get() : std::tmpfile();
        if (file_ == nullptr) file_ = out_->Get();
        std::fputs("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", file_);
        offsets_.resize(3, 0);  // 1 catalog, 2 page tree: written at the end
    }

    bool Begin(const host::ImageFormat& format, std::string& error) override {
        format_ = format;
        blankLines_ = 0;
        rows_ = 0;
        if (format.kind == host::PixelKind::Bilevel) {
            g4_ = std::make_unique<G4Strip>();
            return g4_->Start(format, error);
        }
        // The JPEG goes straight into the image's stream; its length follows in an object.
        image_ = NewObject();
        length_ = static_cast<uint32_t>(offsets_.size());
        offsets_.push_back(0);
        const bool colour = format.kind != host::PixelKind::Gray8;
        Print(
            "<< /Type /XObject /Subtype /Image /Width %u /Height %u /ColorSpace /%s /BitsPerComponent 8"
            " /Filter /DCTDecode /Length %u 0 R >>\nstream\n",
            format.width, format.height, colour ? "DeviceRGB" : "DeviceGray", length_);
        streamStart_ = std::ftell(file_);
        return jpeg_.Start(file_, format, quality_, error);
    }

    bool WriteLine(const uint8_t* row, std::string& error) override {
        ++rows_;
        if (g4_) {
            if (g4_->Row(row)) return true;
            error = "cannot encode the PDF page";
            return false;
        }
        return jpeg_.Row(row, error);
    }

    bool End(uint32_t lines, std::string& error) override {
        uint32_t height = format_.height;
        if (g4_) {
            std::vector<uint8_t> strip;
            if (!g4_->Finish(strip, height)) {
                error = "cannot encode the PDF page";
                return false;
            }
            g4_.reset();
            image_ = NewObject();
            Print(
                "<< /Type /XObject /Subtype /Image /Width %u /Height %u /ColorSpace /DeviceGray"
                " /BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns %u /Rows %u"
                " /BlackIs1 true >> /Length %zu >>\nstream\n",
                format_.width, height, format_.width, height, strip.size());
            std::fwrite(strip.data(), 1, strip.size(), file_);
            std::fputs("\nendstream\nendobj\n", file_);
        } else {
            if (lines < format_.height) {
                const std::vector<uint8_t> blank = WhiteRow(format_);
                for (uint32_t y = lines; y < format_.height; ++y) {
                    if (!jpeg_.Row(blank.data(), error)) return false;
                }
                blankLines_ = format_.height - lines;
            }
            if (!jpeg_.Finish(error)) return false;
            const long length = std::ftell(file_) - streamStart_;
            std::fputs("\nendstream\nendobj\n", file_);
            offsets_[length_] = std::ftell(file_);
            Print("%u 0 obj\n%ld\nendobj\n", length_, length);
        }
        // The page: its size in points from the resolution, the image filling it.
        const double width = format_.width * 72.0 / format_.xDpi, heightPt = height * 72.0 / format_.yDpi;
        char content[160];
        const int contentLength =
            std::snprintf(content, sizeof content, "q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q\n", width, heightPt);
        const uint32_t contents = NewObject();
        Print("<< /Length %d >>\nstream\n%s\nendstream\nendobj\n", contentLength, content);
        pages_.push_back(NewObject());
        Print(
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.2f %.2f] /Contents %u 0 R"
            " /Resources << /XObject << /Im0 %u 0 R >> >> >>\nendobj\n",
            width, heightPt, contents, image_);
        if (std::ferror(file_) != 0) {
            error = "cannot write " + out_->Path();
            return false;
        }
        return true;
    }

    bool Close(std::string& error) override {
        offsets_[2] = std::ftell(file_);
        Print("2 0 obj\n<< /Type /Pages /Count %zu /Kids [", pages_.size());
        for (uint32_t page : pages_) Print(" %u 0 R", page);
        std::fputs(" ] >>\nendobj\n", file_);
        offsets_[1] = std::ftell(file_);
        std::fputs("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n", file_);
        const long xref = std::ftell(file_);
        Print("xref\n0 %zu\n0000000000 65535 f \n", offsets_.size());
        for (size_t i = 1; i < offsets_.size(); ++i) Print("%010ld 00000 n \n", offsets_[i]);
        Print("trailer\n<< /Size %zu /Root 1 0 R >>\nstartxref\n%ld\n%%%%EOF\n", offsets_.size(), xref);
        if (file_ != out_->Get()) {
            std::rewind(file_);
            char buffer[65536];
            size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
                std::fwrite(buffer, 1, n, out_->Get());
            std::fclose(file_);
            file_ = out_->Get();
        }
        return out_->Close(error);
    }

  private:
    __attribute__((format(printf, 2, 3))) void Print(const char* format, ...) {
        va_list arguments;
        va_start(arguments, format);
        std::vfprintf(file_, format, arguments);
        va_end(arguments);
    }
    // Starts the next object here; returns its number.
    uint32_t NewObject() {
        const uint32_t number = static_cast<uint32_t>(offsets_.size());
        offsets_.push_back(std::ftell(file_));
        Print("%u 0 obj\n", number);
        return number;
    }

    std::unique_ptr<OutputFile> out_;
    FILE* file_ = nullptr;
    int quality_;
    host::ImageFormat format_;
    JpegEncoder jpeg_;
    std::unique_ptr<G4Strip> g4_;
    std::vector<long> offsets_;  // by object number; 0 unused
    std::vector<uint32_t> pages_;
    uint32_t image_ = 0, length_ = 0, rows_ = 0;
    long streamStart_ = 0;
};

}  // namespace

std::unique_ptr<ImageWriter> MakePdfWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings) {
    return std::make_unique<PdfWriter>(std::move(out), settings);
}

}  // namespace b58::tools

#else

namespace b58::tools {
std::unique_ptr<ImageWriter> MakePdfWriter(std::unique_ptr<OutputFile>, const WriterSettings&) {
    return nullptr;
}
}  // namespace b58::tools

#endif

#include "jpeg_encoder.h"

#include "image_writer.h"

#if defined(B58_HAVE_JPEG)
#include <jpeglib.h>

#include <csetjmp>
#include <vector>

namespace b58::tools {
namespace {

// libjpeg's own handler ends the process; this one returns to the call that failed.
struct ErrorManager {
    jpeg_error_mgr pub;  // first: libjpeg hands back its address
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnJpegError(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

}  // namespace

struct JpegEncoder::State {
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    bool created = false;
    host::ImageFormat format;
    std::vector<uint8_t> row;
};

JpegEncoder::JpegEncoder() : state_(std::make_unique<State>()) {}

JpegEncoder::~JpegEncoder() {
    if (state_->created) jpeg_destroy_compress(&state_->cinfo);
}

bool JpegEncoder::Start(FILE* out, const host::ImageFormat& format, int quality, std::string& error) {
    State& s = *state_;
    s.format = format;
    s.cinfo.err = jpeg_std_error(&s.errors.pub);
    s.errors.pub.error_exit = OnJpegError;
    if (setjmp(s.errors.jump) != 0) {
        error = std::string("JPEG encoding failed: ") + s.errors.message;
        return false;
    }
    if (!s.created) {
        jpeg_create_compress(&s.cinfo);
        s.created = true;
    }
    jpeg_stdio_dest(&s.cinfo, out);
    const bool colour = format.kind == host::PixelKind::Rgb24 || format.kind == host::PixelKind::Rgb48;
    s.cinfo.image_width = format.width;
    s.cinfo.image_height = format.height;
    s.cinfo.input_components = colour ? 3 : 1;
    s.cinfo.in_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&s.cinfo);
    jpeg_set_quality(&s.cinfo, quality, TRUE);
    s.cinfo.density_unit = 1;  // dots per inch
    s.cinfo.X_density = static_cast<UINT16>(format.xDpi);
    s.cinfo.Y_density = static_cast<UINT16>(format.yDpi);
    s.cinfo.write_JFIF_header = TRUE;
    jpeg_start_compress(&s.cinfo, TRUE);
    s.row.resize(size_t{format.width} * (colour ? 3 : 1));
    return true;
}

bool JpegEncoder::Row(const uint8_t* row, std::string& error) {
    State& s = *state_;
    if (setjmp(s.errors.jump) != 0) {
        error = std::string("JPEG encoding failed: ") + s.errors.message;
        return false;
    }
    const uint8_t* samples = row;
    if (s.format.kind == host::PixelKind::Bilevel) {
        ExpandBilevel(row, s.format.width, s.format.polarity, s.row.data());
        samples = s.row.data();
    } else if (s.format.kind == host::PixelKind::Rgb48) {
        HighBytes(row, s.row.size(), s.row.data());
        samples = s.row.data();
    }
    JSAMPROW rows[1] = {const_cast<JSAMPROW>(samples)};
    jpeg_write_scanlines(&s.cinfo, rows, 1);
    return true;
}

bool JpegEncoder::Finish(std::string& error) {
    State& s = *state_;
    if (setjmp(s.errors.jump) != 0) {
        error = std::string("JPEG encoding failed: ") + s.errors.message;
        return false;
    }
    jpeg_finish_compress(&s.cinfo);
    return true;
}

namespace {

class JpegWriter : public ImageWriter {
  public:
    JpegWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings)
        : out_(std::move(out)), quality_(settings.jpegQuality) {}

    bool Begin(const host::ImageFormat& format, std::string& error) override {
        format_ = format;
        blankLines_ = 0;
        return encoder_.Start(out_->Get(), format, quality_, error);
    }
    bool WriteLine(const uint8_t* row, std::string& error) override { return encoder_.Row(row, error); }
    bool End(uint32_t lines, std::string& error) override {
        // The height is in the header: a scan that ended early is completed in white.
        if (lines < format_.height) {
            const std::vector<uint8_t> blank = WhiteRow(format_);
            for (uint32_t y = lines; y < format_.height; ++y) {
                if (!encoder_.Row(blank.data(), error)) return false;
            }
            blankLines_ = format_.height - lines;
        }
        return encoder_.Finish(error);
    }
    bool Close(std::string& error) override { return out_->Close(error); }

  private:
    std::unique_ptr<OutputFile> out_;
    int quality_;
    host::ImageFormat format_;
    JpegEncoder encoder_;
};

}  // namespace

std::unique_ptr<ImageWriter> MakeJpegWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings) {
    return std::make_unique<JpegWriter>(std::move(out), settings);
}

}  // namespace b58::tools

#else

namespace b58::tools {
struct JpegEncoder::State {};
JpegEncoder::JpegEncoder() = default;
JpegEncoder::~JpegEncoder() = default;
bool JpegEncoder::Start(FILE*, const host::ImageFormat&, int, std::string& error) {
    error = "built without libjpeg";
    return false;
}
bool JpegEncoder::Row(const uint8_t*, std::string&) {
    return false;
}
bool JpegEncoder::Finish(std::string&) {
    return false;
}
std::unique_ptr<ImageWriter> MakeJpegWriter(std::unique_ptr<OutputFile>, const WriterSettings&) {
    return nullptr;
}
}  // namespace b58::tools

#endif

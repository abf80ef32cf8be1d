#include "image_writer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace b58::tools {

const char* FormatName(FileFormat format) {
    switch (format) {
        case FileFormat::Pnm:
            return "pnm";
        case FileFormat::Png:
            return "png";
        case FileFormat::Tiff:
            return "tiff";
        case FileFormat::Jpeg:
            return "jpeg";
        case FileFormat::Pdf:
            return "pdf";
    }
    return "";
}

bool ParseFormat(const std::string& name, FileFormat& format) {
    std::string n = name;
    std::transform(n.begin(), n.end(), n.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (n == "pnm" || n == "pbm" || n == "pgm" || n == "ppm") {
        format = FileFormat::Pnm;
    } else if (n == "png") {
        format = FileFormat::Png;
    } else if (n == "tif" || n == "tiff") {
        format = FileFormat::Tiff;
    } else if (n == "jpg" || n == "jpeg") {
        format = FileFormat::Jpeg;
    } else if (n == "pdf") {
        format = FileFormat::Pdf;
    } else {
        return false;
    }
    return true;
}

bool FormatForPath(const std::string& path, FileFormat& format) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return false;
    return ParseFormat(path.substr(dot + 1), format);
}

bool FormatAvailable(FileFormat format) {
    switch (format) {
        case FileFormat::Pnm:
            return true;
        case FileFormat::Png:
#if defined(B58_HAVE_PNG)
            return true;
#else
            return false;
#endif
        case FileFormat::Tiff:
#if defined(B58_HAVE_TIFF)
            return true;
#else
            return false;
#endif
        case FileFormat::Jpeg:
#if defined(B58_HAVE_JPEG)
            return true;
#else
            return false;
#endif
        case FileFormat::Pdf:
#if defined(B58_HAVE_TIFF) && defined(B58_HAVE_JPEG)
            return true;
#else
            return false;
#endif
    }
    return false;
}

bool FormatHoldsPages(FileFormat format) {
    return format == FileFormat::Tiff || format == FileFormat::Pdf || format == FileFormat::Pnm;
}

bool OutputFile::Open(const std::string& path, std::string& error) {
    path_ = path;
    if (path == "-") {
#if defined(_WIN32)
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        file_ = stdout;
        path_ = "standard output";
    } else {
        file_ = std::fopen(path.c_str(), "wb+");
        if (file_ == nullptr) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        owned_ = true;
    }
    seekable_ = std::fseek(file_, 0, SEEK_CUR) == 0 && owned_;
    return true;
}

bool OutputFile::Close(std::string& error) {
    if (file_ == nullptr) return true;
    bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    if (owned_) ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) error = "cannot write " + path_ + ": " + std::strerror(errno);
    return ok;
}

OutputFile::~OutputFile() {
    std::string ignored;
    Close(ignored);
}

std::unique_ptr<ImageWriter> OpenImageWriter(FileFormat format, const std::string& path,
                                             const WriterSettings& settings, std::string& error) {
    if (!FormatAvailable(format)) {
        error = std::string("this build of b58scan cannot write ") + FormatName(format) +
                " (it was built without the library for it); write PNM instead";
        return nullptr;
    }
    auto out = std::make_unique<OutputFile>();
    if (!out->Open(path, error)) return nullptr;
    switch (format) {
        case FileFormat::Pnm:
            return MakePnmWriter(std::move(out));
        case FileFormat::Png:
            return MakePngWriter(std::move(out), settings);
        case FileFormat::Tiff:
            return MakeTiffWriter(std::move(out));
        case FileFormat::Jpeg:
            return MakeJpegWriter(std::move(out), settings);
        case FileFormat::Pdf:
            return MakePdfWriter(std::move(out), settings);
    }
    return nullptr;
}

void BilevelOneIsBlack(const uint8_t* row, size_t bytes, host::BilevelPolarity polarity, uint8_t* out) {
    if (polarity == host::BilevelPolarity::OneIsBlack) {
        std::memcpy(out, row, bytes);
    } else {
        for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(~row[i]);
    }
}

void ExpandBilevel(const uint8_t* row, uint32_t width, host::BilevelPolarity polarity, uint8_t* out) {
    const bool oneIsWhite = polarity == host::BilevelPolarity::OneIsWhite;
    for (uint32_t x = 0; x < width; ++x) {
        const bool one = ((row[x >> 3] >> (7 - (x & 7))) & 1) != 0;
        out[x] = one == oneIsWhite ? 255 : 0;
    }
}

std::vector<uint8_t> WhiteRow(const host::ImageFormat& format) {
    const bool zeroIsWhite =
        format.kind == host::PixelKind::Bilevel && format.polarity == host::BilevelPolarity::OneIsBlack;
    return std::vector<uint8_t>(host::RowBytes(format), zeroIsWhite ? 0 : 0xFF);
}

void HighBytes(const uint8_t* row, size_t samples, uint8_t* out) {
    for (size_t i = 0; i < samples; ++i) out[i] = row[2 * i + 1];
}

}  // namespace b58::tools

// The image files b58scan writes, line by line as the scan delivers them: each writer is a
// line sink over one output file (or standard output) and takes one page, or several for
// the formats that hold several (TIFF, PDF, PNM).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "line_sink.h"

namespace b58::tools {

enum class FileFormat { Pnm, Png, Tiff, Jpeg, Pdf };

// "pnm", "png", "tiff", "jpeg", "pdf".
const char* FormatName(FileFormat format);
// A --format value (also "tif", "jpg", "pbm", "pgm", "ppm"); false when unknown.
bool ParseFormat(const std::string& name, FileFormat& format);
// The format a file name's extension names; false when it names none.
bool FormatForPath(const std::string& path, FileFormat& format);
// Whether this build links the library the format needs.
bool FormatAvailable(FileFormat format);
bool FormatHoldsPages(FileFormat format);

struct WriterSettings {
    int pngLevel = 1;      // zlib level; 1 with a fixed filter keeps up with the scanner
    int jpegQuality = 85;  // also for the images inside a PDF
};

class ImageWriter : public host::LineSink {
  public:
    // Finishes the file (a PDF's page tree, a TIFF's last directory); false with a message.
    virtual bool Close(std::string& error) = 0;
    // Lines of the last page that were not scanned but written blank, because the format
    // fixes the height before the first line (PNG, JPEG, PNM on a pipe).
    uint32_t BlankLines() const { return blankLines_; }

  protected:
    uint32_t blankLines_ = 0;
};

// The file to write: `path`, or standard output for "-".
class OutputFile {
  public:
    bool Open(const std::string& path, std::string& error);
    ~OutputFile();
    FILE* Get() const { return file_; }
    bool Seekable() const { return seekable_; }
    // Closes (a no-op for standard output but for flushing); false when writing failed.
    bool Close(std::string& error);
    const std::string& Path() const { return path_; }

  private:
    FILE* file_ = nullptr;
    bool owned_ = false, seekable_ = false;
    std::string path_;
};

// A writer for `format` into `path` ("-": standard output). Null with a message when the
// file cannot be made or the format is not in this build.
std::unique_ptr<ImageWriter> OpenImageWriter(FileFormat format, const std::string& path,
                                             const WriterSettings& settings, std::string& error);

// Per-format writers (image_writer.cpp chooses among them).
std::unique_ptr<ImageWriter> MakePnmWriter(std::unique_ptr<OutputFile> out);
std::unique_ptr<ImageWriter> MakePngWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings);
std::unique_ptr<ImageWriter> MakeTiffWriter(std::unique_ptr<OutputFile> out);
std::unique_ptr<ImageWriter> MakeJpegWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings);
std::unique_ptr<ImageWriter> MakePdfWriter(std::unique_ptr<OutputFile> out, const WriterSettings& settings);

// Row conversions the writers share.
// Line art with 1 = black from a row of either polarity.
void BilevelOneIsBlack(const uint8_t* row, size_t bytes, host::BilevelPolarity polarity, uint8_t* out);
// 8-bit grey (0 black, 255 white) from line art, or 8-bit samples from 16-bit ones.
void ExpandBilevel(const uint8_t* row, uint32_t width, host::BilevelPolarity polarity, uint8_t* out);
void HighBytes(const uint8_t* row, size_t samples, uint8_t* out);
// A white row of the format, for the lines a cancelled scan did not deliver.
std::vector<uint8_t> WhiteRow(const host::ImageFormat& format);

}  // namespace b58::tools

// A baseline TIFF, little-endian and uncompressed: the header, the pixel rows as one strip,
// then the image file directory and the values that do not fit in it.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "scanned_image.h"

namespace b58::tools {
namespace {

enum TiffType : uint16_t { kShort = 3, kLong = 4, kRational = 5 };

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;  // the value itself (short or long) or the offset of the values
};

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

}  // namespace

bool WriteTiff(const ScannedImage& image, const std::string& path, std::string& error) {
    const uint64_t dataBytes = uint64_t{image.RowBytes()} * image.height;
    if (dataBytes > 0xF0000000u) {
        error = "image too large for a TIFF file";
        return false;
    }
    const bool colour = image.kind == PixelKind::Rgb24 || image.kind == PixelKind::Rgb48;
    const uint16_t samples = colour ? 3 : 1;
    const uint16_t bits = image.kind == PixelKind::Bilevel ? 1 : image.kind == PixelKind::Rgb48 ? 16 : 8;

    // Header, strip, then the directory on a word boundary, then its outside values.
    const uint32_t stripOffset = 8;
    const uint32_t ifdOffset = static_cast<uint32_t>((stripOffset + dataBytes + 1) & ~uint64_t{1});
    constexpr uint16_t kEntries = 13;
    const uint32_t valuesOffset = ifdOffset + 2 + kEntries * 12 + 4;
    const uint32_t bitsOffset = valuesOffset;              // 3 shorts, padded to 8 bytes
    const uint32_t xResolutionOffset = valuesOffset + 8;   // rational
    const uint32_t yResolutionOffset = valuesOffset + 16;  // rational
    const uint32_t height = image.height;

    const Entry entries[kEntries] = {
        {256, kLong, 1, image.width},
        {257, kLong, 1, height},
        {258, kShort, samples, samples == 1 ? bits : bitsOffset},
        {259, kShort, 1, 1},                 // no compression
        {262, kShort, 1, colour ? 2u : 1u},  // RGB, or black is zero
        {273, kLong, 1, stripOffset},
        {277, kShort, 1, samples},
        {278, kLong, 1, height},
        {279, kLong, 1, static_cast<uint32_t>(dataBytes)},
        {282, kRational, 1, xResolutionOffset},
        {283, kRational, 1, yResolutionOffset},
        {284, kShort, 1, 1},  // samples of a pixel together
        {296, kShort, 1, 2},  // per inch
    };

    std::vector<uint8_t> head{'I', 'I'};
    Put16(head, 42);
    Put32(head, ifdOffset);

    std::vector<uint8_t> tail;
    if ((stripOffset + dataBytes) % 2 != 0) tail.push_back(0);
    Put16(tail, kEntries);
    for (const Entry& e : entries) {
        Put16(tail, e.tag);
        Put16(tail, e.type);
        Put32(tail, e.count);
        if (e.type == kShort && e.count == 1) {
            Put16(tail, static_cast<uint16_t>(e.value));
            Put16(tail, 0);
        } else {
            Put32(tail, e.value);
        }
    }
    Put32(tail, 0);  // no further directory
    for (int i = 0; i < 3; ++i) Put16(tail, bits);
    Put16(tail, 0);
    Put32(tail, image.xDpi ? image.xDpi : 72);
    Put32(tail, 1);
    Put32(tail, image.yDpi ? image.yDpi : 72);
    Put32(tail, 1);

    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) {
        error = "cannot create '" + path + "'";
        return false;
    }
    bool ok = std::fwrite(head.data(), 1, head.size(), file.get()) == head.size();
    if (ok && dataBytes) ok = std::fwrite(image.pixels.data(), 1, dataBytes, file.get()) == dataBytes;
    if (ok) ok = std::fwrite(tail.data(), 1, tail.size(), file.get()) == tail.size();
    if (std::fclose(file.release()) != 0) ok = false;
    if (!ok) error = "cannot write '" + path + "'";
    return ok;
}

}  // namespace b58::tools

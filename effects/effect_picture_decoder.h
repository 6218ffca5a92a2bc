#pragma once
// A frame-sized PNG picture of 8-bit RGB or RGBA decoded in our own process.
// A PNG's samples are fixed by the file, so any decoder that reads it
// without fault gives the ones the picture tool's decoder gives; this one
// takes the common form only (no interlace, no transparent colour) and
// says so for anything else, so the caller can leave that picture to the
// tool. It inflates the whole image at once with libdeflate.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/plane_memory.h"

struct libdeflate_decompressor;

namespace rk {

// What every PNG begins with: its signature, then its header chunk (length
// 13, "IHDR", width, height, depth, colour type, compression, filter,
// interlace), in the first kPngHeadBytes bytes.
struct PngHeader {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colourType = 0, compression = 0, filter = 0, interlace = 0;
};
constexpr size_t kPngHeadBytes = 29;
// False when `bytes` (of `size`) do not begin so.
bool ReadPngHeader(const uint8_t* bytes, size_t size, PngHeader& header);

class CFramePngDecoder {
public:
    CFramePngDecoder();
    ~CFramePngDecoder();
    CFramePngDecoder(const CFramePngDecoder&) = delete;
    CFramePngDecoder& operator=(const CFramePngDecoder&) = delete;

    // Decodes `path`, which must hold a `width` x `height` picture. False,
    // with `why` set, when the file cannot be read, is not of that form or
    // does not decode without fault; the pixels are then undefined.
    bool Decode(const std::string& path, int width, int height, std::string& why);
    // After a Decode that succeeded: 4 bytes a pixel (R, G, B, alpha) or 3
    // (R, G, B), rows packed and the picture on a 64-byte boundary.
    bool HasAlpha() const { return channels_ == 4; }
    const uint8_t* Pixels() const { return pixels_.Data(); }
    size_t RowBytes() const { return rowBytes_; }

private:
    bool Inflate(const uint8_t* stream, size_t streamBytes, int width, int height, int channels, std::string& why);

    libdeflate_decompressor* inflater_ = nullptr;
    std::vector<uint8_t> file_;      // the whole file, then its image data joined
    std::vector<uint8_t> filtered_;  // each row's filter byte, then its bytes
    std::vector<uint8_t> zeros_;     // the row above the first
    CPlaneMemory pixels_;
    size_t pixelBytes_ = 0;
    size_t rowBytes_ = 0;
    int channels_ = 0;
};

}  // namespace rk

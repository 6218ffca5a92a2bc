#include "effects/effect_picture_decoder.h"

#include <libdeflate.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/fd_io.h"
#include "base/safe_open.h"
#include "codec/kvq1_format.h"

namespace rk {

namespace {

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

#if !defined(__SSE2__)
int PaethOf(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

#endif

// One row's filter undone: `in` the filtered bytes, `prev` the row above as
// decoded (zeros above the first), `out` this row. Sub, average and Paeth
// depend on the pixel to the left, so they go a pixel at a time.
template <int bpp>
void UnfilterPixels(uint8_t filter, const uint8_t* in, const uint8_t* prev, uint8_t* out, size_t bytes) {
#if defined(__SSE2__)
    auto load = [](const uint8_t* p) {
        uint32_t v = 0;
        std::memcpy(&v, p, bpp);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
    };
    auto store = [](uint8_t* p, __m128i v) {
        const uint32_t w = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
        std::memcpy(p, &w, bpp);
    };
    // Sixteen-bit lanes; the sums wrap in their low bytes (byte adds carry
    // nothing into the high ones, which stay zero).
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero, c = zero;
    for (size_t x = 0; x < bytes; x += bpp) {
        const __m128i d = load(in + x);
        __m128i b = zero, add;
        if (filter == kSub) {
            add = a;
        } else {
            b = load(prev + x);
            if (filter == kAverage) {
                add = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
            } else {
                const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
                const __m128i abc = _mm_add_epi16(bc, ac);
                const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
                const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
                const __m128i pc = _mm_max_epi16(abc, _mm_sub_epi16(zero, abc));
                const __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
                const __m128i isA = _mm_cmpeq_epi16(least, pa), isB = _mm_cmpeq_epi16(least, pb);
                const __m128i bOrC = _mm_or_si128(_mm_and_si128(isB, b), _mm_andnot_si128(isB, c));
                add = _mm_or_si128(_mm_and_si128(isA, a), _mm_andnot_si128(isA, bOrC));
            }
        }
        a = _mm_and_si128(_mm_add_epi8(d, add), _mm_set1_epi16(0xff));
        c = b;
        store(out + x, a);
    }
#else
    for (size_t x = 0; x < bytes; ++x) {
        const int a = x >= bpp ? out[x - bpp] : 0;
        const int b = filter == kSub ? 0 : prev[x];
        const int c = x >= bpp && filter != kSub ? prev[x - bpp] : 0;
        const int add = filter == kSub ? a : filter == kAverage ? (a + b) >> 1 : PaethOf(a, b, c);
        out[x] = uint8_t(in[x] + add);
    }
#endif
}

bool Unfilter(uint8_t filter, int bpp, const uint8_t* in, const uint8_t* prev, uint8_t* out, size_t bytes) {
    switch (filter) {
    case kNone:
        std::memcpy(out, in, bytes);
        return true;
    case kUp:
        for (size_t x = 0; x < bytes; ++x) out[x] = uint8_t(in[x] + prev[x]);
        return true;
    case kSub:
    case kAverage:
    case kPaeth:
        if (bpp == 4) UnfilterPixels<4>(filter, in, prev, out, bytes);
        else UnfilterPixels<3>(filter, in, prev, out, bytes);
        return true;
    default:
        return false;
    }
}

}  // namespace

bool ReadPngHeader(const uint8_t* bytes, size_t size, PngHeader& header) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size < kPngHeadBytes || std::memcmp(bytes, kSignature, 8) != 0 || ReadBE32(bytes + 8) != 13 ||
        std::memcmp(bytes + 12, "IHDR", 4) != 0)
        return false;
    const uint8_t* data = bytes + 16;
    header.width = ReadBE32(data);
    header.height = ReadBE32(data + 4);
    header.depth = data[8];
    header.colourType = data[9];
    header.compression = data[10];
    header.filter = data[11];
    header.interlace = data[12];
    return true;
}

CFramePngDecoder::CFramePngDecoder() : inflater_(libdeflate_alloc_decompressor()) {}

CFramePngDecoder::~CFramePngDecoder() {
    if (inflater_) libdeflate_free_decompressor(inflater_);
}

bool CFramePngDecoder::Decode(const std::string& path, int width, int height, std::string& why) {
    channels_ = 0;
    if (!inflater_) {
        why = "out of memory";
        return false;
    }
    {
        CFileHandle file(OpenInputFile(path, &why));
        if (file.fd < 0) return false;
        struct stat st {};
        // A frame-sized picture's data is at most some 8 MB however badly it
        // is packed; a file far larger (a huge metadata chunk, or not a
        // picture at all) is left to the tool rather than read whole into
        // each decoder's memory.
        if (::fstat(file.fd, &st) != 0 || st.st_size < 8 + 25 || st.st_size > (int64_t(64) << 20)) {
            why = "not a picture of the form read here";
            return false;
        }
        file_.resize(size_t(st.st_size));
        if (ReadWholeAt(file.fd, 0, file_.data(), file_.size()) != 1) {
            why = "cannot be read whole";
            return false;
        }
    }
    const uint8_t* f = file_.data();
    const size_t size = file_.size();
    PngHeader h;
    if (!ReadPngHeader(f, size, h)) {
        why = "not a PNG picture with its header first";
        return false;
    }
    if (h.width != uint32_t(width) || h.height != uint32_t(height) || h.depth != 8 ||
        (h.colourType != 2 && h.colourType != 6) || h.compression != 0 || h.filter != 0 || h.interlace != 0) {
        why = "not an 8-bit RGB or RGBA picture of the frame's size without interlace";
        return false;
    }
    const int channels = h.colourType == 6 ? 4 : 3;
    // The chunks after the header: the image data joined in order, the
    // end; ancillary chunks do not change the samples. A transparent
    // colour (which the tool turns into an alpha) or a critical chunk
    // this reader does not know is left to the tool.
    // The image data is gathered at the front of the file's own buffer:
    // it only ever moves towards the front, over chunks already read.
    uint8_t* stream = file_.data();
    size_t streamBytes = 0;
    for (size_t at = kPngHeadBytes + 4; at + 12 <= size;) {
        const uint32_t length = ReadBE32(f + at);
        const uint8_t* type = f + at + 4;
        const uint8_t* data = f + at + 8;
        if (length > size - at - 12) {
            why = "a chunk runs past the end of the file";
            return false;
        }
        if (std::memcmp(type, "IDAT", 4) == 0) {
            std::memmove(stream + streamBytes, data, length);
            streamBytes += length;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        } else if (std::memcmp(type, "tRNS", 4) == 0 || ((type[0] & 0x20) == 0 && std::memcmp(type, "PLTE", 4) != 0)) {
            why = "a chunk read here only by the tool";
            return false;
        }
        at += 12 + size_t(length);
    }
    if (streamBytes == 0) {
        why = "no image data";
        return false;
    }
    if (!Inflate(stream, streamBytes, width, height, channels, why)) return false;
    channels_ = channels;
    return true;
}

bool CFramePngDecoder::Inflate(const uint8_t* stream, size_t streamBytes, int width, int height, int channels,
                               std::string& why) {
    rowBytes_ = size_t(width) * size_t(channels);
    const size_t rows = size_t(height);
    const size_t filteredBytes = rows * (1 + rowBytes_);
    filtered_.resize(filteredBytes);
    size_t got = 0;
    if (libdeflate_zlib_decompress(inflater_, stream, streamBytes, filtered_.data(), filteredBytes, &got) !=
            LIBDEFLATE_SUCCESS ||
        got != filteredBytes) {
        why = "its image data does not inflate to the picture";
        return false;
    }
    if (rows * rowBytes_ > pixelBytes_) {
        if (!pixels_.Allocate(rows * rowBytes_)) {
            why = "out of memory";
            return false;
        }
        pixelBytes_ = rows * rowBytes_;
    }
    zeros_.assign(rowBytes_, 0);
    const uint8_t* prev = zeros_.data();
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* in = filtered_.data() + y * (1 + rowBytes_);
        uint8_t* out = pixels_.Data() + y * rowBytes_;
        if (!Unfilter(in[0], channels, in + 1, prev, out, rowBytes_)) {
            why = "a row of an unknown filter";
            return false;
        }
        prev = out;
    }
    return true;
}

}  // namespace rk

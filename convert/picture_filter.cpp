#include "convert/picture_filter.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "codec/transforms.h"
#include "convert/ini_parser.h"
#include "convert/tool_timing.h"

namespace rk {

namespace {

// ffmpeg's scaler expands limited range in its 15-bit intermediate (a
// sample v arrives as v << 7), then rounds back to 8 bits:
//   luma:   ((min(v << 7, 30189) x 19077 - 39057361) >> 14 + 64) >> 7
//   chroma: ((min(v << 7, 30775) x 4663 - 9289992) >> 12 + 64) >> 7
// clipped to 0..255, the shifts of negative values rounding down. These are
// the constants of the ffmpeg we bundle; the picture filter test runs the
// scaler's chain through it and wants the same bytes as ours, so a tool
// whose scaler rounds otherwise is caught by the tests, not by an operator.
int ScalerLuma(int v) {
    const int t = v * 128 < 30189 ? v * 128 : 30189;
    const int r = (((t * 19077 - 39057361) >> 14) + 64) >> 7;
    return r < 0 ? 0 : r > 255 ? 255 : r;
}
int ScalerChroma(int v) {
    const int t = v * 128 < 30775 ? v * 128 : 30775;
    const int r = (((t * 4663 - 9289992) >> 12) + 64) >> 7;
    return r < 0 ? 0 : r > 255 ? 255 : r;
}

// The same values, clipped to 0..255, as (v x A + C x B) >> S: the minimum
// only matters where the result clips anyway, and the two roundings merge
// into one shift. A, B and C fit 16 bits, so one multiply-add of the pairs
// (v, C) and (A, B) gives the sum in 32 bits. ExpandToFullRange is checked
// against the scaler's arithmetic for every value.
struct Expansion {
    int16_t a, b, c;
    int shift;
};
constexpr Expansion kLumaExpansion = {2385, -18587, 2, 11};    // (2385 v - 37174) >> 11
constexpr Expansion kChromaExpansion = {4663, -17632, 4, 12};  // (4663 v - 70528) >> 12

#if defined(__SSE2__)
// Sixteen samples: widened to 16 bits, paired with C, multiplied and added
// with (A, B), shifted, and narrowed back with saturation to 0..255.
inline __m128i Expand16(__m128i bytes, __m128i ab, __m128i c, __m128i shift) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_unpacklo_epi8(bytes, zero), hi = _mm_unpackhi_epi8(bytes, zero);
    const __m128i s0 = _mm_sra_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(lo, c), ab), shift);
    const __m128i s1 = _mm_sra_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(lo, c), ab), shift);
    const __m128i s2 = _mm_sra_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(hi, c), ab), shift);
    const __m128i s3 = _mm_sra_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(hi, c), ab), shift);
    return _mm_packus_epi16(_mm_packs_epi32(s0, s1), _mm_packs_epi32(s2, s3));
}
#endif

// Deinterlacing comes first, while the fields are still the source's own
// lines at the source's own rate: one picture per field, in the order they
// were taken, and only for frames the decoder marks as interlaced, so a
// progressive picture passes untouched. The rate conversion then sees the
// field rate; the scaler never mixes the lines of two fields.
constexpr const char* kDeinterlace = "yadif=mode=send_field:deint=interlaced,";

// zimg's steps to `width` x `height` yuv420p with BT.709 coefficients, from
// RGB or (with `bt601`) from BT.601 Y'CbCr; the source's own range is read
// from each picture. Spline36 keeps the sharpness of the scaler's bicubic
// without its ringing; no dither, so a flat colour stays flat.
std::string ZimgSteps(int width, int height, bool bt601, bool limitedRange) {
    std::string f = "zscale=w=" + std::to_string(width) + ":h=" + std::to_string(height) + ":filter=spline36:";
    if (bt601) f += "matrixin=170m:";
    f += limitedRange ? "matrix=709:range=limited" : "matrix=709:range=full";
    return f + ",format=yuv420p";
}

// `limitedIn`: the pictures are limited range already and are to stay so.
// The scaler is then told their range too, and hands them on as they are;
// told only the range wanted, it copies every picture into a new one.
std::string Chain(int width, int height, int frameRateCode, const char* outRange, bool deinterlace,
                  bool limitedIn = false) {
    std::string f = deinterlace ? kDeinterlace : "";
    f += "fps=";
    f += RateText(frameRateCode);
    f += ",scale=" + std::to_string(width) + ":" + std::to_string(height) + ":";
    if (limitedIn) f += "in_range=tv:";
    f += "out_range=";
    f += outRange;
    return f;
}

int FrameWidth(int sizeClass) { return sizeClass == 2 ? 3840 : 1920; }
int FrameHeight(int sizeClass) { return sizeClass == 2 ? 2160 : 1080; }

// Pixel formats whose pictures are RGB (grey and palettes too), by the
// beginning of ffmpeg's name; everything else is Y'CbCr.
bool IsRgbLayout(const std::string& format) {
    static const char* const kPrefixes[] = {"rgb", "bgr", "argb", "abgr", "0rgb", "0bgr", "x2rgb", "x2bgr",
                                            "gbr", "gray", "ya",  "pal",  "mono"};
    for (const char* p : kPrefixes)
        if (format.rfind(p, 0) == 0) return true;
    return false;
}

}  // namespace

SourcePicture ReadSourcePicture(CINIParser& probe) {
    SourcePicture pic;
    pic.width = static_cast<int>(probe.GetInteger("STREAM", "width"));
    pic.height = static_cast<int>(probe.GetInteger("STREAM", "height"));
    pic.pixelFormat = probe.GetWord("STREAM", "pix_fmt");
    pic.colorRange = probe.GetWord("STREAM", "color_range");
    pic.displayMatrix = probe.HasLine("side_data_type=Display Matrix");
    pic.colorSpace = probe.GetWord("STREAM", "color_space");
    return pic;
}

PictureRoad RoadOf(const SourcePicture& source) {
    if (IsRgbLayout(source.pixelFormat)) return PictureRoad::kFromRgb;
    const std::string& m = source.colorSpace;
    if (m == "smpte170m" || m == "bt470bg") return PictureRoad::kFromBt601;
    if (m.empty() || m == "unknown" || m == "reserved") {
        // JPEG pictures are BT.601 whatever their size.
        const bool jpeg = source.pixelFormat.rfind("yuvj", 0) == 0;
        const bool hd = source.width > 1279 || source.height > 576;
        return hd && !jpeg ? PictureRoad::kPassThrough : PictureRoad::kFromBt601;
    }
    // BT.709, and matrices we have no conversion for, keep their samples.
    return PictureRoad::kPassThrough;
}

std::string RgbToFrameSteps(int width, int height, bool limitedRange) {
    // Through 24-bit RGB first: ffmpeg's own step from a palette or grey to
    // zimg's planar RGB rounds a level off, its step to packed RGB does not.
    return "format=rgb24," + ZimgSteps(width, height, false, limitedRange);
}

std::string Bt601ToFrameSteps(int width, int height, bool limitedRange) {
    return ZimgSteps(width, height, true, limitedRange);
}

namespace {

// Pictures the decoder gives as the card takes them before the range step:
// 8-bit planar 4:2:0 BT.709 at the card's size, limited (or unmarked) range,
// not turned by a display matrix.
bool LimitedAtFrameSize(int sizeClass, const SourcePicture& source) {
    if (source.displayMatrix || RoadOf(source) != PictureRoad::kPassThrough) return false;
    const int width = sizeClass == 2 ? 3840 : 1920, height = sizeClass == 2 ? 2160 : 1080;
    if (source.width != width || source.height != height) return false;
    // Only yuv420p itself: the yuvj formats are full range already, and any
    // other layout is converted (and its range with it) inside the scaler.
    if (source.pixelFormat != "yuv420p") return false;
    return source.colorRange.empty() || source.colorRange == "tv" || source.colorRange == "unknown";
}

}  // namespace

bool ExpandsRangeByTable(int sizeClass, bool limitedRange, const SourcePicture& source) {
    return !limitedRange && LimitedAtFrameSize(sizeClass, source);
}

std::string ScalerPictureFilter(int sizeClass, int frameRateCode, bool limitedRange, bool deinterlace) {
    return Chain(FrameWidth(sizeClass), FrameHeight(sizeClass), frameRateCode, limitedRange ? "tv" : "pc",
                 deinterlace);
}

void FittedSize(int width, int height, int frameWidth, int frameHeight, PictureFit fit, int& fittedWidth,
                int& fittedHeight) {
    fittedWidth = frameWidth;
    fittedHeight = frameHeight;
    if (fit != PictureFit::kPad || width <= 0 || height <= 0) return;
    // Compared in 64 bits: 20000 x 3840 overflows nothing, nor does a
    // picture of any size a probe reports.
    const int64_t across = int64_t(width) * frameHeight, down = int64_t(height) * frameWidth;
    auto even = [](int64_t v) { return int(std::max<int64_t>(2, (v + 1) / 2 * 2)); };
    if (across > down) {
        // Wider than the frame: full width, bars above and below.
        const int h = even((down + width / 2) / width);
        if (h < frameHeight - 1) fittedHeight = h;
    } else if (across < down) {
        // Narrower: full height, bars left and right.
        const int w = even((across + height / 2) / height);
        if (w < frameWidth - 1) fittedWidth = w;
    }
}

std::string PictureFilter(int sizeClass, int frameRateCode, bool limitedRange, bool deinterlace,
                          const SourcePicture& source, int width, int height) {
    if (width <= 0 || height <= 0) {
        width = FrameWidth(sizeClass);
        height = FrameHeight(sizeClass);
    }
    const bool whole = width == FrameWidth(sizeClass) && height == FrameHeight(sizeClass);
    const PictureRoad road = RoadOf(source);
    if (road != PictureRoad::kPassThrough) {
        std::string f = deinterlace ? kDeinterlace : "";
        f += "fps=";
        f += RateText(frameRateCode);
        f += ",";
        f += road == PictureRoad::kFromRgb ? RgbToFrameSteps(width, height, limitedRange)
                                           : Bt601ToFrameSteps(width, height, limitedRange);
        return f;
    }
    if (!whole || !LimitedAtFrameSize(sizeClass, source))
        return Chain(width, height, frameRateCode, limitedRange ? "tv" : "pc", deinterlace);
    // Limited-range pictures of the right size go through the scaler
    // untouched; for full range the caller then expands them.
    return Chain(width, height, frameRateCode, "tv", deinterlace, /*limitedIn=*/true);
}

uint8_t FullRangeSample(uint8_t v, bool chroma) { return uint8_t(chroma ? ScalerChroma(v) : ScalerLuma(v)); }

namespace {

// The tail (and the whole plane where no vector unit is there) one sample at a time.
void ExpandTail(uint8_t* plane, size_t i, size_t bytes, const Expansion& e) {
    for (; i < bytes; ++i) {
        const int r = (plane[i] * e.a + e.c * e.b) >> e.shift;
        plane[i] = uint8_t(r < 0 ? 0 : r > 255 ? 255 : r);
    }
}

uint32_t PairAB(const Expansion& e) { return uint32_t(uint16_t(e.a)) | (uint32_t(uint16_t(e.b)) << 16); }

#if defined(__x86_64__)
// The same steps as Expand16 on 32 and 64 samples. Unpacking and packing both
// work within each 128-bit lane, so every lane comes back in its own order.
__attribute__((target("avx2"))) void ExpandAvx2(uint8_t* plane, size_t bytes, const Expansion& e) {
    const __m256i ab = _mm256_set1_epi32(int32_t(PairAB(e))), c = _mm256_set1_epi16(e.c), zero = _mm256_setzero_si256();
    const __m128i shift = _mm_cvtsi32_si128(e.shift);
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        __m256i* at = reinterpret_cast<__m256i*>(plane + i);
        const __m256i v = _mm256_loadu_si256(at);
        const __m256i lo = _mm256_unpacklo_epi8(v, zero), hi = _mm256_unpackhi_epi8(v, zero);
        const __m256i s0 = _mm256_sra_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(lo, c), ab), shift);
        const __m256i s1 = _mm256_sra_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(lo, c), ab), shift);
        const __m256i s2 = _mm256_sra_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(hi, c), ab), shift);
        const __m256i s3 = _mm256_sra_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(hi, c), ab), shift);
        _mm256_storeu_si256(at, _mm256_packus_epi16(_mm256_packs_epi32(s0, s1), _mm256_packs_epi32(s2, s3)));
    }
    ExpandTail(plane, i, bytes, e);
}

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused source
// of their masked forms, which it then reports inside its own header.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f,avx512bw"))) void ExpandAvx512(uint8_t* plane, size_t bytes, const Expansion& e) {
    const __m512i ab = _mm512_set1_epi32(int32_t(PairAB(e))), c = _mm512_set1_epi16(e.c), zero = _mm512_setzero_si512();
    const __m128i shift = _mm_cvtsi32_si128(e.shift);
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        void* at = plane + i;
        const __m512i v = _mm512_loadu_si512(at);
        const __m512i lo = _mm512_unpacklo_epi8(v, zero), hi = _mm512_unpackhi_epi8(v, zero);
        const __m512i s0 = _mm512_sra_epi32(_mm512_madd_epi16(_mm512_unpacklo_epi16(lo, c), ab), shift);
        const __m512i s1 = _mm512_sra_epi32(_mm512_madd_epi16(_mm512_unpackhi_epi16(lo, c), ab), shift);
        const __m512i s2 = _mm512_sra_epi32(_mm512_madd_epi16(_mm512_unpacklo_epi16(hi, c), ab), shift);
        const __m512i s3 = _mm512_sra_epi32(_mm512_madd_epi16(_mm512_unpackhi_epi16(hi, c), ab), shift);
        _mm512_storeu_si512(at, _mm512_packus_epi16(_mm512_packs_epi32(s0, s1), _mm512_packs_epi32(s2, s3)));
    }
    ExpandTail(plane, i, bytes, e);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

void ExpandToFullRange(uint8_t* plane, size_t bytes, bool chroma, TransformVariant variant) {
    const Expansion& e = chroma ? kChromaExpansion : kLumaExpansion;
#if defined(__x86_64__)
    if (variant >= TransformVariant::Avx512) return ExpandAvx512(plane, bytes, e);
    if (variant >= TransformVariant::Avx2) return ExpandAvx2(plane, bytes, e);
#endif
    size_t i = 0;
#if defined(__SSE2__)
    if (variant >= TransformVariant::Sse) {
        const __m128i ab = _mm_set1_epi32(int32_t(PairAB(e)));
        const __m128i c = _mm_set1_epi16(e.c);
        const __m128i shift = _mm_cvtsi32_si128(e.shift);
        for (; i + 16 <= bytes; i += 16) {
            __m128i* at = reinterpret_cast<__m128i*>(plane + i);
            _mm_storeu_si128(at, Expand16(_mm_loadu_si128(at), ab, c, shift));
        }
    }
#endif
    ExpandTail(plane, i, bytes, e);
}

void ExpandToFullRange(uint8_t* plane, size_t bytes, bool chroma) {
    // The widest vectors the codec's kernels took, within the same cap.
    ExpandToFullRange(plane, bytes, chroma, ActiveKernels().variant);
}

}  // namespace rk

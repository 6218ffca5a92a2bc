#include "media/frame_rgb.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "codec/transforms.h"
#include "media/frame_rgb_internal.h"

namespace rk {

namespace {

using namespace rgb_internal;

inline uint8_t RoundClamp(float x) {
    const float v = std::floor(x + 0.5f);
    return v <= 0.0f ? 0 : (v >= 255.0f ? 255 : static_cast<uint8_t>(v));
}

inline void Put(uint8_t* p, RgbLayout layout, uint8_t r, uint8_t g, uint8_t b) {
    switch (layout) {
    case RgbLayout::kRgb24:
        p[0] = r, p[1] = g, p[2] = b;
        break;
    case RgbLayout::kRgba:
        p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
        break;
    case RgbLayout::kBgrt:
        p[0] = b, p[1] = g, p[2] = r, p[3] = 0;
        break;
    }
}

inline int BytesPerPixel(RgbLayout layout) { return layout == RgbLayout::kRgb24 ? 3 : 4; }

void ScalarPixels(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int from, int to, uint8_t* out,
                  RgbLayout layout) {
    const int bpp = BytesPerPixel(layout);
    for (int x = from; x < to; ++x) {
        uint8_t r, g, b;
        YCbCrToRgbPixel(y[x], cb[x >> 1], cr[x >> 1], r, g, b);
        Put(out + static_cast<size_t>(x) * static_cast<size_t>(bpp), layout, r, g, b);
    }
}

// Four pixels' channel values from their luma and chroma as 32-bit lanes:
// the scalar formula's products, sums and rounding, lane by lane. Rounding
// half up and clamping to 0 come out as truncating max(x + 0.5, 0): for
// x + 0.5 >= 0 truncation is the floor, below it both give 0 after the clamp.
inline void Channels4(__m128i y, __m128i cb, __m128i cr, __m128i& r, __m128i& g, __m128i& b) {
    const __m128 yy = _mm_mul_ps(_mm_set1_ps(kLuma), _mm_cvtepi32_ps(_mm_sub_epi32(y, _mm_set1_epi32(16))));
    const __m128 cbf = _mm_cvtepi32_ps(_mm_sub_epi32(cb, _mm_set1_epi32(128)));
    const __m128 crf = _mm_cvtepi32_ps(_mm_sub_epi32(cr, _mm_set1_epi32(128)));
    const __m128 rf = _mm_add_ps(yy, _mm_mul_ps(_mm_set1_ps(kRCr), crf));
    const __m128 gf = _mm_sub_ps(_mm_sub_ps(yy, _mm_mul_ps(_mm_set1_ps(kGCb), cbf)), _mm_mul_ps(_mm_set1_ps(kGCr), crf));
    const __m128 bf = _mm_add_ps(yy, _mm_mul_ps(_mm_set1_ps(kBCb), cbf));
    const __m128 half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
    r = _mm_cvttps_epi32(_mm_max_ps(_mm_add_ps(rf, half), zero));
    g = _mm_cvttps_epi32(_mm_max_ps(_mm_add_ps(gf, half), zero));
    b = _mm_cvttps_epi32(_mm_max_ps(_mm_add_ps(bf, half), zero));
}

// Eight pixels from x on (x even) as four bytes each in `layout` (RGBA or BGRT).
inline void Pixels8(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int x, uint8_t* out, RgbLayout layout) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i y16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero);
    int32_t cbWord, crWord;
    std::memcpy(&cbWord, cb + x / 2, 4);
    std::memcpy(&crWord, cr + x / 2, 4);
    __m128i cb8 = _mm_cvtsi32_si128(cbWord), cr8 = _mm_cvtsi32_si128(crWord);
    const __m128i cb16 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(cb8, cb8), zero);  // each sample twice
    const __m128i cr16 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(cr8, cr8), zero);
    __m128i r0, g0, b0, r1, g1, b1;
    Channels4(_mm_unpacklo_epi16(y16, zero), _mm_unpacklo_epi16(cb16, zero), _mm_unpacklo_epi16(cr16, zero), r0, g0,
              b0);
    Channels4(_mm_unpackhi_epi16(y16, zero), _mm_unpackhi_epi16(cb16, zero), _mm_unpackhi_epi16(cr16, zero), r1, g1,
              b1);
    Store8(r0, r1, g0, g1, b0, b1, out, layout);
}

// The widest row body this processor runs: AVX2 when CPUID grants it and
// RK_KVQ1_KERNELS (the codec's cap) allows it, else none (SSE2 does all).
RowBodyFn ChooseRowBody() {
#if !defined(RK_MEDIA_AVX2)
    return nullptr;
#endif
    const char* cap = std::getenv("RK_KVQ1_KERNELS");
    if (cap && (!std::strcmp(cap, "portable") || !std::strcmp(cap, "sse") || !std::strcmp(cap, "avx"))) return nullptr;
    if (!(CpuFeaturesFrom(ReadCpuid()) & kCpuAvx2)) return nullptr;
    return Avx2RowBody();
}

RowBodyFn RowBody() {
    static const RowBodyFn body = ChooseRowBody();
    return body;
}

}  // namespace

void YCbCrToRgbPixel(int y, int cb, int cr, uint8_t& r, uint8_t& g, uint8_t& b) {
    const float yy = kLuma * static_cast<float>(y - 16);
    const float cbf = static_cast<float>(cb - 128);
    const float crf = static_cast<float>(cr - 128);
    r = RoundClamp(yy + kRCr * crf);
    g = RoundClamp(yy - kGCb * cbf - kGCr * crf);
    b = RoundClamp(yy + kBCb * cbf);
}

void YCbCrRowToRgbScalar(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out,
                         RgbLayout layout) {
    ScalarPixels(y, cb, cr, 0, width, out, layout);
}

namespace {

void RowWith(RowBodyFn wide, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out,
             RgbLayout layout) {
    int x = 0;
    if (layout == RgbLayout::kRgb24) {
        // Four bytes a pixel through a small buffer, then the first three of each.
        alignas(16) uint8_t quad[64];
        for (; x + 16 <= width; x += 16) {
            if (wide) {
                wide(y + x, cb + x / 2, cr + x / 2, 16, quad, RgbLayout::kRgba);
            } else {
                Pixels8(y, cb, cr, x, quad, RgbLayout::kRgba);
                Pixels8(y, cb, cr, x + 8, quad + 32, RgbLayout::kRgba);
            }
            uint8_t* d = out + static_cast<size_t>(x) * 3;
            for (int i = 0; i < 16; ++i) std::memcpy(d + 3 * i, quad + 4 * i, 3);
        }
    } else {
        if (wide) x = wide(y, cb, cr, width, out, layout);
        for (; x + 8 <= width; x += 8) Pixels8(y, cb, cr, x, out + static_cast<size_t>(x) * 4, layout);
    }
    ScalarPixels(y, cb, cr, x, width, out, layout);
}

}  // namespace

void YCbCrRowToRgb(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out,
                   RgbLayout layout) {
    RowWith(RowBody(), y, cb, cr, width, out, layout);
}

void YCbCrRowToRgbSse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out,
                       RgbLayout layout) {
    RowWith(nullptr, y, cb, cr, width, out, layout);
}

const char* RgbRowVariant() { return RowBody() ? "avx2" : "sse2"; }

}  // namespace rk

// The colour step sixteen pixels at a time with AVX2 (compiled with -mavx2,
// without FMA and with -ffp-contract=off: every product is rounded before
// its add, as in the one-pixel reference). Chosen at run time.
#include <immintrin.h>

#include <cstring>

#include "media/frame_rgb_internal.h"

namespace rk::rgb_internal {

namespace {

// Eight pixels' channels from their luma and chroma as 32-bit lanes; the
// same operations as the SSE2 body, eight lanes wide.
inline void Channels8(__m256i y, __m256i cb, __m256i cr, __m256i& r, __m256i& g, __m256i& b) {
    const __m256 yy =
        _mm256_mul_ps(_mm256_set1_ps(kLuma), _mm256_cvtepi32_ps(_mm256_sub_epi32(y, _mm256_set1_epi32(16))));
    const __m256 cbf = _mm256_cvtepi32_ps(_mm256_sub_epi32(cb, _mm256_set1_epi32(128)));
    const __m256 crf = _mm256_cvtepi32_ps(_mm256_sub_epi32(cr, _mm256_set1_epi32(128)));
    const __m256 rf = _mm256_add_ps(yy, _mm256_mul_ps(_mm256_set1_ps(kRCr), crf));
    const __m256 gf = _mm256_sub_ps(_mm256_sub_ps(yy, _mm256_mul_ps(_mm256_set1_ps(kGCb), cbf)),
                                    _mm256_mul_ps(_mm256_set1_ps(kGCr), crf));
    const __m256 bf = _mm256_add_ps(yy, _mm256_mul_ps(_mm256_set1_ps(kBCb), cbf));
    const __m256 half = _mm256_set1_ps(0.5f), zero = _mm256_setzero_ps();
    r = _mm256_cvttps_epi32(_mm256_max_ps(_mm256_add_ps(rf, half), zero));
    g = _mm256_cvttps_epi32(_mm256_max_ps(_mm256_add_ps(gf, half), zero));
    b = _mm256_cvttps_epi32(_mm256_max_ps(_mm256_add_ps(bf, half), zero));
}

int RowBody(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out, RgbLayout layout) {
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        __m128i cb8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2));
        __m128i cr8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2));
        cb8 = _mm_unpacklo_epi8(cb8, cb8);  // each sample twice
        cr8 = _mm_unpacklo_epi8(cr8, cr8);
        __m256i r[2], g[2], b[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i ys = h ? _mm_srli_si128(y8, 8) : y8;
            const __m128i cbs = h ? _mm_srli_si128(cb8, 8) : cb8;
            const __m128i crs = h ? _mm_srli_si128(cr8, 8) : cr8;
            Channels8(_mm256_cvtepu8_epi32(ys), _mm256_cvtepu8_epi32(cbs), _mm256_cvtepu8_epi32(crs), r[h], g[h], b[h]);
        }
        for (int h = 0; h < 2; ++h)
            Store8(_mm256_castsi256_si128(r[h]), _mm256_extracti128_si256(r[h], 1), _mm256_castsi256_si128(g[h]),
                   _mm256_extracti128_si256(g[h], 1), _mm256_castsi256_si128(b[h]), _mm256_extracti128_si256(b[h], 1),
                   out + size_t(x + 8 * h) * 4, layout);
    }
    return x;
}

}  // namespace

RowBodyFn Avx2RowBody() { return RowBody; }

}  // namespace rk::rgb_internal

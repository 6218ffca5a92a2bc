// The SSE kernels (128-bit vectors). Compiled with -msse4.1; chosen at run
// time when the processor lacks AVX.
//
// Forward transform: rows first, then columns; each output is the sum of its
// eight products grouped ((p0 + p1) + (p2 + p3)) + ((p4 + p5) + (p6 + p7)),
// the grouping the horizontal-add formulation gives. Here it is computed with
// vertical adds over four outputs at a time, which gives the same sums.
#include <immintrin.h>

#include "codec/kvq1_tables.h"
#include "codec/transforms_internal.h"

namespace rk::detail {

namespace {

inline __m128 Tree(__m128 p0, __m128 p1, __m128 p2, __m128 p3, __m128 p4, __m128 p5, __m128 p6, __m128 p7) {
    return _mm_add_ps(_mm_add_ps(_mm_add_ps(p0, p1), _mm_add_ps(p2, p3)),
                      _mm_add_ps(_mm_add_ps(p4, p5), _mm_add_ps(p6, p7)));
}

#define RK_SPLAT(v, i) _mm_shuffle_ps(v, v, _MM_SHUFFLE(i, i, i, i))

// rows[y] holds input row y as two vectors (x 0..3, x 4..7).
// Writes the 64 coefficients in natural order (8 v + u).
inline void ForwardRows(const __m128 (&lo)[8], const __m128 (&hi)[8], int32_t* natural) {
    const auto& DT = g_tables.dctT;
    // Rows: t[y][u] = sum over x of in(y, x) * D(u, x), vectors over u.
    __m128 tlo[8], thi[8];
    for (int y = 0; y < 8; ++y) {
        const __m128 a = lo[y], b = hi[y];
        const __m128 s0 = RK_SPLAT(a, 0), s1 = RK_SPLAT(a, 1), s2 = RK_SPLAT(a, 2), s3 = RK_SPLAT(a, 3);
        const __m128 s4 = RK_SPLAT(b, 0), s5 = RK_SPLAT(b, 1), s6 = RK_SPLAT(b, 2), s7 = RK_SPLAT(b, 3);
        tlo[y] = Tree(_mm_mul_ps(s0, _mm_load_ps(DT[0])), _mm_mul_ps(s1, _mm_load_ps(DT[1])),
                      _mm_mul_ps(s2, _mm_load_ps(DT[2])), _mm_mul_ps(s3, _mm_load_ps(DT[3])),
                      _mm_mul_ps(s4, _mm_load_ps(DT[4])), _mm_mul_ps(s5, _mm_load_ps(DT[5])),
                      _mm_mul_ps(s6, _mm_load_ps(DT[6])), _mm_mul_ps(s7, _mm_load_ps(DT[7])));
        thi[y] = Tree(_mm_mul_ps(s0, _mm_load_ps(DT[0] + 4)), _mm_mul_ps(s1, _mm_load_ps(DT[1] + 4)),
                      _mm_mul_ps(s2, _mm_load_ps(DT[2] + 4)), _mm_mul_ps(s3, _mm_load_ps(DT[3] + 4)),
                      _mm_mul_ps(s4, _mm_load_ps(DT[4] + 4)), _mm_mul_ps(s5, _mm_load_ps(DT[5] + 4)),
                      _mm_mul_ps(s6, _mm_load_ps(DT[6] + 4)), _mm_mul_ps(s7, _mm_load_ps(DT[7] + 4)));
    }
    // Columns: X[v][u] = sum over y of t(u, y) * D(v, y), vectors over u.
    for (int v = 0; v < 8; ++v) {
        const float* d = g_tables.dctSplat[v][0];
        __m128 c[8];
        for (int y = 0; y < 8; ++y) c[y] = _mm_load_ps(d + 4 * y);
        const __m128 xlo = Tree(_mm_mul_ps(tlo[0], c[0]), _mm_mul_ps(tlo[1], c[1]), _mm_mul_ps(tlo[2], c[2]),
                                _mm_mul_ps(tlo[3], c[3]), _mm_mul_ps(tlo[4], c[4]), _mm_mul_ps(tlo[5], c[5]),
                                _mm_mul_ps(tlo[6], c[6]), _mm_mul_ps(tlo[7], c[7]));
        const __m128 xhi = Tree(_mm_mul_ps(thi[0], c[0]), _mm_mul_ps(thi[1], c[1]), _mm_mul_ps(thi[2], c[2]),
                                _mm_mul_ps(thi[3], c[3]), _mm_mul_ps(thi[4], c[4]), _mm_mul_ps(thi[5], c[5]),
                                _mm_mul_ps(thi[6], c[6]), _mm_mul_ps(thi[7], c[7]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(natural + v * 8), _mm_cvtps_epi32(xlo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(natural + v * 8 + 4), _mm_cvtps_epi32(xhi));
    }
}

void ForwardTransformSse(const int32_t* in, int32_t* out) {
    __m128 lo[8], hi[8];
    for (int y = 0; y < 8; ++y) {
        lo[y] = _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + y * 8)));
        hi[y] = _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + y * 8 + 4)));
    }
    alignas(16) int32_t natural[64];
    ForwardRows(lo, hi, natural);
    for (int i = 0; i < 64; ++i) out[i] = natural[kZigzag[i]];
}

void ForwardPixelsSse(const uint8_t* src, int stride, int32_t* out) {
    __m128 lo[8], hi[8];
    const __m128i bias = _mm_set1_epi32(128);
    for (int y = 0; y < 8; ++y) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * stride));
        const __m128i a = _mm_sub_epi32(_mm_cvtepu8_epi32(bytes), bias);
        const __m128i b = _mm_sub_epi32(_mm_cvtepu8_epi32(_mm_srli_si128(bytes, 4)), bias);
        lo[y] = _mm_cvtepi32_ps(a);
        hi[y] = _mm_cvtepi32_ps(b);
    }
    ForwardRows(lo, hi, out);
}

void AddBasisImageSse(float* acc, int position, int value) {
    const __m128 v = _mm_set1_ps(float(value));
    const float* b = g_tables.basis[position];
    for (int i = 0; i < 64; i += 4)
        _mm_store_ps(acc + i, _mm_add_ps(_mm_load_ps(acc + i), _mm_mul_ps(v, _mm_load_ps(b + i))));
}

uint64_t QuantiseSse(const int32_t* coef, const float* divisors, int16_t* levels) {
    uint64_t mask = 0;
    const __m128 k32 = _mm_set1_ps(32.0f);
    for (int i = 0; i < 64; i += 8) {
        const __m128 a = _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + i))), k32);
        const __m128 b = _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + i + 4))), k32);
        const __m128i qa = _mm_cvttps_epi32(_mm_div_ps(a, _mm_load_ps(divisors + i)));
        const __m128i qb = _mm_cvttps_epi32(_mm_div_ps(b, _mm_load_ps(divisors + i + 4)));
        const __m128i q = _mm_packs_epi32(qa, qb);
        _mm_store_si128(reinterpret_cast<__m128i*>(levels + i), q);
        const __m128i zero = _mm_cmpeq_epi16(q, _mm_setzero_si128());
        const unsigned bits = unsigned(_mm_movemask_epi8(_mm_packs_epi16(zero, zero))) & 0xFFu;
        mask |= uint64_t(~bits & 0xFFu) << i;
    }
    return mask;
}

void StoreBlockSse(const float* acc, uint8_t* dst, int stride) {
    for (int y = 0; y < 8; y += 2) {
        const __m128i a = _mm_cvtps_epi32(_mm_load_ps(acc + y * 8));
        const __m128i b = _mm_cvtps_epi32(_mm_load_ps(acc + y * 8 + 4));
        const __m128i c = _mm_cvtps_epi32(_mm_load_ps(acc + y * 8 + 8));
        const __m128i d = _mm_cvtps_epi32(_mm_load_ps(acc + y * 8 + 12));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (y + 1) * stride), _mm_srli_si128(bytes, 8));
    }
}

}  // namespace

const TransformKernels kSseKernels = {
    TransformVariant::Sse, ForwardTransformSse, ForwardPixelsSse,
    AddBasisImageSse,      QuantiseSse,         StoreBlockSse,
};

}  // namespace rk::detail

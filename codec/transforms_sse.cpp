// The SSE kernels (128-bit vectors). Compiled with -msse4.1; chosen at run
// time for the slots AVX does not take, when the processor has SSE4.1.
//
// Forward transform: rows first, then columns; each output is the sum of its
// eight products grouped ((p0 + p1) + (p2 + p3)) + ((p4 + p5) + (p6 + p7)),
// the grouping the horizontal-add formulation gives. Here it is computed with
// vertical adds over four outputs at a time, which gives the same sums.
#include <immintrin.h>

#include "codec/kvq1_tables.h"
#include "codec/decode_slice_impl.h"
#include "codec/transforms_internal.h"

namespace rk::detail {

namespace {

inline __m128 Tree(__m128 p0, __m128 p1, __m128 p2, __m128 p3, __m128 p4, __m128 p5, __m128 p6, __m128 p7) {
    return _mm_add_ps(_mm_add_ps(_mm_add_ps(p0, p1), _mm_add_ps(p2, p3)),
                      _mm_add_ps(_mm_add_ps(p4, p5), _mm_add_ps(p6, p7)));
}

// in: 64 floats row by row (16-byte aligned). Writes the 64 coefficients in
// natural order (8 v + u) as 16-bit numbers. The intermediate rows go through
// memory: sixteen vector registers cannot hold them beside the products.
inline void ForwardRows(const float* in, int16_t* natural) {
    const auto& DT = g_tables.dctT;
    // Rows: t[y][u] = sum over x of in(y, x) * D(u, x), vectors over u.
    alignas(16) float t[8][8];
    for (int y = 0; y < 8; ++y) {
        const float* row = in + 8 * y;
        __m128 s[8];
        for (int x = 0; x < 8; ++x) s[x] = _mm_load1_ps(row + x);
        for (int h = 0; h < 8; h += 4) {
            const __m128 r = Tree(_mm_mul_ps(s[0], _mm_load_ps(DT[0] + h)), _mm_mul_ps(s[1], _mm_load_ps(DT[1] + h)),
                                  _mm_mul_ps(s[2], _mm_load_ps(DT[2] + h)), _mm_mul_ps(s[3], _mm_load_ps(DT[3] + h)),
                                  _mm_mul_ps(s[4], _mm_load_ps(DT[4] + h)), _mm_mul_ps(s[5], _mm_load_ps(DT[5] + h)),
                                  _mm_mul_ps(s[6], _mm_load_ps(DT[6] + h)), _mm_mul_ps(s[7], _mm_load_ps(DT[7] + h)));
            _mm_store_ps(t[y] + h, r);
        }
    }
    // Columns: X[v][u] = sum over y of t(u, y) * D(v, y), vectors over u.
    for (int v = 0; v < 8; ++v) {
        const float* d = g_tables.dctSplat[v][0];
        __m128 c[8];
        for (int y = 0; y < 8; ++y) c[y] = _mm_load_ps(d + 4 * y);
        __m128i half[2];
        for (int h = 0; h < 8; h += 4) {
            const __m128 x = Tree(_mm_mul_ps(_mm_load_ps(t[0] + h), c[0]), _mm_mul_ps(_mm_load_ps(t[1] + h), c[1]),
                                  _mm_mul_ps(_mm_load_ps(t[2] + h), c[2]), _mm_mul_ps(_mm_load_ps(t[3] + h), c[3]),
                                  _mm_mul_ps(_mm_load_ps(t[4] + h), c[4]), _mm_mul_ps(_mm_load_ps(t[5] + h), c[5]),
                                  _mm_mul_ps(_mm_load_ps(t[6] + h), c[6]), _mm_mul_ps(_mm_load_ps(t[7] + h), c[7]));
            half[h / 4] = _mm_cvtps_epi32(x);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(natural + v * 8), _mm_packs_epi32(half[0], half[1]));
    }
}

void ForwardTransformSse(const int32_t* in, int32_t* out) {
    alignas(16) float f[64];
    for (int i = 0; i < 64; i += 4)
        _mm_store_ps(f + i, _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
    alignas(16) int16_t natural[64];
    ForwardRows(f, natural);
    for (int i = 0; i < 64; ++i) out[i] = natural[kZigzag[i]];
}

void ForwardPixelsSse(const uint8_t* src, int stride, int16_t* out) {
    alignas(16) float f[64];
    const __m128i bias = _mm_set1_epi32(128);
    for (int y = 0; y < 8; ++y) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * stride));
        _mm_store_ps(f + 8 * y, _mm_cvtepi32_ps(_mm_sub_epi32(_mm_cvtepu8_epi32(bytes), bias)));
        _mm_store_ps(f + 8 * y + 4, _mm_cvtepi32_ps(_mm_sub_epi32(_mm_cvtepu8_epi32(_mm_srli_si128(bytes, 4)), bias)));
    }
    ForwardRows(f, out);
}

void AddBasisImageSse(float* acc, int position, int value) {
    const __m128 v = _mm_set1_ps(float(value));
    const float* b = g_tables.basis[position];
    for (int i = 0; i < 64; i += 4)
        _mm_store_ps(acc + i, _mm_add_ps(_mm_load_ps(acc + i), _mm_mul_ps(v, _mm_load_ps(b + i))));
}

uint64_t QuantiseSse(const int16_t* coef, const float* multipliers, int16_t* levels) {
    uint64_t mask = 0;
    for (int i = 0; i < 64; i += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + i));
        const __m128 a = _mm_cvtepi32_ps(_mm_cvtepi16_epi32(c));
        const __m128 b = _mm_cvtepi32_ps(_mm_cvtepi16_epi32(_mm_srli_si128(c, 8)));
        const __m128i qa = _mm_cvttps_epi32(_mm_mul_ps(a, _mm_load_ps(multipliers + i)));
        const __m128i qb = _mm_cvttps_epi32(_mm_mul_ps(b, _mm_load_ps(multipliers + i + 4)));
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

bool DecodeSliceSse(const SliceJob& job) { return DecodeSliceWith<MemorySlice<AddBasisImageSse, StoreBlockSse>>(job); }

}  // namespace

// -msse4.1 lets the compiler use SSE3 and SSSE3 too, anywhere in this file.
const KernelOverride kSseKernels = {
    kCpuSse2 | kCpuSse3 | kCpuSsse3 | kCpuSse41,
    {TransformVariant::Sse, ForwardTransformSse, ForwardPixelsSse, AddBasisImageSse, QuantiseSse, StoreBlockSse,
     DecodeSliceSse, ForwardPixelsPairOf<ForwardPixelsSse>, QuantiseToScanOf<QuantiseSse>},
};

}  // namespace rk::detail

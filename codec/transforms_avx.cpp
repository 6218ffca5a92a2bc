// The AVX kernels (256-bit vectors). Compiled with -mavx only (no AVX2, no
// FMA); chosen at run time when CPUID reports AVX and the SSE levels below it,
// and XGETBV shows that the system saves the YMM registers.
//
// Forward transform (transforms_ymm.h): columns first, then rows,
// with vertical sums grouped differently from SSE's. The intermediate results
// differ from the SSE variant's in the last bit, so a coefficient can differ
// by one; decoders are unaffected. The inverse step is identical to SSE.
#include <immintrin.h>

#include "codec/kvq1_tables.h"
#include "codec/decode_slice_impl.h"
#include "codec/transforms_ymm.h"
#include "codec/transforms_internal.h"

namespace rk::detail {

namespace {

void ForwardTransformAvx(const int32_t* in, int32_t* out) {
    __m256 row[8];
    for (int y = 0; y < 8; ++y)
        row[y] = _mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + y * 8)));
    alignas(32) int16_t natural[64];
    Forward(row, natural);
    for (int i = 0; i < 64; ++i) out[i] = natural[kZigzag[i]];
}

void ForwardPixelsAvx(const uint8_t* src, int stride, int16_t* out) {
    __m256 row[8];
    const __m128i bias = _mm_set1_epi32(128);
    for (int y = 0; y < 8; ++y) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * stride));
        const __m128i a = _mm_sub_epi32(_mm_cvtepu8_epi32(bytes), bias);
        const __m128i b = _mm_sub_epi32(_mm_cvtepu8_epi32(_mm_srli_si128(bytes, 4)), bias);
        row[y] = _mm256_cvtepi32_ps(_mm256_insertf128_si256(_mm256_castsi128_si256(a), b, 1));
    }
    Forward(row, out);
}

void AddBasisImageAvx(float* acc, int position, int value) {
    const __m256 v = _mm256_set1_ps(float(value));
    const float* b = g_tables.basis[position];
    for (int i = 0; i < 64; i += 8)
        _mm256_store_ps(acc + i, _mm256_add_ps(_mm256_load_ps(acc + i), _mm256_mul_ps(v, _mm256_load_ps(b + i))));
}

// Sixteen-bit coefficients widened to eight floats.
inline __m256 Widen(const int16_t* c) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
    const __m256i wide = _mm256_insertf128_si256(_mm256_castsi128_si256(_mm_cvtepi16_epi32(v)),
                                                 _mm_cvtepi16_epi32(_mm_srli_si128(v, 8)), 1);
    return _mm256_cvtepi32_ps(wide);
}

uint64_t QuantiseAvx(const int16_t* coef, const float* multipliers, int16_t* levels) {
    uint64_t mask = 0;
    for (int i = 0; i < 64; i += 16) {
        const __m256 a = Widen(coef + i);
        const __m256 b = Widen(coef + i + 8);
        const __m256i qa = _mm256_cvttps_epi32(_mm256_mul_ps(a, _mm256_load_ps(multipliers + i)));
        const __m256i qb = _mm256_cvttps_epi32(_mm256_mul_ps(b, _mm256_load_ps(multipliers + i + 8)));
        const __m128i q0 = _mm_packs_epi32(_mm256_castsi256_si128(qa), _mm256_extractf128_si256(qa, 1));
        const __m128i q1 = _mm_packs_epi32(_mm256_castsi256_si128(qb), _mm256_extractf128_si256(qb, 1));
        _mm_store_si128(reinterpret_cast<__m128i*>(levels + i), q0);
        _mm_store_si128(reinterpret_cast<__m128i*>(levels + i + 8), q1);
        const __m128i z0 = _mm_cmpeq_epi16(q0, _mm_setzero_si128());
        const __m128i z1 = _mm_cmpeq_epi16(q1, _mm_setzero_si128());
        const unsigned bits = unsigned(_mm_movemask_epi8(_mm_packs_epi16(z0, z1))) & 0xFFFFu;
        mask |= uint64_t(~bits & 0xFFFFu) << i;
    }
    return mask;
}

void StoreBlockAvx(const float* acc, uint8_t* dst, int stride) {
    for (int y = 0; y < 8; y += 2) {
        const __m256i a = _mm256_cvtps_epi32(_mm256_load_ps(acc + y * 8));
        const __m256i b = _mm256_cvtps_epi32(_mm256_load_ps(acc + y * 8 + 8));
        const __m128i w0 = _mm_packs_epi32(_mm256_castsi256_si128(a), _mm256_extractf128_si256(a, 1));
        const __m128i w1 = _mm_packs_epi32(_mm256_castsi256_si128(b), _mm256_extractf128_si256(b, 1));
        const __m128i bytes = _mm_packus_epi16(w0, w1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (y + 1) * stride), _mm_srli_si128(bytes, 8));
    }
}

bool DecodeSliceAvx(const SliceJob& job) { return DecodeSliceWith<RegisterSlice<StoreBlockAvx>>(job); }

}  // namespace

// -mavx lets the compiler use every SSE level up to SSE4.2, and POPCNT, too.
const KernelOverride kAvxKernels = {
    kCpuSse2 | kCpuSse3 | kCpuSsse3 | kCpuSse41 | kCpuSse42 | kCpuPopcnt | kCpuAvx,
    {TransformVariant::Avx, ForwardTransformAvx, ForwardPixelsAvx, AddBasisImageAvx, QuantiseAvx, StoreBlockAvx,
     DecodeSliceAvx, ForwardPixelsPairOf<ForwardPixelsAvx>, QuantiseToScanOf<QuantiseAvx>},
};

}  // namespace rk::detail

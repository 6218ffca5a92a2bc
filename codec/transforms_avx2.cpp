// The AVX2 kernels: the AVX variant's floating-point arithmetic (the same
// products and sums, so the same coefficients and samples) with the integer
// steps on 256-bit vectors: bytes widened to a row of eight in one step, the
// quantiser's levels packed sixteen at a time, and a block's rounding to bytes
// four rows at a time. Compiled with -mavx2 (no FMA); chosen at run time when
// CPUID reports AVX2 beside everything the AVX variant needs.
#include <immintrin.h>

#include "codec/decode_slice_impl.h"
#include "codec/transforms_internal.h"
#include "codec/transforms_ymm.h"

namespace rk::detail {

namespace {

void ForwardPixelsAvx2(const uint8_t* src, int stride, int16_t* out) {
    __m256 row[8];
    const __m256i bias = _mm256_set1_epi32(128);
    for (int y = 0; y < 8; ++y) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * stride));
        row[y] = _mm256_cvtepi32_ps(_mm256_sub_epi32(_mm256_cvtepu8_epi32(bytes), bias));
    }
    Forward(row, out);
}

// Thirty-two levels from coef and multipliers at `i`: the products
// truncated, packed to sixteen bits in order; answers the nonzero mask.
inline uint32_t Quantise32(const int16_t* coef, const float* multipliers, int16_t* levels) {
    __m256i q[2];
    for (int h = 0; h < 2; ++h) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef + 16 * h));
        const __m256 a = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(c)));
        const __m256 b = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_extracti128_si256(c, 1)));
        const __m256i qa = _mm256_cvttps_epi32(_mm256_mul_ps(a, _mm256_loadu_ps(multipliers + 16 * h)));
        const __m256i qb = _mm256_cvttps_epi32(_mm256_mul_ps(b, _mm256_loadu_ps(multipliers + 16 * h + 8)));
        // The pack interleaves the two vectors' 128-bit halves; the permute
        // puts the four quarters back in order.
        q[h] = _mm256_permute4x64_epi64(_mm256_packs_epi32(qa, qb), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels + 16 * h), q[h]);
    }
    const __m256i zero = _mm256_setzero_si256();
    const __m256i z = _mm256_permute4x64_epi64(
        _mm256_packs_epi16(_mm256_cmpeq_epi16(q[0], zero), _mm256_cmpeq_epi16(q[1], zero)), 0xD8);
    return ~uint32_t(_mm256_movemask_epi8(z));
}

uint64_t QuantiseAvx2(const int16_t* coef, const float* multipliers, int16_t* levels) {
    const uint64_t low = Quantise32(coef, multipliers, levels);
    return low | uint64_t(Quantise32(coef + 32, multipliers + 32, levels + 32)) << 32;
}

void StoreBlockAvx2(const float* acc, uint8_t* dst, int stride) {
    // Dwords of the packed bytes taken so that each row's eight come together.
    const __m256i rows = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (int y = 0; y < 8; y += 4) {
        const __m256i a = _mm256_cvtps_epi32(_mm256_load_ps(acc + y * 8));
        const __m256i b = _mm256_cvtps_epi32(_mm256_load_ps(acc + y * 8 + 8));
        const __m256i c = _mm256_cvtps_epi32(_mm256_load_ps(acc + y * 8 + 16));
        const __m256i d = _mm256_cvtps_epi32(_mm256_load_ps(acc + y * 8 + 24));
        const __m256i bytes =
            _mm256_permutevar8x32_epi32(_mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d)), rows);
        const __m128i lo = _mm256_castsi256_si128(bytes), hi = _mm256_extracti128_si256(bytes, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), lo);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (y + 1) * stride), _mm_unpackhi_epi64(lo, lo));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (y + 2) * stride), hi);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (y + 3) * stride), _mm_unpackhi_epi64(hi, hi));
    }
}

bool DecodeSliceAvx2(const SliceJob& job) { return DecodeSliceWith<RegisterSlice<StoreBlockAvx2>>(job); }

}  // namespace

// -mavx2 lets the compiler use AVX, every SSE level and POPCNT too. The
// forward transform of int32 blocks and the basis image add are AVX's.
const KernelOverride kAvx2Kernels = {
    kCpuSse2 | kCpuSse3 | kCpuSsse3 | kCpuSse41 | kCpuSse42 | kCpuPopcnt | kCpuAvx | kCpuAvx2,
    {TransformVariant::Avx2, nullptr, ForwardPixelsAvx2, nullptr, QuantiseAvx2, StoreBlockAvx2, DecodeSliceAvx2,
     ForwardPixelsPairOf<ForwardPixelsAvx2>, QuantiseToScanOf<QuantiseAvx2>},
};

}  // namespace rk::detail

#pragma once
// The forward transform and the decoder's block accumulator on 256-bit float
// vectors, one block at a time, compiled into the AVX and the AVX2 files with
// their own flags (so everything here has internal linkage, like
// decode_slice_impl.h).
//
// Forward transform: columns first (eight columns at a time, one matrix entry repeated across a
// vector times an input row), then rows, each sum grouped
// ((p0 + p4) + (p1 + p5)) + ((p2 + p6) + (p3 + p7)). The AVX-512 file
// computes the same products and sums, two blocks at once.
#include <immintrin.h>

#include "codec/transforms_internal.h"

namespace rk::detail {
namespace {

inline __m256 Tree(__m256 p0, __m256 p1, __m256 p2, __m256 p3, __m256 p4, __m256 p5, __m256 p6, __m256 p7) {
    return _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(p0, p4), _mm256_add_ps(p1, p5)),
                         _mm256_add_ps(_mm256_add_ps(p2, p6), _mm256_add_ps(p3, p7)));
}

// Writes the 64 coefficients in natural order (8 v + u) as 16-bit numbers.
inline void Forward(const __m256 (&row)[8], int16_t* natural) {
    const auto& DT = g_tables.dctT;
    // Columns: T[v][x] = sum over y of D(v, y) * in(y, x), vectors over x.
    // The matrix entries come ready repeated across a vector, so that each
    // product reads its factor straight from the table.
    alignas(32) float t[8][8];
    for (int v = 0; v < 8; ++v) {
        const auto& s = g_tables.dctSplat8[v];
        _mm256_store_ps(t[v], Tree(_mm256_mul_ps(_mm256_load_ps(s[0]), row[0]), _mm256_mul_ps(_mm256_load_ps(s[1]), row[1]),
                                   _mm256_mul_ps(_mm256_load_ps(s[2]), row[2]), _mm256_mul_ps(_mm256_load_ps(s[3]), row[3]),
                                   _mm256_mul_ps(_mm256_load_ps(s[4]), row[4]), _mm256_mul_ps(_mm256_load_ps(s[5]), row[5]),
                                   _mm256_mul_ps(_mm256_load_ps(s[6]), row[6]), _mm256_mul_ps(_mm256_load_ps(s[7]), row[7])));
    }
    // Rows: X[v][u] = sum over x of T(v, x) * D(u, x), vectors over u. The
    // matrix rows are read from the table by each product: held in
    // registers they spill to the stack in halves, and reading a whole
    // vector back from two half stores stalls every row.
    for (int v = 0; v < 8; ++v) {
        const float* s = t[v];
        const __m256 sum = Tree(_mm256_mul_ps(_mm256_broadcast_ss(s + 0), _mm256_load_ps(DT[0])),
                                _mm256_mul_ps(_mm256_broadcast_ss(s + 1), _mm256_load_ps(DT[1])),
                                _mm256_mul_ps(_mm256_broadcast_ss(s + 2), _mm256_load_ps(DT[2])),
                                _mm256_mul_ps(_mm256_broadcast_ss(s + 3), _mm256_load_ps(DT[3])),
                                _mm256_mul_ps(_mm256_broadcast_ss(s + 4), _mm256_load_ps(DT[4])),
                                _mm256_mul_ps(_mm256_broadcast_ss(s + 5), _mm256_load_ps(DT[5])),
                                _mm256_mul_ps(_mm256_broadcast_ss(s + 6), _mm256_load_ps(DT[6])),
                                _mm256_mul_ps(_mm256_broadcast_ss(s + 7), _mm256_load_ps(DT[7])));
        const __m256i wide = _mm256_cvtps_epi32(sum);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(natural + v * 8),
                         _mm_packs_epi32(_mm256_castsi256_si128(wide), _mm256_extractf128_si256(wide, 1)));
    }
}

// The accumulator of a block lives in eight registers while its
// coefficients are added: the same multiply, then add, per element.
template <StoreBlockFn Store>
struct RegisterSlice {
    struct Acc {
        __m256 v[8];
    };
    static inline void Fill(Acc& a, float value) {
        const __m256 f = _mm256_set1_ps(value);
        for (auto& x : a.v) x = f;
    }
    static inline void Add(Acc& a, const float* b, int, int value) {
        const __m256 s = _mm256_set1_ps(float(value));
        for (int i = 0; i < 8; ++i) a.v[i] = _mm256_add_ps(a.v[i], _mm256_mul_ps(s, _mm256_load_ps(b + 8 * i)));
    }
    struct Block {
        alignas(32) float v[64];
    };
    static inline void Save(const Acc& a, Block& out) {
        for (int i = 0; i < 8; ++i) _mm256_store_ps(out.v + 8 * i, a.v[i]);
    }
    static void StoreBlock(const Block& b, uint8_t* dst, int stride) { Store(b.v, dst, stride); }
};

}  // namespace
}  // namespace rk::detail

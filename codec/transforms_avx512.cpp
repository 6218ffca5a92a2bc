// The AVX-512 kernels (512-bit vectors; the F, BW and VL parts). Compiled with
// -mavx512f -mavx512bw -mavx512vl (no FMA contraction: the library is built
// with -ffp-contract=off); chosen at run time when CPUID reports those parts
// beside everything the AVX2 variant needs, and XGETBV shows that the system
// saves the mask registers and the 512-bit state.
//
// Forward transform: two blocks at once, one in each half of a vector. The
// products and sums are the AVX variant's (transforms_ymm.h): the column
// step as there; the row step on the transposed intermediate, each matrix
// entry repeated across a vector times a column, so every sum is the AVX
// sum of the same products in the same grouping, and the coefficients are
// the AVX variant's bit for bit. Quantiser: thirty-two 16-bit levels a
// vector, put into scan order by one lane permute, the nonzero mask straight
// from a mask register. Decoder: a block's accumulator in four registers,
// the same multiply, then add, per element as every other variant.

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused source
// of their masked forms, which -Wuninitialized reports inside the header
// (clang's do not, and it knows no -Wmaybe-uninitialized).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "codec/decode_slice_impl.h"
#include "codec/kvq1_tables.h"
#include "codec/transforms_internal.h"

namespace rk::detail {

namespace {

inline __m512 Tree(__m512 p0, __m512 p1, __m512 p2, __m512 p3, __m512 p4, __m512 p5, __m512 p6, __m512 p7) {
    return _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(p0, p4), _mm512_add_ps(p1, p5)),
                         _mm512_add_ps(_mm512_add_ps(p2, p6), _mm512_add_ps(p3, p7)));
}

// m[k] = sum over j of D(k, j) * in[j], each entry repeated across the vector
// from memory. D(k, j) is read as dct[k][j] or, with Transposed, as the
// equal dctT[j][k]: the two steps read different copies of the matrix, so
// the compiler cannot share 64 broadcasts between them in registers (it
// spilled them to the stack) and folds each into its multiply instead.
template <bool Transposed>
inline void MatrixStep(const __m512 (&in)[8], __m512 (&m)[8]) {
    auto d = [](int k, int j) { return _mm512_set1_ps(Transposed ? g_tables.dctT[j][k] : g_tables.dct[k][j]); };
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k)
        m[k] = Tree(_mm512_mul_ps(d(k, 0), in[0]), _mm512_mul_ps(d(k, 1), in[1]), _mm512_mul_ps(d(k, 2), in[2]),
                    _mm512_mul_ps(d(k, 3), in[3]), _mm512_mul_ps(d(k, 4), in[4]), _mm512_mul_ps(d(k, 5), in[5]),
                    _mm512_mul_ps(d(k, 6), in[6]), _mm512_mul_ps(d(k, 7), in[7]));
}

// The loops here are unrolled so that their arrays stay in registers (32 of
// them hold both steps); as loops GCC kept them on the stack.

// Transposes the 8 x 8 matrix in each 256-bit half of the eight vectors.
inline void Transpose(__m512 (&r)[8]) {
    __m512 t[8], s[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm512_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm512_unpackhi_ps(r[i], r[i + 1]);
    }
#pragma GCC unroll 8
    for (int i = 0; i < 8; i += 4) {
        s[i] = _mm512_shuffle_ps(t[i], t[i + 2], 0x44);
        s[i + 1] = _mm512_shuffle_ps(t[i], t[i + 2], 0xEE);
        s[i + 2] = _mm512_shuffle_ps(t[i + 1], t[i + 3], 0x44);
        s[i + 3] = _mm512_shuffle_ps(t[i + 1], t[i + 3], 0xEE);
    }
    // The rows' first four and last four columns, within each half.
    const __m512i lower = _mm512_setr_epi32(0, 1, 2, 3, 16, 17, 18, 19, 8, 9, 10, 11, 24, 25, 26, 27);
    const __m512i upper = _mm512_setr_epi32(4, 5, 6, 7, 20, 21, 22, 23, 12, 13, 14, 15, 28, 29, 30, 31);
#pragma GCC unroll 8
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm512_permutex2var_ps(s[i], lower, s[i + 4]);
        r[i + 4] = _mm512_permutex2var_ps(s[i], upper, s[i + 4]);
    }
}

// rows[y]: row y of block a in the low half, of block b in the high half.
// Writes both blocks' coefficients in natural order (8 v + u).
inline void ForwardPair(const __m512 (&rows)[8], int16_t* a, int16_t* b) {
    __m512 t[8], x[8];
    MatrixStep<false>(rows, t);  // t[v]: T(v, x) over x
    Transpose(t);                // t[x]: T(v, x) over v
    MatrixStep<true>(t, x);      // x[u]: X(v, u) over v
    Transpose(x);                // x[v]: X(v, u) over u
#pragma GCC unroll 8
    for (int v = 0; v < 8; ++v) {
        const __m256i words = _mm512_cvtsepi32_epi16(_mm512_cvtps_epi32(x[v]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(a + 8 * v), _mm256_castsi256_si128(words));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * v), _mm256_extracti128_si256(words, 1));
    }
}

void ForwardPixelsPairAvx512(const uint8_t* a, const uint8_t* b, int stride, int16_t* out) {
    __m512 rows[8];
    const __m512i bias = _mm512_set1_epi32(128);
#pragma GCC unroll 8
    for (int y = 0; y < 8; ++y) {
        const __m128i bytes = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + y * stride)),
                                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + y * stride)));
        rows[y] = _mm512_cvtepi32_ps(_mm512_sub_epi32(_mm512_cvtepu8_epi32(bytes), bias));
    }
    ForwardPair(rows, out, out + 64);
}

void ForwardPixelsAvx512(const uint8_t* src, int stride, int16_t* out) {
    alignas(64) int16_t both[128];
    ForwardPixelsPairAvx512(src, src, stride, both);
    __builtin_memcpy(out, both, 64 * sizeof(int16_t));
}

void ForwardTransformAvx512(const int32_t* in, int32_t* out) {
    __m512 rows[8];
    for (int y = 0; y < 8; ++y) {
        const __m256i row = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 8 * y));
        rows[y] = _mm512_cvtepi32_ps(_mm512_inserti64x4(_mm512_castsi256_si512(row), row, 1));
    }
    alignas(64) int16_t natural[128];
    ForwardPair(rows, natural, natural + 64);
    for (int i = 0; i < 64; ++i) out[i] = natural[kZigzag[i]];
}

void AddBasisImageAvx512(float* acc, int position, int value) {
    const __m512 v = _mm512_set1_ps(float(value));
    const float* b = g_tables.basis[position];
    for (int i = 0; i < 64; i += 16)
        _mm512_storeu_ps(acc + i, _mm512_add_ps(_mm512_loadu_ps(acc + i), _mm512_mul_ps(v, _mm512_load_ps(b + i))));
}

// Sixteen levels: the products truncated, saturated to sixteen bits as the
// other variants' packs do.
inline __m256i Levels16(const int16_t* coef, const float* multipliers) {
    const __m512 c = _mm512_cvtepi32_ps(_mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef))));
    return _mm512_cvtsepi32_epi16(_mm512_cvttps_epi32(_mm512_mul_ps(c, _mm512_loadu_ps(multipliers))));
}

// Levels 32 h to 32 h + 31 of the block, in the order of coef.
inline __m512i Levels32(const int16_t* coef, const float* multipliers, int h) {
    const int i = 32 * h;
    return _mm512_inserti64x4(_mm512_castsi256_si512(Levels16(coef + i, multipliers + i)),
                              Levels16(coef + i + 16, multipliers + i + 16), 1);
}

uint64_t QuantiseAvx512(const int16_t* coef, const float* multipliers, int16_t* levels) {
    const __m512i l0 = Levels32(coef, multipliers, 0), l1 = Levels32(coef, multipliers, 1);
    _mm512_storeu_si512(levels, l0);
    _mm512_storeu_si512(levels + 32, l1);
    return uint64_t(_mm512_test_epi16_mask(l0, l0)) | uint64_t(_mm512_test_epi16_mask(l1, l1)) << 32;
}

uint64_t QuantiseToScanAvx512(const int16_t* coef, const float* multipliers, int16_t* levels) {
    const __m512i l0 = Levels32(coef, multipliers, 0), l1 = Levels32(coef, multipliers, 1);
    // Scan position i takes natural index kZigzag[i]: from l0 below 32, else from l1.
    const __m512i s0 = _mm512_permutex2var_epi16(l0, _mm512_load_si512(g_tables.zigzag), l1);
    const __m512i s1 = _mm512_permutex2var_epi16(l0, _mm512_load_si512(g_tables.zigzag + 32), l1);
    _mm512_storeu_si512(levels, s0);
    _mm512_storeu_si512(levels + 32, s1);
    return uint64_t(_mm512_test_epi16_mask(s0, s0)) | uint64_t(_mm512_test_epi16_mask(s1, s1)) << 32;
}

// Rounded to the nearest integer (ties to even, as MXCSR has it), clamped to
// 0..255 as the packs of the other variants clamp, two rows a vector.
void StoreBlockAvx512(const float* acc, uint8_t* dst, int stride) {
    const __m512i zero = _mm512_setzero_si512();
    for (int y = 0; y < 8; y += 2) {
        const __m512i v = _mm512_max_epi32(_mm512_cvtps_epi32(_mm512_loadu_ps(acc + y * 8)), zero);
        const __m128i bytes = _mm512_cvtusepi32_epi8(v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (y + 1) * stride), _mm_unpackhi_epi64(bytes, bytes));
    }
}

// The accumulator of a block in four registers while its coefficients are
// added.
struct ZmmSlice {
    struct Acc {
        __m512 v[4];
    };
    static inline void Fill(Acc& a, float value) {
        const __m512 f = _mm512_set1_ps(value);
#pragma GCC unroll 4
        for (auto& x : a.v) x = f;
    }
    static inline void Add(Acc& a, const float* b, int, int value) {
        // Converted in the vector: the same exact conversion as float(value)
        // without a scalar step and its broadcast.
        const __m512 s = _mm512_cvtepi32_ps(_mm512_set1_epi32(value));
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) a.v[i] = _mm512_add_ps(a.v[i], _mm512_mul_ps(s, _mm512_load_ps(b + 16 * i)));
    }
    // The block's samples as bytes, row by row: rounded as StoreBlockAvx512
    // rounds, and clamped by the two saturating packs (to 16 bits signed,
    // then to 0..255), which give what its clamp gives for every integer.
    struct Block {
        alignas(64) uint8_t bytes[64];
    };
    static inline void Save(const Acc& a, Block& out) {
        const __m512i rows01 = _mm512_cvtps_epi32(a.v[0]), rows23 = _mm512_cvtps_epi32(a.v[1]);
        const __m512i rows45 = _mm512_cvtps_epi32(a.v[2]), rows67 = _mm512_cvtps_epi32(a.v[3]);
        // Lane l of the packs holds four samples of each pair of rows j in
        // dword 4 l + j; row order wants them in dword 4 j + l.
        const __m512i packed = _mm512_packus_epi16(_mm512_packs_epi32(rows01, rows23), _mm512_packs_epi32(rows45, rows67));
        const __m512i order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
        _mm512_store_si512(out.bytes, _mm512_permutexvar_epi32(order, packed));
    }
    static inline void StoreBlock(const Block& b, uint8_t* dst, int stride) {
#pragma GCC unroll 8
        for (int y = 0; y < 8; ++y) __builtin_memcpy(dst + y * stride, b.bytes + 8 * y, 8);
    }
};

bool DecodeSliceAvx512(const SliceJob& job) { return DecodeSliceWith<ZmmSlice>(job); }

}  // namespace

const KernelOverride kAvx512Kernels = {
    kCpuSse2 | kCpuSse3 | kCpuSsse3 | kCpuSse41 | kCpuSse42 | kCpuPopcnt | kCpuAvx | kCpuAvx2 | kCpuAvx512,
    {TransformVariant::Avx512, ForwardTransformAvx512, ForwardPixelsAvx512, AddBasisImageAvx512, QuantiseAvx512,
     StoreBlockAvx512, DecodeSliceAvx512, ForwardPixelsPairAvx512, QuantiseToScanAvx512},
};

}  // namespace rk::detail

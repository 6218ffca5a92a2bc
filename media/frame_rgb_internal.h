#pragma once
// Shared by the colour step's row functions (frame_rgb.cpp and the AVX2
// file): the coefficients and the store of eight pixels.
#include <emmintrin.h>

#include <cstdint>

#include "media/frame_rgb.h"

namespace rk::rgb_internal {

inline constexpr float kLuma = 1.164f;
inline constexpr float kRCr = 1.793f;
inline constexpr float kGCb = 0.213f;
inline constexpr float kGCr = 0.534f;
inline constexpr float kBCb = 2.115f;

// Stores eight pixels as four bytes each in `layout` (RGBA or BGRT) from
// their channels as 32-bit lanes (pixels 0..3 in the first of each pair).
// Every value lies within 0..~560, so the signed 16-bit pack keeps it and
// the unsigned 8-bit one clamps it to 255.
inline void Store8(__m128i r0, __m128i r1, __m128i g0, __m128i g1, __m128i b0, __m128i b1, uint8_t* out,
                   RgbLayout layout) {
    const __m128i r16 = _mm_packs_epi32(r0, r1), g16 = _mm_packs_epi32(g0, g1), b16 = _mm_packs_epi32(b0, b1);
    __m128i first, second;
    if (layout == RgbLayout::kRgba) {
        first = _mm_packus_epi16(r16, b16);                   // r0..r7 b0..b7
        second = _mm_packus_epi16(g16, _mm_set1_epi16(255));  // g0..g7 255 x 8
    } else {
        first = _mm_packus_epi16(b16, r16);                    // b0..b7 r0..r7
        second = _mm_packus_epi16(g16, _mm_setzero_si128());   // g0..g7 0 x 8
    }
    const __m128i lo = _mm_unpacklo_epi8(first, second);  // the first two bytes of each pixel
    const __m128i hi = _mm_unpackhi_epi8(first, second);  // the last two
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(lo, hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(lo, hi));
}

// The AVX2 row body: pixels from 0 in steps of 16 while whole steps fit,
// RGBA or BGRT; answers the pixels done (x86-64 builds only).
using RowBodyFn = int (*)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out,
                          RgbLayout layout);
RowBodyFn Avx2RowBody();

}  // namespace rk::rgb_internal

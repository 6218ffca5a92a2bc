#pragma once
// The one reading of a card frame's colours: studio-range Y'CbCr with BT.709
// coefficients to 8-bit RGB, as the thumbnails, every read-back, the title
// cards and the player see them. Each term is the single-precision product
// (1.164 (Y - 16), 1.793 (Cr - 128), 0.213 (Cb - 128), 0.534 (Cr - 128),
// 2.115 (Cb - 128)), summed in the order R = y + r, G = y - g1 - g2,
// B = y + b and rounded half up, clamped to 0..255. The row functions do it
// eight or sixteen pixels at a time with exactly those operations, so every
// road gives the same bytes.
#include <cstddef>
#include <cstdint>

namespace rk {

// One pixel, the reference every row function is held to.
void YCbCrToRgbPixel(int y, int cb, int cr, uint8_t& r, uint8_t& g, uint8_t& b);

// Where a row function puts each pixel's bytes.
enum class RgbLayout : int {
    kRgb24,  // R, G, B
    kRgba,   // R, G, B, 255 (QImage::Format_RGBA8888)
    kBgrt,   // B, G, R, 0 (CPicture: transparency 0, opaque)
};

// Converts `width` pixels of one row: luma `y[0..width)`, chroma
// `cb`/`cr[0..width/2)` (each chroma sample serves two luma samples; an odd
// last pixel takes sample width / 2). `out` receives 3 or 4 bytes a pixel.
void YCbCrRowToRgb(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out,
                   RgbLayout layout);
// The same, one pixel at a time through YCbCrToRgbPixel (tests, benches).
void YCbCrRowToRgbScalar(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out,
                         RgbLayout layout);
// The same with the SSE2 body only, whatever the processor (tests, benches).
void YCbCrRowToRgbSse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out,
                       RgbLayout layout);
// Which body YCbCrRowToRgb took on this processor: "avx2" when the processor
// has it and RK_KVQ1_KERNELS (the codec's cap) allows it, else "sse2".
const char* RgbRowVariant();

}  // namespace rk

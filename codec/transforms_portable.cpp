// The portable kernels: plain C++ with exactly the arithmetic of the SSE
// variant (same products, same grouping of the sums), for processors without
// the x86 vector units and as the reference the vector variants are checked
// against.
#include <cmath>

#include "codec/kvq1_tables.h"
#include "codec/decode_slice_impl.h"
#include "codec/transforms_internal.h"

namespace rk::detail {

namespace {

inline float Sum8(const float* p) {
    return ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
}

// Coefficients in scan order (scan) or natural order (8 v + u).
void ForwardFloat(const float* in, int32_t* out, bool scan) {
    const auto& D = g_tables.dct;
    float t[8][8];  // t[u][y]
    float p[8];
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u) {
            for (int x = 0; x < 8; ++x) p[x] = in[y * 8 + x] * D[u][x];
            t[u][y] = Sum8(p);
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            for (int y = 0; y < 8; ++y) p[y] = t[u][y] * D[v][y];
            out[scan ? kZigzagInverse[v * 8 + u] : v * 8 + u] = int32_t(std::nearbyint(Sum8(p)));
        }
}

void ForwardTransformPortable(const int32_t* in, int32_t* out) {
    float f[64];
    for (int i = 0; i < 64; ++i) f[i] = float(in[i]);
    ForwardFloat(f, out, true);
}

void ForwardPixelsPortable(const uint8_t* src, int stride, int16_t* out) {
    float f[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) f[y * 8 + x] = float(int(src[y * stride + x]) - 128);
    int32_t wide[64];
    ForwardFloat(f, wide, false);
    for (int i = 0; i < 64; ++i) out[i] = int16_t(wide[i]);
}

void AddBasisImagePortable(float* acc, int position, int value) {
    const float v = float(value);
    const float* b = g_tables.basis[position];
    for (int i = 0; i < 64; ++i) {
        const float product = v * b[i];
        acc[i] = acc[i] + product;
    }
}

uint64_t QuantisePortable(const int16_t* coef, const float* multipliers, int16_t* levels) {
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i) {
        const float q = float(coef[i]) * multipliers[i];
        const int level = int(q);  // truncation toward zero
        levels[i] = int16_t(level);
        if (level != 0) mask |= uint64_t(1) << i;
    }
    return mask;
}

void StoreBlockPortable(const float* acc, uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const float r = std::nearbyint(acc[y * 8 + x]);
            dst[y * stride + x] = uint8_t(r < 0.0f ? 0.0f : r > 255.0f ? 255.0f : r);
        }
}

bool DecodeSlicePortable(const SliceJob& job) {
    return DecodeSliceWith<MemorySlice<AddBasisImagePortable, StoreBlockPortable>>(job);
}

}  // namespace

const TransformKernels kPortableKernels = {
    TransformVariant::Portable, ForwardTransformPortable, ForwardPixelsPortable,
    AddBasisImagePortable,      QuantisePortable,         StoreBlockPortable,
    DecodeSlicePortable,        ForwardPixelsPairOf<ForwardPixelsPortable>, QuantiseToScanOf<QuantisePortable>,
};

}  // namespace rk::detail

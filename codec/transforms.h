#pragma once
// The 8 x 8 DCT of the KVQ1 codec in single precision: the shared tables
// (basis images, DCT matrix) and the processor-specific kernels behind function
// slots that are filled once per process.
//
// The slots take the AVX variants when CPUID leaf 1 reports OSXSAVE and AVX,
// otherwise the SSE variants. The environment variable RK_KVQ1_KERNELS
// (portable | sse | avx) forces a variant when the processor has it; it is read
// once, by the first InitTransforms.
#include <cstddef>
#include <cstdint>

namespace rk {

enum class TransformVariant : int { Portable = 0, Sse = 1, Avx = 2 };
const char* TransformVariantName(TransformVariant v);

// out[64] = forward DCT of in[64] (8 x 8 samples minus 128, row by row), in
// scan order, rounded to the nearest integer with ties to even.
using ForwardTransformFn = void (*)(const int32_t* in, int32_t* out);
// Same arithmetic, reading the 8 x 8 block of bytes at src (line stride
// `stride`) and subtracting 128 itself, but giving the coefficients in natural
// order (8 v + u): the encoder's quantiser reorders them.
using ForwardPixelsFn = void (*)(const uint8_t* src, int stride, int32_t* out);
// acc[64] (row by row, 32-byte aligned) += float(value) * BasisImages()[position],
// multiply then add, no fused multiply-add.
using AddBasisImageFn = void (*)(float* acc, int position, int value);
// levels[i] = (coef[i] * 32) / divisors[i], truncated toward zero, for the 64
// entries, where divisors[i] = weight x quantiser as a float (the quotient is
// correctly rounded and |coef x 32| < 2^24, so truncating it gives the integer
// quotient exactly). Works in whichever order coef and divisors share. Returns
// a mask with bit i set for every nonzero level. levels and divisors are
// 32-byte aligned.
using QuantiseFn = uint64_t (*)(const int32_t* coef, const float* divisors, int16_t* levels);
// Rounds acc[64] to the nearest integer (ties to even), clamps to 0..255 and
// stores the 8 x 8 bytes at dst with line stride `stride`.
using StoreBlockFn = void (*)(const float* acc, uint8_t* dst, int stride);

// One slice of a frame for the slice decoder: `bytes` readable bytes from
// `data` (the slice data) and the row's output cursors. Every macroblock
// carries its quantiser and the DC predictors start at 0 in every slice, so
// the slice decoder keeps both to itself.
struct SliceJob {
    const uint8_t* data;
    size_t bytes;
    uint8_t* luma;
    uint8_t* cb;
    uint8_t* cr;
    int width;
    int columns;
};
// Decodes the macroblocks of one slice; false when a block fails (that
// macroblock and the ones after it are not written).
using DecodeSliceFn = bool (*)(const SliceJob& job);

struct TransformKernels {
    TransformVariant variant;
    ForwardTransformFn forwardTransform;
    ForwardPixelsFn forwardPixels;
    AddBasisImageFn addBasisImage;
    QuantiseFn quantise;
    StoreBlockFn storeBlock;
    DecodeSliceFn decodeSlice;
};

// Builds the tables and fills the slots, once; thread-safe; later calls return
// at once.
void InitTransforms();

// The kernels chosen for this process (calls InitTransforms).
const TransformKernels& ActiveKernels();
// The kernels of one variant, or nullptr when this processor (or this build)
// cannot run it. For tests and benchmarks. Calls InitTransforms.
const TransformKernels* KernelsFor(TransformVariant v);

// The slots, after InitTransforms.
void ForwardTransform(const int32_t* in, int32_t* out);
void AddBasisImage(float* acc, int position, int value);

// Shared tables (valid after InitTransforms).
const float* BasisImages();           // 64 images of 64 floats, indexed by scan position
const float* DctMatrix();             // 8 x 8, row u, column x
const float* DctMatrixTransposed();   // 8 x 8

// What the processor reports (CPUID leaf 1, ECX bits 27 and 28).
bool CpuHasAvx();
// The dispatch rule, exposed for tests: AVX only when both bits are set.
TransformVariant ChooseVariant(uint32_t cpuidLeaf1Ecx);

}  // namespace rk

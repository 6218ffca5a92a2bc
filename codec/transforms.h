#pragma once
// The 8 x 8 DCT of the KVQ1 codec in single precision: the shared tables
// (basis images, DCT matrix) and the processor-specific kernels behind function
// slots that are filled once per process.
//
// Every slot starts with the portable function; a vector variant replaces it
// only when the processor reports every instruction set that variant's file is
// compiled for (the SSE file: SSE2 to SSE4.1; the AVX file: up to AVX, and the
// operating system saving the 256-bit registers, seen through XGETBV; the AVX2
// file: AVX2 as well; the AVX-512 file: its F, BW and VL parts and the system
// saving the mask and 512-bit registers). The environment variable
// RK_KVQ1_KERNELS (portable | sse | avx | avx2 | avx512) caps the variant at
// that level; it is read once, by the first InitTransforms. What each slot
// took is logged and given by DescribeKernels().
#include <cstddef>
#include <cstdint>
#include <string>

namespace rk {

enum class TransformVariant : int { Portable = 0, Sse = 1, Avx = 2, Avx2 = 3, Avx512 = 4 };
constexpr int kTransformVariantCount = 5;
const char* TransformVariantName(TransformVariant v);

// out[64] = forward DCT of in[64] (8 x 8 samples minus 128, row by row), in
// scan order, rounded to the nearest integer with ties to even.
using ForwardTransformFn = void (*)(const int32_t* in, int32_t* out);
// Same arithmetic, reading the 8 x 8 block of bytes at src (line stride
// `stride`) and subtracting 128 itself, but giving the coefficients in natural
// order (8 v + u), as 16-bit numbers (they lie within +-1024): the encoder
// keeps a frame's coefficients, and half the bytes are half the memory traffic.
using ForwardPixelsFn = void (*)(const uint8_t* src, int stride, int16_t* out);
// ForwardPixels of the block at `a` into out[0..63] and of the block at `b`
// (same stride) into out[64..127]: the encoder transforms a macroblock's
// blocks in pairs, which a wide enough vector does at once.
using ForwardPixelsPairFn = void (*)(const uint8_t* a, const uint8_t* b, int stride, int16_t* out);
// acc[64] (row by row, 32-byte aligned) += float(value) * BasisImages()[position],
// multiply then add, no fused multiply-add.
using AddBasisImageFn = void (*)(float* acc, int position, int value);
// levels[i] = (coef[i] * 32) / d_i, the integer quotient truncated toward
// zero, for the 64 entries with |coef[i]| <= 16384, where d_i = weight x
// quantiser and multipliers[i] = QuantiseMultiplier(d_i): one product per
// coefficient, truncated. Works in whichever order coef and multipliers
// share. Returns a mask with bit i set for every nonzero level. levels and
// multipliers are 32-byte aligned.
using QuantiseFn = uint64_t (*)(const int16_t* coef, const float* multipliers, int16_t* levels);
// The same quotients for coefficients and multipliers in natural order
// (8 v + u), given by scan position: levels[i] is the level of natural index
// kZigzag[i], and bit i of the answer is set when it is nonzero. Only the
// levels at the positions set in the answer need be written.
using QuantiseToScanFn = uint64_t (*)(const int16_t* coef, const float* multipliers, int16_t* levels);
// 32 / divisor made a little larger (by 2^-21, give or take the float's own
// rounding), so that truncating coef x multiplier gives the exact integer
// quotient of coef x 32 by the divisor. An exact quotient n comes out at
// least n; any other lies at least 1 / divisor below the next integer, far
// more than the product's error for the divisors (up to 255 x 64) and
// coefficients (up to 16384) the encoder meets.
inline float QuantiseMultiplier(int divisor) { return float(32.0 / divisor * (1.0 + 1.0 / (1 << 21))); }
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
    TransformVariant variant;  // the highest variant any slot took
    ForwardTransformFn forwardTransform;
    ForwardPixelsFn forwardPixels;
    AddBasisImageFn addBasisImage;
    QuantiseFn quantise;
    StoreBlockFn storeBlock;
    DecodeSliceFn decodeSlice;
    ForwardPixelsPairFn forwardPixelsPair;
    QuantiseToScanFn quantiseToScan;
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

// The instruction sets a kernel file may be compiled for, as bits.
enum CpuFeature : uint32_t {
    kCpuSse2 = 1u << 0,
    kCpuSse3 = 1u << 1,
    kCpuSsse3 = 1u << 2,
    kCpuSse41 = 1u << 3,
    kCpuSse42 = 1u << 4,
    kCpuPopcnt = 1u << 5,
    kCpuAvx = 1u << 6,  // the processor has AVX and the system saves the YMM registers
    kCpuAvx2 = 1u << 7,  // AVX2, and everything kCpuAvx says
    // AVX-512 F, BW and VL, and the system saves the mask registers and all
    // 32 registers at 512 bits
    kCpuAvx512 = 1u << 8,
};

// The answers of CPUID leaf 1, of leaf 7 (sub-leaf 0) when the processor has
// it, and, when ECX reports OSXSAVE, of XGETBV(0).
struct CpuidAnswers {
    bool leaf1 = false;  // leaf 1 exists
    uint32_t ecx = 0;
    uint32_t edx = 0;
    uint64_t xcr0 = 0;  // only meaningful with OSXSAVE
    bool leaf7 = false;  // leaf 7 exists
    uint32_t ebx7 = 0;   // leaf 7's EBX: AVX2 (bit 5), AVX-512 F (16), BW (30), VL (31)
};
// What this processor answers (all zero off x86).
CpuidAnswers ReadCpuid();
// The features the answers grant: AVX only with OSXSAVE and XCR0's SSE and
// AVX state bits (1 and 2) both set; AVX2 only with AVX granted; AVX-512
// only with AVX2 granted and XCR0's opmask and ZMM state bits (5 to 7) set.
uint32_t CpuFeaturesFrom(const CpuidAnswers& cpu);

// The slots by position, for reports.
enum class TransformSlot : int {
    ForwardTransform,
    ForwardPixels,
    AddBasisImage,
    Quantise,
    StoreBlock,
    DecodeSlice,
    ForwardPixelsPair,
    QuantiseToScan,
};
constexpr int kTransformSlotCount = 8;
const char* TransformSlotName(TransformSlot s);

// The dispatch rule: portable functions, overridden slot by slot by every
// variant up to `cap` whose features are all in `features`.
struct KernelChoice {
    TransformKernels kernels;
    TransformVariant took[kTransformSlotCount];
};
KernelChoice ChooseKernels(uint32_t features, TransformVariant cap = TransformVariant::Avx512);

// True when this processor and its operating system can run the AVX kernels.
bool CpuHasAvx();
// One line per slot, "forwardTransform: AVX", for `--version --verbose`.
std::string DescribeKernels();

}  // namespace rk

#pragma once
// Tables and kernel sets shared by the transform variants (not for users of
// the codec: they go through transforms.h).
#include "codec/kvq1_tables.h"
#include "codec/transforms.h"

namespace rk::detail {

struct TransformTables {
    alignas(64) float basis[64][64];        // by scan position, row by row
    alignas(32) float dct[8][8];            // row u, column x
    alignas(32) float dctT[8][8];           // row x, column u
    alignas(32) float dctSplat[8][8][4];    // dct[v][y] repeated four times
    alignas(32) float dctSplat8[8][8][8];   // dct[v][y] repeated eight times
    alignas(64) int16_t zigzag[64];         // kZigzag as 16-bit lane indices
};
extern TransformTables g_tables;

extern const TransformKernels kPortableKernels;

// The functions of one vector variant (a slot it does not provide is null)
// and the instruction sets its file is compiled for.
struct KernelOverride {
    uint32_t needs;
    TransformKernels kernels;
};
#if defined(RK_CODEC_X86)
extern const KernelOverride kSseKernels;
extern const KernelOverride kAvxKernels;
extern const KernelOverride kAvx2Kernels;
extern const KernelOverride kAvx512Kernels;
#endif

// The pair slot of a variant whose vectors hold one block: its one-block
// kernel twice.
template <ForwardPixelsFn Forward>
void ForwardPixelsPairOf(const uint8_t* a, const uint8_t* b, int stride, int16_t* out) {
    Forward(a, stride, out);
    Forward(b, stride, out + 64);
}

// The scan-order slot of a variant without a lane permute: its quantiser,
// then the mask through the table and the nonzero levels one by one. (The
// table is read here rather than through NaturalMaskToScanMask: an inline
// function shared by files of different instruction sets may be kept in
// whichever file's compilation the linker meets first.)
template <QuantiseFn Quantise>
uint64_t QuantiseToScanOf(const int16_t* coef, const float* multipliers, int16_t* levels) {
    alignas(32) int16_t natural[64];
    const uint64_t mask = Quantise(coef, multipliers, natural);
    uint64_t scan = 0;
    for (int j = 0; j < 8; ++j) scan |= kNaturalToScanMasks[j * 256 + ((mask >> (8 * j)) & 0xFF)];
    for (uint64_t m = scan; m; m &= m - 1) {
        const int i = __builtin_ctzll(m);
        levels[i] = natural[kZigzag[i]];
    }
    return scan;
}

}  // namespace rk::detail

#pragma once
// Tables and kernel sets shared by the transform variants (not for users of
// the codec: they go through transforms.h).
#include "codec/transforms.h"

namespace rk::detail {

struct TransformTables {
    alignas(32) float basis[64][64];        // by scan position, row by row
    alignas(32) float dct[8][8];            // row u, column x
    alignas(32) float dctT[8][8];           // row x, column u
    alignas(32) float dctSplat[8][8][4];    // dct[v][y] repeated four times
    alignas(32) float dctSplat8[8][8][8];   // dct[v][y] repeated eight times
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
#endif

}  // namespace rk::detail

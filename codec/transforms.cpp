// The shared DCT tables, their one-time construction and the choice of kernel
// variant for this processor.
#include "codec/transforms.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/log.h"
#include "codec/kvq1_tables.h"
#include "codec/transforms_internal.h"

#if defined(RK_CODEC_X86)
#include <cpuid.h>
#endif

namespace rk {

namespace detail {
TransformTables g_tables;
}

namespace {

std::once_flag g_once;
const TransformKernels* g_active = &detail::kPortableKernels;
bool g_hasAvx = false;

void BuildTables() {
    auto& t = detail::g_tables;
    const float c0 = float(std::sqrt(1.0 / 8.0));
    auto C = [&](int k) { return k == 0 ? c0 : 0.5f; };
    auto cosine = [](int n) { return std::cos(double(n) * M_PI * 0.0625); };

    for (int u = 0; u < 8; ++u)
        for (int x = 0; x < 8; ++x) {
            const float d = u == 0 ? c0 : float(cosine((2 * x + 1) * u) * 0.5);
            t.dct[u][x] = d;
            t.dctT[x][u] = d;
            for (int k = 0; k < 4; ++k) t.dctSplat[u][x][k] = d;
        }

    for (int i = 0; i < 64; ++i) {
        const int k = kZigzag[i];
        const int v = k / 8, u = k % 8;
        const float s = C(v) * C(u);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                t.basis[i][y * 8 + x] =
                    float((double(s) * cosine((2 * x + 1) * u)) * cosine((2 * y + 1) * v));
    }
}

void Initialise() {
    BuildTables();
    TransformVariant chosen = TransformVariant::Portable;
#if defined(RK_CODEC_X86)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_count(1, 0, &a, &b, &c, &d)) {
        chosen = ChooseVariant(c);
        g_hasAvx = chosen == TransformVariant::Avx;
    } else {
        chosen = TransformVariant::Sse;  // every x86-64 processor has SSE2/SSE3
    }
#endif
    if (const char* force = std::getenv("RK_KVQ1_KERNELS")) {
        TransformVariant wanted = chosen;
        if (std::strcmp(force, "portable") == 0) wanted = TransformVariant::Portable;
        else if (std::strcmp(force, "sse") == 0) wanted = TransformVariant::Sse;
        else if (std::strcmp(force, "avx") == 0) wanted = TransformVariant::Avx;
#if defined(RK_CODEC_X86)
        if (wanted != TransformVariant::Avx || g_hasAvx) chosen = wanted;
#else
        chosen = TransformVariant::Portable;
#endif
    }
#if defined(RK_CODEC_X86)
    g_active = chosen == TransformVariant::Avx   ? &detail::kAvxKernels
               : chosen == TransformVariant::Sse ? &detail::kSseKernels
                                                 : &detail::kPortableKernels;
#endif
    LogMessage(2, "InitTransforms(): %s kernels", TransformVariantName(g_active->variant));
}

}  // namespace

const char* TransformVariantName(TransformVariant v) {
    switch (v) {
    case TransformVariant::Portable: return "portable";
    case TransformVariant::Sse: return "SSE";
    case TransformVariant::Avx: return "AVX";
    }
    return "?";
}

TransformVariant ChooseVariant(uint32_t ecx) {
    const uint32_t osxsave = 1u << 27, avx = 1u << 28;
    return (ecx & osxsave) && (ecx & avx) ? TransformVariant::Avx : TransformVariant::Sse;
}

void InitTransforms() { std::call_once(g_once, Initialise); }

const TransformKernels& ActiveKernels() {
    InitTransforms();
    return *g_active;
}

const TransformKernels* KernelsFor(TransformVariant v) {
    InitTransforms();
    switch (v) {
    case TransformVariant::Portable: return &detail::kPortableKernels;
#if defined(RK_CODEC_X86)
    case TransformVariant::Sse: return &detail::kSseKernels;
    case TransformVariant::Avx: return g_hasAvx ? &detail::kAvxKernels : nullptr;
#else
    default: return nullptr;
#endif
    }
    return nullptr;
}

bool CpuHasAvx() {
    InitTransforms();
    return g_hasAvx;
}

void ForwardTransform(const int32_t* in, int32_t* out) { g_active->forwardTransform(in, out); }
void AddBasisImage(float* acc, int position, int value) { g_active->addBasisImage(acc, position, value); }

const float* BasisImages() { return &detail::g_tables.basis[0][0]; }
const float* DctMatrix() { return &detail::g_tables.dct[0][0]; }
const float* DctMatrixTransposed() { return &detail::g_tables.dctT[0][0]; }

}  // namespace rk

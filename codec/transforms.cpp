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
            for (int k = 0; k < 8; ++k) t.dctSplat8[u][x][k] = d;
        }
    for (int i = 0; i < 64; ++i) t.zigzag[i] = int16_t(kZigzag[i]);

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

// The tables of each variant as dispatched for this processor: portable
// functions overridden by every variant up to that one. Null where the
// processor lacks the variant.
TransformKernels g_variants[kTransformVariantCount];
bool g_runs[kTransformVariantCount] = {true};
KernelChoice g_choice;

constexpr TransformVariant kHighestVariant = TransformVariant(kTransformVariantCount - 1);

// A cap asked for in RK_KVQ1_KERNELS, or the highest variant (no cap).
TransformVariant CapFromEnvironment() {
    const char* force = std::getenv("RK_KVQ1_KERNELS");
    if (!force) return kHighestVariant;
    static const char* const kNames[kTransformVariantCount] = {"portable", "sse", "avx", "avx2", "avx512"};
    for (int v = 0; v < kTransformVariantCount; ++v)
        if (std::strcmp(force, kNames[v]) == 0) return TransformVariant(v);
    return kHighestVariant;
}

void Initialise() {
    BuildTables();
    const uint32_t features = CpuFeaturesFrom(ReadCpuid());
    for (int v = 0; v < kTransformVariantCount; ++v) {
        const KernelChoice c = ChooseKernels(features, TransformVariant(v));
        g_variants[v] = c.kernels;
        g_runs[v] = c.kernels.variant == TransformVariant(v);
    }
    g_choice = ChooseKernels(features, CapFromEnvironment());
    g_active = &g_choice.kernels;
    LogMessage(2, "InitTransforms(): %s kernels (processor features 0x%x)", TransformVariantName(g_active->variant),
               unsigned(features));
    for (int i = 0; i < kTransformSlotCount; ++i)
        LogMessage(2, "InitTransforms(): %s: %s", TransformSlotName(TransformSlot(i)),
                   TransformVariantName(g_choice.took[i]));
}

// Replaces `slot` by `fn` when the variant has one, and notes who took it.
template <class Fn>
void Override(Fn& slot, Fn fn, TransformVariant variant, TransformVariant& took) {
    if (!fn) return;
    slot = fn;
    took = variant;
}

#if defined(RK_CODEC_X86)
void Apply(KernelChoice& c, const detail::KernelOverride& o, uint32_t features) {
    if ((features & o.needs) != o.needs) return;
    const TransformVariant v = o.kernels.variant;
    TransformKernels& k = c.kernels;
    auto* took = c.took;
    Override(k.forwardTransform, o.kernels.forwardTransform, v, took[int(TransformSlot::ForwardTransform)]);
    Override(k.forwardPixels, o.kernels.forwardPixels, v, took[int(TransformSlot::ForwardPixels)]);
    Override(k.addBasisImage, o.kernels.addBasisImage, v, took[int(TransformSlot::AddBasisImage)]);
    Override(k.quantise, o.kernels.quantise, v, took[int(TransformSlot::Quantise)]);
    Override(k.storeBlock, o.kernels.storeBlock, v, took[int(TransformSlot::StoreBlock)]);
    Override(k.decodeSlice, o.kernels.decodeSlice, v, took[int(TransformSlot::DecodeSlice)]);
    Override(k.forwardPixelsPair, o.kernels.forwardPixelsPair, v, took[int(TransformSlot::ForwardPixelsPair)]);
    Override(k.quantiseToScan, o.kernels.quantiseToScan, v, took[int(TransformSlot::QuantiseToScan)]);
    k.variant = v;
}
#endif

}  // namespace

const char* TransformVariantName(TransformVariant v) {
    switch (v) {
    case TransformVariant::Portable: return "portable";
    case TransformVariant::Sse: return "SSE";
    case TransformVariant::Avx: return "AVX";
    case TransformVariant::Avx2: return "AVX2";
    case TransformVariant::Avx512: return "AVX-512";
    }
    return "?";
}

const char* TransformSlotName(TransformSlot s) {
    switch (s) {
    case TransformSlot::ForwardTransform: return "forwardTransform";
    case TransformSlot::ForwardPixels: return "forwardPixels";
    case TransformSlot::AddBasisImage: return "addBasisImage";
    case TransformSlot::Quantise: return "quantise";
    case TransformSlot::StoreBlock: return "storeBlock";
    case TransformSlot::DecodeSlice: return "decodeSlice";
    case TransformSlot::ForwardPixelsPair: return "forwardPixelsPair";
    case TransformSlot::QuantiseToScan: return "quantiseToScan";
    }
    return "?";
}

CpuidAnswers ReadCpuid() {
    CpuidAnswers a;
#if defined(RK_CODEC_X86)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return a;
    a.leaf1 = true;
    a.ecx = ecx;
    a.edx = edx;
    // XGETBV faults unless the system has enabled it, which OSXSAVE reports.
    if (ecx & (1u << 27)) {
        uint32_t lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        a.xcr0 = (uint64_t(hi) << 32) | lo;
    }
    if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        a.leaf7 = true;
        a.ebx7 = ebx;
    }
#endif
    return a;
}

uint32_t CpuFeaturesFrom(const CpuidAnswers& cpu) {
    if (!cpu.leaf1) return 0;
    uint32_t f = 0;
    auto grant = [&](bool present, uint32_t bit) {
        if (present) f |= bit;
    };
    grant(cpu.edx & (1u << 26), kCpuSse2);
    grant(cpu.ecx & (1u << 0), kCpuSse3);
    grant(cpu.ecx & (1u << 9), kCpuSsse3);
    grant(cpu.ecx & (1u << 19), kCpuSse41);
    grant(cpu.ecx & (1u << 20), kCpuSse42);
    grant(cpu.ecx & (1u << 23), kCpuPopcnt);
    const bool osxsave = cpu.ecx & (1u << 27), avx = cpu.ecx & (1u << 28);
    const uint64_t ymmState = (1u << 1) | (1u << 2);  // XMM and upper-YMM state saved
    grant(osxsave && avx && (cpu.xcr0 & ymmState) == ymmState, kCpuAvx);
    if (!(f & kCpuAvx) || !cpu.leaf7) return f;
    grant(cpu.ebx7 & (1u << 5), kCpuAvx2);
    // F, BW and VL; opmask, upper halves of ZMM0-15 and ZMM16-31 saved.
    const uint32_t avx512 = (1u << 16) | (1u << 30) | (1u << 31);
    const uint64_t zmmState = ymmState | (1u << 5) | (1u << 6) | (1u << 7);
    grant((f & kCpuAvx2) && (cpu.ebx7 & avx512) == avx512 && (cpu.xcr0 & zmmState) == zmmState, kCpuAvx512);
    return f;
}

KernelChoice ChooseKernels(uint32_t features, TransformVariant cap) {
    KernelChoice c;
    c.kernels = detail::kPortableKernels;
    for (auto& t : c.took) t = TransformVariant::Portable;
#if defined(RK_CODEC_X86)
    if (cap >= TransformVariant::Sse) Apply(c, detail::kSseKernels, features);
    if (cap >= TransformVariant::Avx) Apply(c, detail::kAvxKernels, features);
    if (cap >= TransformVariant::Avx2) Apply(c, detail::kAvx2Kernels, features);
    if (cap >= TransformVariant::Avx512) Apply(c, detail::kAvx512Kernels, features);
#else
    (void)features;
    (void)cap;
#endif
    return c;
}

void InitTransforms() { std::call_once(g_once, Initialise); }

const TransformKernels& ActiveKernels() {
    InitTransforms();
    return *g_active;
}

const TransformKernels* KernelsFor(TransformVariant v) {
    InitTransforms();
    const int i = int(v);
    if (i < 0 || i >= kTransformVariantCount || !g_runs[i]) return nullptr;
    return &g_variants[i];
}

bool CpuHasAvx() {
    InitTransforms();
    return g_runs[int(TransformVariant::Avx)];
}

std::string DescribeKernels() {
    InitTransforms();
    std::string out;
    for (int i = 0; i < kTransformSlotCount; ++i) {
        out += TransformSlotName(TransformSlot(i));
        out += ": ";
        out += TransformVariantName(g_choice.took[i]);
        out += "\n";
    }
    return out;
}

void ForwardTransform(const int32_t* in, int32_t* out) { g_active->forwardTransform(in, out); }
void AddBasisImage(float* acc, int position, int value) { g_active->addBasisImage(acc, position, value); }

const float* BasisImages() { return &detail::g_tables.basis[0][0]; }
const float* DctMatrix() { return &detail::g_tables.dct[0][0]; }
const float* DctMatrixTransposed() { return &detail::g_tables.dctT[0][0]; }

}  // namespace rk

// The DCT tables and kernels: worked examples, the dispatch rule and every
// vector variant checked against the portable reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "codec/kvq1_tables.h"
#include "codec/transforms.h"

using namespace rk;

namespace {

constexpr TransformVariant kAllVariants[] = {TransformVariant::Portable, TransformVariant::Sse, TransformVariant::Avx,
                                             TransformVariant::Avx2, TransformVariant::Avx512};

// The vector variants this processor runs; the others are left out, so a
// machine without them checks what it has.
std::vector<const TransformKernels*> VectorVariants() {
    std::vector<const TransformKernels*> v;
    for (auto t : kAllVariants)
        if (const TransformKernels* k = KernelsFor(t); k && t != TransformVariant::Portable) v.push_back(k);
    return v;
}

void FillBlock(int32_t* in, int value) {
    for (int i = 0; i < 64; ++i) in[i] = value;
}

}  // namespace

TEST(Transforms, FlatBlocksGiveTheExtremeDcValues) {
    InitTransforms();
    for (auto variant : kAllVariants) {
        const TransformKernels* k = KernelsFor(variant);
        if (!k) continue;
        int32_t in[64], out[64];
        FillBlock(in, -128);
        k->forwardTransform(in, out);
        EXPECT_EQ(out[0], -1024) << TransformVariantName(variant);
        for (int i = 1; i < 64; ++i) EXPECT_EQ(out[i], 0) << TransformVariantName(variant) << " " << i;
        FillBlock(in, 127);
        k->forwardTransform(in, out);
        EXPECT_EQ(out[0], 1016) << TransformVariantName(variant);
        for (int i = 1; i < 64; ++i) EXPECT_EQ(out[i], 0);
    }
}

TEST(Transforms, LeftDarkRightBrightHasOnlyOddHorizontalFrequencies) {
    for (auto variant : kAllVariants) {
        const TransformKernels* k = KernelsFor(variant);
        if (!k) continue;
        int32_t in[64], out[64];
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) in[y * 8 + x] = x < 4 ? -128 : 127;
        k->forwardTransform(in, out);
        EXPECT_EQ(out[0], -4);
        for (int i = 1; i < 64; ++i) {
            const int natural = kZigzag[i], v = natural / 8, u = natural % 8;
            if (v == 0 && (u % 2) == 1) {
                EXPECT_NE(out[i], 0) << "u=" << u;
            } else {
                EXPECT_EQ(out[i], 0) << "v=" << v << " u=" << u;
            }
        }
    }
}

TEST(Transforms, AddBasisImageExamples) {
    InitTransforms();
    for (auto variant : kAllVariants) {
        const TransformKernels* k = KernelsFor(variant);
        if (!k) continue;
        alignas(32) float acc[64];
        for (int i = 0; i < 64; ++i) acc[i] = 128.0f + float(i) * 0.25f;
        alignas(32) float before[64];
        std::memcpy(before, acc, sizeof acc);
        k->addBasisImage(acc, 17, 0);
        EXPECT_EQ(std::memcmp(acc, before, sizeof acc), 0);
        for (int i = 0; i < 64; ++i) acc[i] = 0.0f;
        k->addBasisImage(acc, 0, 8);
        for (int i = 0; i < 64; ++i) EXPECT_NEAR(acc[i], 1.0f, 1e-6f);
    }
    // S(0,0) is the single-precision square of the single-precision sqrt(1/8).
    const float c0 = float(std::sqrt(1.0 / 8.0));
    EXPECT_EQ(BasisImages()[0], c0 * c0);
    // Basis image 0 is flat; the decoder starts its blocks from that.
    for (int i = 1; i < 64; ++i) EXPECT_EQ(BasisImages()[i], BasisImages()[0]);
    EXPECT_EQ(DctMatrix()[0], c0);
    EXPECT_EQ(DctMatrix()[1 * 8 + 0], DctMatrixTransposed()[0 * 8 + 1]);
}

// CPUID answers of processors the program may meet, and what each slot takes.
namespace {
constexpr uint32_t kEdxSse2 = 1u << 26;
constexpr uint32_t kEcxSse3 = 1u << 0, kEcxSsse3 = 1u << 9, kEcxSse41 = 1u << 19, kEcxSse42 = 1u << 20,
                   kEcxPopcnt = 1u << 23, kEcxOsxsave = 1u << 27, kEcxAvx = 1u << 28;
constexpr uint32_t kEcxUpToSse42 = kEcxSse3 | kEcxSsse3 | kEcxSse41 | kEcxSse42 | kEcxPopcnt;
constexpr uint64_t kXcr0SseAvx = 0x7;  // x87, XMM and YMM state
constexpr uint32_t kEbxAvx2 = 1u << 5, kEbxF = 1u << 16, kEbxBw = 1u << 30, kEbxVl = 1u << 31;
constexpr uint32_t kEbxAvx512 = kEbxAvx2 | kEbxF | kEbxBw | kEbxVl;
constexpr uint64_t kXcr0Zmm = 0xE7;  // x87, XMM, YMM, opmask, ZMM0-15 upper halves, ZMM16-31

CpuidAnswers Cpu(uint32_t ecx, uint32_t edx, uint64_t xcr0 = 0) {
    CpuidAnswers a;
    a.leaf1 = true;
    a.ecx = ecx;
    a.edx = edx;
    a.xcr0 = xcr0;
    return a;
}

// Every slot took `want`, and the table holds that variant's functions.
void ExpectAllSlots(const KernelChoice& c, TransformVariant want) {
    EXPECT_EQ(c.kernels.variant, want);
    for (int i = 0; i < kTransformSlotCount; ++i) {
        EXPECT_EQ(c.took[i], want) << TransformSlotName(TransformSlot(i));
    }
    if (const TransformKernels* k = KernelsFor(want)) {
        EXPECT_EQ(c.kernels.forwardTransform, k->forwardTransform);
        EXPECT_EQ(c.kernels.decodeSlice, k->decodeSlice);
    }
}
}  // namespace

TEST(Transforms, DispatchTestsEveryFlagTheKernelsUse) {
    auto choose = [](const CpuidAnswers& a) { return ChooseKernels(CpuFeaturesFrom(a)); };
    // No leaf 1, or SSE2 only (the x86-64 baseline): the portable functions.
    ExpectAllSlots(choose(CpuidAnswers{}), TransformVariant::Portable);
    ExpectAllSlots(choose(Cpu(0, kEdxSse2)), TransformVariant::Portable);
    ExpectAllSlots(choose(Cpu(kEcxSse3 | kEcxSsse3, kEdxSse2)), TransformVariant::Portable);
    // SSE4.1 without SSSE3 below it is not enough for a file built with -msse4.1.
    ExpectAllSlots(choose(Cpu(kEcxSse41, kEdxSse2)), TransformVariant::Portable);
    // SSE4.1 without AVX.
    ExpectAllSlots(choose(Cpu(kEcxSse3 | kEcxSsse3 | kEcxSse41, kEdxSse2)), TransformVariant::Sse);
    ExpectAllSlots(choose(Cpu(kEcxUpToSse42, kEdxSse2)), TransformVariant::Sse);
    // AVX that the system does not save: no OSXSAVE, or XCR0 without the YMM bit.
    ExpectAllSlots(choose(Cpu(kEcxUpToSse42 | kEcxAvx, kEdxSse2)), TransformVariant::Sse);
    ExpectAllSlots(choose(Cpu(kEcxUpToSse42 | kEcxAvx, kEdxSse2, 0x7)), TransformVariant::Sse);
    ExpectAllSlots(choose(Cpu(kEcxUpToSse42 | kEcxAvx | kEcxOsxsave, kEdxSse2, 0x3)), TransformVariant::Sse);
    ExpectAllSlots(choose(Cpu(kEcxUpToSse42 | kEcxAvx | kEcxOsxsave, kEdxSse2, 0x5)), TransformVariant::Sse);
    // AVX with system support but no SSE4.1 (a hypervisor that hides it).
    ExpectAllSlots(choose(Cpu(kEcxAvx | kEcxOsxsave, kEdxSse2, kXcr0SseAvx)), TransformVariant::Portable);
    // Everything.
    const CpuidAnswers full = Cpu(kEcxUpToSse42 | kEcxAvx | kEcxOsxsave, kEdxSse2, kXcr0SseAvx);
#if defined(__x86_64__)
    ExpectAllSlots(choose(full), TransformVariant::Avx);
    // A cap stops the overrides at its level.
    ExpectAllSlots(ChooseKernels(CpuFeaturesFrom(full), TransformVariant::Sse), TransformVariant::Sse);
#endif
    ExpectAllSlots(ChooseKernels(CpuFeaturesFrom(full), TransformVariant::Portable), TransformVariant::Portable);
}

// Leaf 7's answers on top of a processor with AVX: which slots AVX2 and
// AVX-512 take, what the system must save for them, and every cap.
TEST(Transforms, DispatchOfTheWideVariants) {
    auto cpu = [](uint32_t ebx7, uint64_t xcr0 = kXcr0Zmm, uint32_t ecx = kEcxUpToSse42 | kEcxAvx | kEcxOsxsave) {
        CpuidAnswers a = Cpu(ecx, kEdxSse2, xcr0);
        a.leaf7 = true;
        a.ebx7 = ebx7;
        return CpuFeaturesFrom(a);
    };
    using V = TransformVariant;
    // What each slot takes, in slot order: AVX2 brings no forward transform
    // of int32 blocks and no basis image add of its own.
    const V avx2Slots[kTransformSlotCount] = {V::Avx, V::Avx2, V::Avx, V::Avx2, V::Avx2, V::Avx2, V::Avx2, V::Avx2};
    const V avx512Slots[kTransformSlotCount] = {V::Avx512, V::Avx512, V::Avx512, V::Avx512,
                                                V::Avx512, V::Avx512, V::Avx512, V::Avx512};
    const V avxSlots[kTransformSlotCount] = {V::Avx, V::Avx, V::Avx, V::Avx, V::Avx, V::Avx, V::Avx, V::Avx};
    struct Case {
        const char* what;
        uint32_t features;
        V cap;
        V variant;
        const V* slots;
    };
    const Case cases[] = {
        {"AVX2 without AVX-512", cpu(kEbxAvx2), V::Avx512, V::Avx2, avx2Slots},
        {"AVX2 without the YMM state", cpu(kEbxAvx512, 0x3), V::Avx512, V::Sse, nullptr},
        {"AVX2 bit without AVX", cpu(kEbxAvx512, kXcr0Zmm, kEcxUpToSse42 | kEcxOsxsave), V::Avx512, V::Sse, nullptr},
        {"AVX-512 everything", cpu(kEbxAvx512), V::Avx512, V::Avx512, avx512Slots},
        {"AVX-512 without the ZMM state", cpu(kEbxAvx512, 0x7), V::Avx512, V::Avx2, avx2Slots},
        {"AVX-512 without ZMM16-31", cpu(kEbxAvx512, 0x67), V::Avx512, V::Avx2, avx2Slots},
        {"AVX-512 without the opmask state", cpu(kEbxAvx512, 0xC7), V::Avx512, V::Avx2, avx2Slots},
        {"AVX-512 without BW", cpu(kEbxAvx512 & ~kEbxBw), V::Avx512, V::Avx2, avx2Slots},
        {"AVX-512 without VL", cpu(kEbxAvx512 & ~kEbxVl), V::Avx512, V::Avx2, avx2Slots},
        {"AVX-512 without AVX2", cpu(kEbxAvx512 & ~kEbxAvx2), V::Avx512, V::Avx, avxSlots},
        {"capped at AVX2", cpu(kEbxAvx512), V::Avx2, V::Avx2, avx2Slots},
        {"capped at AVX", cpu(kEbxAvx512), V::Avx, V::Avx, avxSlots},
        {"capped at SSE", cpu(kEbxAvx512), V::Sse, V::Sse, nullptr},
        {"capped at portable", cpu(kEbxAvx512), V::Portable, V::Portable, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const KernelChoice k = ChooseKernels(c.features, c.cap);
#if defined(__x86_64__)
        if (!c.slots) {
            ExpectAllSlots(k, c.variant);
            continue;
        }
        EXPECT_EQ(k.kernels.variant, c.variant);
        for (int i = 0; i < kTransformSlotCount; ++i)
            EXPECT_EQ(k.took[i], c.slots[i]) << TransformSlotName(TransformSlot(i));
        // The table holds that variant's functions, where this processor has them.
        if (const TransformKernels* own = KernelsFor(c.variant)) {
            EXPECT_EQ(k.kernels.forwardPixelsPair, own->forwardPixelsPair);
            EXPECT_EQ(k.kernels.decodeSlice, own->decodeSlice);
        }
#else
        ExpectAllSlots(k, V::Portable);
#endif
    }
}

TEST(Transforms, ThisProcessorsAnswersGiveTheActiveKernels) {
    const KernelChoice c = ChooseKernels(CpuFeaturesFrom(ReadCpuid()));
    if (!std::getenv("RK_KVQ1_KERNELS")) {
        EXPECT_EQ(c.kernels.variant, ActiveKernels().variant);
    }
    EXPECT_EQ(c.kernels.variant >= TransformVariant::Avx, CpuHasAvx());
    const std::string report = DescribeKernels();
    for (int i = 0; i < kTransformSlotCount; ++i) {
        EXPECT_NE(report.find(std::string(TransformSlotName(TransformSlot(i))) + ": "), std::string::npos) << report;
    }
}

// Same input to the reference and to each variant: SSE must match the
// portable kernel bit for bit; AVX may differ by one in a coefficient.
TEST(Transforms, VariantsAgreeWithThePortableKernel) {
    const TransformKernels* ref = KernelsFor(TransformVariant::Portable);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> sample(-128, 127);
    std::vector<int32_t> in(64 * 4000);
    for (size_t b = 0; b < 4000; ++b) {
        // Mix noise, smooth ramps and flat blocks.
        const int kind = int(b % 3);
        for (int i = 0; i < 64; ++i)
            in[b * 64 + i] = kind == 0 ? sample(rng) : kind == 1 ? (i % 8) * 30 - 105 + (i / 8) : int(b % 256) - 128;
    }
    const TransformKernels* avx = KernelsFor(TransformVariant::Avx);
    for (const TransformKernels* k : VectorVariants()) {
        int maxDiff = 0;
        for (size_t b = 0; b < 4000; ++b) {
            int32_t a[64], c[64];
            ref->forwardTransform(&in[b * 64], a);
            k->forwardTransform(&in[b * 64], c);
            for (int i = 0; i < 64; ++i) maxDiff = std::max(maxDiff, std::abs(a[i] - c[i]));
            if (k->variant == TransformVariant::Sse) {
                ASSERT_EQ(std::memcmp(a, c, sizeof a), 0) << "block " << b;
            }
            // The pixel entry point is the same arithmetic.
            uint8_t px[64];
            for (int i = 0; i < 64; ++i) px[i] = uint8_t(in[b * 64 + i] + 128);
            int16_t d[64];
            k->forwardPixels(px, 8, d);  // natural order
            for (int i = 0; i < 64; ++i) ASSERT_EQ(c[i], d[kZigzag[i]]) << i;
            // The wider variants compute AVX's products and sums: its coefficients exactly.
            if (avx && k->variant > TransformVariant::Avx) {
                int32_t e[64];
                avx->forwardTransform(&in[b * 64], e);
                ASSERT_EQ(std::memcmp(c, e, sizeof c), 0) << TransformVariantName(k->variant) << " block " << b;
            }
            // A pair is two single blocks: this block beside the previous
            // one, 16 bytes a row, and this one beside itself at stride 8.
            if (b > 0) {
                uint8_t wide[8 * 16];
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        wide[y * 16 + x] = uint8_t(in[(b - 1) * 64 + y * 8 + x] + 128);
                        wide[y * 16 + 8 + x] = px[y * 8 + x];
                    }
                int16_t pair[128], left[64], right[64];
                k->forwardPixelsPair(wide, wide + 8, 16, pair);
                k->forwardPixels(wide, 16, left);
                k->forwardPixels(wide + 8, 16, right);
                ASSERT_EQ(std::memcmp(pair, left, sizeof left), 0) << TransformVariantName(k->variant);
                ASSERT_EQ(std::memcmp(pair + 64, right, sizeof right), 0) << TransformVariantName(k->variant);
                k->forwardPixelsPair(px, px, 8, pair);
                ASSERT_EQ(std::memcmp(pair + 64, d, sizeof d), 0);
            }
        }
        EXPECT_LE(maxDiff, 1) << TransformVariantName(k->variant);
    }
}

TEST(Transforms, InverseKernelsAreIdenticalAcrossVariants) {
    const TransformKernels* ref = KernelsFor(TransformVariant::Portable);
    std::mt19937 rng(3);
    for (const TransformKernels* k : VectorVariants()) {
        for (int trial = 0; trial < 500; ++trial) {
            alignas(32) float a[64], b[64];
            for (int i = 0; i < 64; ++i) a[i] = b[i] = 128.0f;
            for (int n = 0; n < 20; ++n) {
                const int pos = int(rng() % 64), value = int(rng() % 4001) - 2000;
                ref->addBasisImage(a, pos, value);
                k->addBasisImage(b, pos, value);
            }
            ASSERT_EQ(std::memcmp(a, b, sizeof a), 0);
            // Rounding ties go to even, values beyond the range clamp.
            a[0] = 2.5f; a[1] = 3.5f; a[2] = -0.5f; a[3] = 255.5f; a[4] = -1e6f; a[5] = 1e6f; a[6] = 254.5f;
            uint8_t out1[64 * 3], out2[64 * 3];
            ref->storeBlock(a, out1, 24);
            k->storeBlock(a, out2, 24);
            for (int y = 0; y < 8; ++y) ASSERT_EQ(std::memcmp(out1 + y * 24, out2 + y * 24, 8), 0);
            EXPECT_EQ(out1[0], 2);
            EXPECT_EQ(out1[1], 4);
            EXPECT_EQ(out1[2], 0);
            EXPECT_EQ(out1[3], 255);
            EXPECT_EQ(out1[4], 0);
            EXPECT_EQ(out1[5], 255);
            EXPECT_EQ(out1[6], 254);
        }
    }
}

// The truncated product must equal the integer quotient for every quantiser,
// weight and coefficient the encoder can meet (the transform's coefficients
// stay within +-1088), and for the larger ones the contract allows.
TEST(Transforms, QuantiseMatchesIntegerDivisionExhaustively) {
    InitTransforms();
    std::vector<const TransformKernels*> all = VectorVariants();
    all.push_back(KernelsFor(TransformVariant::Portable));
    std::set<int> weights(kLumaWeights, kLumaWeights + 64);
    weights.insert(kChromaWeights, kChromaWeights + 64);
    alignas(32) float mul[64];
    alignas(32) int16_t levels[64], scanLevels[64];
    int16_t coef[64];
    for (int q = 1; q <= 64; ++q) {
        for (int w : weights) {
            for (int i = 0; i < 64; ++i) mul[i] = QuantiseMultiplier(w * q);
            auto check = [&](int base, int step) {
                for (int i = 0; i < 64; ++i) coef[i] = int16_t(base + i * step);
                for (const TransformKernels* k : all) {
                    const uint64_t mask = k->quantise(coef, mul, levels);
                    for (int i = 0; i < 64; ++i) {
                        const int expect = (coef[i] * 32) / (w * q);
                        ASSERT_EQ(levels[i], expect) << "q=" << q << " w=" << w << " c=" << coef[i];
                        ASSERT_EQ((mask >> i) & 1, uint64_t(expect != 0));
                    }
                    // The same levels by scan position; only the nonzero ones count.
                    const uint64_t scanMask = k->quantiseToScan(coef, mul, scanLevels);
                    for (int i = 0; i < 64; ++i) {
                        const int expect = (coef[kZigzag[i]] * 32) / (w * q);
                        ASSERT_EQ((scanMask >> i) & 1, uint64_t(expect != 0)) << TransformVariantName(k->variant);
                        if (expect != 0) {
                            ASSERT_EQ(scanLevels[i], expect) << TransformVariantName(k->variant);
                        }
                    }
                }
            };
            for (int base = -1088; base <= 1088; base += 64) check(base, 1);
            for (int base = -16384; base + 63 * 7 <= 16384; base += 64 * 7) check(base, 7);
            // Where the product could go wrong: exact quotients and one below.
            const int d = w * q, exact = d / std::gcd(d, 32);
            std::vector<int> edges;
            for (int c = exact; c <= 16384; c += exact)
                for (int e : {c, c - 1, -c, 1 - c}) edges.push_back(e);
            while (edges.size() % 64) edges.push_back(0);
            for (size_t at = 0; at < edges.size(); at += 64) {
                for (int i = 0; i < 64; ++i) coef[i] = int16_t(edges[at + size_t(i)]);
                for (const TransformKernels* k : all) {
                    k->quantise(coef, mul, levels);
                    for (int i = 0; i < 64; ++i)
                        ASSERT_EQ(levels[i], (coef[i] * 32) / d) << "q=" << q << " w=" << w << " c=" << coef[i];
                    const uint64_t scanMask = k->quantiseToScan(coef, mul, scanLevels);
                    for (int i = 0; i < 64; ++i)
                        if ((scanMask >> i) & 1) {
                            ASSERT_EQ(scanLevels[i], (coef[kZigzag[i]] * 32) / d);
                        }
                    ASSERT_EQ(scanMask, NaturalMaskToScanMask(k->quantise(coef, mul, levels)));
                }
            }
        }
    }
}

TEST(Transforms, ForcedVariantIsReportedByName) {
    EXPECT_STREQ(TransformVariantName(TransformVariant::Sse), "SSE");
    EXPECT_STREQ(TransformVariantName(TransformVariant::Avx), "AVX");
    EXPECT_STREQ(TransformVariantName(TransformVariant::Avx2), "AVX2");
    EXPECT_STREQ(TransformVariantName(TransformVariant::Avx512), "AVX-512");
    EXPECT_NE(KernelsFor(TransformVariant::Portable), nullptr);
    EXPECT_EQ(KernelsFor(TransformVariant::Avx) != nullptr, CpuHasAvx());
}

// RK_KVQ1_KERNELS forces a variant at the first InitTransforms; each case runs
// in a freshly started copy of this program.
TEST(Transforms, EnvironmentForcesTheVariant) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto forced = [](const char* value) {
        setenv("RK_KVQ1_KERNELS", value, 1);
        std::exit(int(ActiveKernels().variant));
    };
    EXPECT_EXIT(forced("portable"), ::testing::ExitedWithCode(int(TransformVariant::Portable)), "");
    EXPECT_EXIT(forced("sse"), ::testing::ExitedWithCode(int(TransformVariant::Sse)), "");
    // Each cap gives the highest variant at or below it that this processor runs.
    const bool hasAvx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("avx512vl");
    const int highest = int(hasAvx512                          ? TransformVariant::Avx512
                            : __builtin_cpu_supports("avx2") ? TransformVariant::Avx2
                            : __builtin_cpu_supports("avx")  ? TransformVariant::Avx
                                                             : TransformVariant::Sse);
    EXPECT_EXIT(forced("avx"), ::testing::ExitedWithCode(std::min(highest, int(TransformVariant::Avx))), "");
    EXPECT_EXIT(forced("avx2"), ::testing::ExitedWithCode(std::min(highest, int(TransformVariant::Avx2))), "");
    EXPECT_EXIT(forced("avx512"), ::testing::ExitedWithCode(highest), "");
    EXPECT_EXIT(forced("nonsense"), ::testing::ExitedWithCode(highest), "");
}

// The DCT tables and kernels: worked examples, the dispatch rule and every
// vector variant checked against the portable reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "codec/kvq1_tables.h"
#include "codec/transforms.h"

using namespace rk;

namespace {

std::vector<const TransformKernels*> VectorVariants() {
    std::vector<const TransformKernels*> v;
    for (auto t : {TransformVariant::Sse, TransformVariant::Avx})
        if (const TransformKernels* k = KernelsFor(t)) v.push_back(k);
    return v;
}

void FillBlock(int32_t* in, int value) {
    for (int i = 0; i < 64; ++i) in[i] = value;
}

}  // namespace

TEST(Transforms, FlatBlocksGiveTheExtremeDcValues) {
    InitTransforms();
    for (auto variant : {TransformVariant::Portable, TransformVariant::Sse, TransformVariant::Avx}) {
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
    for (auto variant : {TransformVariant::Portable, TransformVariant::Sse, TransformVariant::Avx}) {
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
    for (auto variant : {TransformVariant::Portable, TransformVariant::Sse, TransformVariant::Avx}) {
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

TEST(Transforms, DispatchTakesAvxOnlyWithBothBits) {
    const uint32_t osxsave = 1u << 27, avx = 1u << 28;
    EXPECT_EQ(ChooseVariant(osxsave | avx), TransformVariant::Avx);
    EXPECT_EQ(ChooseVariant(osxsave), TransformVariant::Sse);
    EXPECT_EQ(ChooseVariant(avx), TransformVariant::Sse);
    EXPECT_EQ(ChooseVariant(0), TransformVariant::Sse);
    EXPECT_EQ(ChooseVariant(~(avx)), TransformVariant::Sse);
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
            int32_t d[64];
            k->forwardPixels(px, 8, d);  // natural order
            for (int i = 0; i < 64; ++i) ASSERT_EQ(c[i], d[kZigzag[i]]) << i;
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

// The float quotient truncated must equal the integer quotient for every
// quantiser, weight and coefficient the encoder can meet.
TEST(Transforms, QuantiseMatchesIntegerDivisionExhaustively) {
    InitTransforms();
    std::vector<const TransformKernels*> all = VectorVariants();
    all.push_back(KernelsFor(TransformVariant::Portable));
    std::set<int> weights(kLumaWeights, kLumaWeights + 64);
    weights.insert(kChromaWeights, kChromaWeights + 64);
    alignas(32) float div[64];
    alignas(32) int16_t levels[64];
    int32_t coef[64];
    for (int q = 1; q <= 64; ++q) {
        for (int w : weights) {
            for (int i = 0; i < 64; ++i) div[i] = float(w * q);
            for (int base = -1088; base <= 1088; base += 64) {
                for (int i = 0; i < 64; ++i) coef[i] = base + i;
                for (const TransformKernels* k : all) {
                    const uint64_t mask = k->quantise(coef, div, levels);
                    for (int i = 0; i < 64; ++i) {
                        const int expect = (coef[i] * 32) / (w * q);
                        ASSERT_EQ(levels[i], expect) << "q=" << q << " w=" << w << " c=" << coef[i];
                        ASSERT_EQ((mask >> i) & 1, uint64_t(expect != 0));
                    }
                }
            }
        }
    }
}

TEST(Transforms, ForcedVariantIsReportedByName) {
    EXPECT_STREQ(TransformVariantName(TransformVariant::Sse), "SSE");
    EXPECT_STREQ(TransformVariantName(TransformVariant::Avx), "AVX");
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
    const int avx = int(__builtin_cpu_supports("avx") ? TransformVariant::Avx : TransformVariant::Sse);
    EXPECT_EXIT(forced("avx"), ::testing::ExitedWithCode(avx), "");
    EXPECT_EXIT(forced("nonsense"), ::testing::ExitedWithCode(avx), "");
}

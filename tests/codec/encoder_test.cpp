// The frame encoder: header fields, the quantiser search and the retries, the
// all-empty frame, and the word writer against CBitstream on whole frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "codec/kvq1_parser.h"
#include "codec_test_util.h"

using namespace rk;
using namespace rk::test;

namespace {

Planes Noise(int sizeClass, uint32_t seed) {
    Planes p = MakePlanes(sizeClass, 0, 128);
    std::mt19937 rng(seed);
    for (auto& b : p.y) b = uint8_t(rng());
    for (auto& b : p.cb) b = uint8_t(rng());
    for (auto& b : p.cr) b = uint8_t(rng());
    return p;
}

}  // namespace

TEST(Encoder, BlackFrameIsCodedAtQuantiserOne) {
    Planes p = MakePlanes(1, 0, 128);
    KVQ1Encoder enc(1, 768, 25);
    std::vector<uint8_t> out(enc.BudgetBytes(), 0xEE);
    const int len = enc.Encode(258, p.y.data(), p.cb.data(), p.cr.data(), out.data());
    EXPECT_EQ(enc.LastQuantiser(), 1);
    ASSERT_GT(len, 304);
    EXPECT_EQ(len % 4, 0);
    EXPECT_EQ(std::memcmp(out.data(), "KVQ1", 4), 0);
    EXPECT_EQ(out[4], 1);
    EXPECT_EQ(out[5], 25);
    EXPECT_EQ(ReadBE16(&out[6]), 768);
    EXPECT_EQ(out[8], 0);
    EXPECT_EQ(out[9], 0);
    EXPECT_EQ(out[10], 1);
    EXPECT_EQ(out[11], 2);
    for (int i = 12; i < 32; ++i) EXPECT_EQ(out[i], 0);
    // Behind the frame the buffer is left zero.
    EXPECT_TRUE(std::all_of(out.begin() + len, out.end(), [](uint8_t b) { return b == 0; }));
    KVQ1Parser parser(out.data());
    EXPECT_EQ(parser.SizeClass(), 1);
    EXPECT_EQ(parser.FrameRate(), 25);
    EXPECT_EQ(parser.FrameNumber(), 258u);
    Planes back = MakePlanes(1, 1, 1);
    KVQ1Decoder dec;
    ASSERT_TRUE(dec.Decode(out.data(), out.size(), back.y.data(), back.cb.data(), back.cr.data()));
    EXPECT_EQ(back.y, p.y);
    EXPECT_EQ(back.cb, p.cb);
}

TEST(Encoder, FrameThatCannotFitIsAllEmptySlices) {
    for (int sc : {1, 2}) {
        Planes p = Noise(sc, 1);
        // One sector (two for class 2) holds the header and the slice headers
        // but not one row of macroblocks even at quantiser 64.
        KVQ1Encoder enc(sc, sc == 1 ? 1 : 2, 50);
        std::vector<uint8_t> out(enc.BudgetBytes(), 0xEE);
        const int len = enc.Encode(1, p.y.data(), p.cb.data(), p.cr.data(), out.data());
        ASSERT_EQ(len, sc == 1 ? 304 : 572);
        EXPECT_EQ(enc.LastQuantiser(), 65);
        for (int r = 0; r < enc.Geometry().rows; ++r) {
            const uint8_t* h = &out[32 + 4 * r];
            EXPECT_EQ(h[0], r);
            EXPECT_EQ(h[1], 0);
            EXPECT_EQ(ReadBE16(h + 2), 1);
        }
        Planes back = MakePlanes(sc, 42, 43);
        KVQ1Decoder dec;
        EXPECT_TRUE(dec.Decode(out.data(), out.size(), back.y.data(), back.cb.data(), back.cr.data()));
        EXPECT_TRUE(std::all_of(back.y.begin(), back.y.end(), [](uint8_t b) { return b == 42; }));
    }
}

TEST(Encoder, UnusableShapesEncodeNothing) {
    Planes p = MakePlanes(1, 0, 128);
    std::vector<uint8_t> out(4096, 0xEE);
    KVQ1Encoder tooSmall(1, 0, 50);
    EXPECT_EQ(tooSmall.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data()), 0);
    KVQ1Encoder tooLarge(1, 0x7FFFFFFF, 50);  // the header holds 16 bits
    EXPECT_EQ(tooLarge.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data()), 0);
    KVQ1Encoder justTooSmall(1, 0, 50);
    EXPECT_EQ(justTooSmall.BudgetBytes(), 0);
    KVQ1Encoder badClass(3, 768, 50);
    EXPECT_EQ(badClass.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data()), 0);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
}

// The sampled macroblocks (every 1291st) are flat and the rest noise: the
// search settles on quantiser 1, the frame does not fit there, and the final
// pass climbs one quantiser at a time until it does.
TEST(Encoder, FinalPassRetriesOneQuantiserHigher) {
    Planes p = Noise(1, 2);
    const KVQ1Geometry g = p.g;
    const int total = g.rows * g.columns;
    for (int j = 0, k = 0; j < g.columns; ++j, k = (k + 1291) % total) {
        const int r = k / g.columns, m = k % g.columns;
        for (int y = 0; y < 16; ++y) std::memset(&p.y[size_t(r * 16 + y) * g.width + m * 16], 128, 16);
        for (int y = 0; y < 8; ++y) {
            std::memset(&p.cb[size_t(r * 8 + y) * g.width / 2 + m * 8], 128, 8);
            std::memset(&p.cr[size_t(r * 8 + y) * g.width / 2 + m * 8], 128, 8);
        }
    }
    KVQ1Encoder enc(1, 768, 50);
    std::vector<uint8_t> out(enc.BudgetBytes());
    const int len = enc.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data());
    EXPECT_GT(enc.LastQuantiser(), 1);
    EXPECT_LE(len, enc.BudgetBytes() - 4);
    EXPECT_EQ(out[32 + 4] >> 2, enc.LastQuantiser() - 1);  // the first macroblock's quantiser field
    Planes back = MakePlanes(1, 0, 0);
    KVQ1Decoder dec;
    EXPECT_TRUE(dec.Decode(out.data(), out.size(), back.y.data(), back.cb.data(), back.cr.data()));

    // The frame one quantiser lower really does not fit: code it through an
    // encoder whose budget is large enough and compare.
    KVQ1Encoder wide(1, 2 * 768, 50);
    std::vector<uint8_t> big(wide.BudgetBytes());
    EXPECT_GT(wide.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), big.data()), len);
}

// The word writer's encoder counts its trials' bits instead of writing them
// and codes without the per-symbol test away from the end of the budget: the
// frames must be those of the plain writer, which codes everything, also at a
// budget of one sector, where the trials overflow their writer.
TEST(Encoder, WordWriterGivesTheSameFramesAsCBitstream) {
    for (int sc : {1, 2}) {
        Planes p;
        std::string why;
        if (!LoadPhoto("pixels-l", sc, p, &why)) GTEST_SKIP() << why;
        Planes n = Noise(sc, 9);
        for (int sectors : {sc == 1 ? 768 : 1536, 1}) {
            if (sc == 2 && sectors == 1) continue;
            KVQ1Encoder fast(sc, sectors, 50), ref(sc, sectors, 50);
            ref.UseReferenceWriter(true);
            std::vector<uint8_t> a(fast.BudgetBytes()), b(ref.BudgetBytes());
            for (const Planes* pic : {&p, &n, &p}) {
                const int la = fast.Encode(7, pic->y.data(), pic->cb.data(), pic->cr.data(), a.data());
                const int lb = ref.Encode(7, pic->y.data(), pic->cb.data(), pic->cr.data(), b.data());
                ASSERT_EQ(la, lb) << sectors;
                ASSERT_EQ(fast.LastQuantiser(), ref.LastQuantiser());
                ASSERT_EQ(fast.LastPasses(), ref.LastPasses());
                ASSERT_EQ(a, b);
            }
        }
    }
}

// The trials start from the DC predictors the previous frame left, so the
// same picture can come out differently; both frames must still decode.
TEST(Encoder, PredictorsCarryAcrossFrames) {
    Planes p;
    std::string why;
    if (!LoadPhoto("wood-l", 1, p, &why)) GTEST_SKIP() << why;
    KVQ1Encoder enc(1, 768, 50);
    std::vector<uint8_t> first(enc.BudgetBytes()), second(enc.BudgetBytes());
    const int l1 = enc.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), first.data());
    const int l2 = enc.Encode(1, p.y.data(), p.cb.data(), p.cr.data(), second.data());
    ASSERT_GT(l1, 0);
    ASSERT_GT(l2, 0);
    Planes back = MakePlanes(1, 0, 0);
    KVQ1Decoder dec;
    EXPECT_TRUE(dec.Decode(first.data(), first.size(), back.y.data(), back.cb.data(), back.cr.data()));
    EXPECT_TRUE(dec.Decode(second.data(), second.size(), back.y.data(), back.cb.data(), back.cr.data()));
}

namespace {

// A deterministic picture from integer arithmetic only: gradients, a
// checkerboard of varying contrast and a little pseudo-random texture.
Planes Synthetic(int sizeClass) {
    Planes p = MakePlanes(sizeClass, 0, 128);
    uint32_t seed = 99;
    for (int y = 0; y < p.g.height; ++y)
        for (int x = 0; x < p.g.width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int checker = ((x / 24 + y / 24) & 1) ? (x % 97) : 0;
            p.y[size_t(y) * p.g.width + x] = uint8_t((x * 3 + y * 2) / 32 + checker + int(seed >> 28));
        }
    for (int y = 0; y < p.g.height / 2; ++y)
        for (int x = 0; x < p.g.width / 2; ++x) {
            p.cb[size_t(y) * p.g.width / 2 + x] = uint8_t(64 + (x + 2 * y) % 128);
            p.cr[size_t(y) * p.g.width / 2 + x] = uint8_t(200 - (3 * x + y) % 150);
        }
    return p;
}

uint64_t Fnv(const uint8_t* data, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

// Frames recorded from this encoder: a change in any bit of the output shows
// here, so optimisations can be checked against it.
TEST(Encoder, GoldenFrames) {
    struct Golden { int sizeClass; TransformVariant variant; int length; int quantiser; uint64_t hash; };
    const Golden golden[] = {
        {1, TransformVariant::Sse, 335028, 6, 0x063ec80651c331dcull},
        {1, TransformVariant::Avx, 335056, 6, 0xcfe4eefd96134f11ull},
        // The wider variants compute AVX's coefficients: AVX's frames.
        {1, TransformVariant::Avx2, 335056, 6, 0xcfe4eefd96134f11ull},
        {1, TransformVariant::Avx512, 335056, 6, 0xcfe4eefd96134f11ull},
        {1, TransformVariant::Portable, 335028, 6, 0x063ec80651c331dcull},
        {2, TransformVariant::Sse, 772332, 18, 0x6c7fa568505c3c75ull},
        {2, TransformVariant::Avx, 772348, 18, 0xc6725453cceb3468ull},
        {2, TransformVariant::Avx2, 772348, 18, 0xc6725453cceb3468ull},
        {2, TransformVariant::Avx512, 772348, 18, 0xc6725453cceb3468ull},
    };
    for (const Golden& g : golden) {
        Planes p = Synthetic(g.sizeClass);
        KVQ1Encoder enc(g.sizeClass, g.sizeClass == 1 ? 768 : 1536, 50);
        if (!enc.UseKernels(g.variant)) continue;
        std::vector<uint8_t> out(enc.BudgetBytes());
        uint64_t hashes[2];
        int lengths[2];
        for (int f = 0; f < 2; ++f) {
            lengths[f] = enc.Encode(uint32_t(f), p.y.data(), p.cb.data(), p.cr.data(), out.data());
            hashes[f] = Fnv(out.data(), size_t(lengths[f]));
        }
        EXPECT_EQ(lengths[1], g.length);
        EXPECT_EQ(enc.LastQuantiser(), g.quantiser);
        EXPECT_EQ(hashes[1], g.hash);
    }
}

// Workers encode at once, each with its own encoder, the first of them
// possibly building the shared tables: every frame must be the recorded one.
TEST(Encoder, ConcurrentEncodersGiveTheSameFrames) {
    const Planes p = Synthetic(1);
    std::vector<uint64_t> hashes(3);
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t)
        workers.emplace_back([&, t] {
            KVQ1Encoder enc(1, 768, 50);
            enc.UseKernels(TransformVariant::Sse);
            std::vector<uint8_t> out(enc.BudgetBytes());
            int len = 0;
            for (int f = 0; f < 2; ++f) len = enc.Encode(uint32_t(f), p.y.data(), p.cb.data(), p.cr.data(), out.data());
            hashes[size_t(t)] = Fnv(out.data(), size_t(len));
        });
    for (auto& w : workers) w.join();
    for (uint64_t h : hashes) EXPECT_EQ(h, 0x063ec80651c331dcull);
}

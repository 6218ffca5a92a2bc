// The decoder against a plain reading of the format: CBitstream with its
// exhaustion rule, a 128-filled accumulator, AddBasisImage for the DC and
// every coefficient. Same samples, same verdict, same rows written, on real
// frames and on damaged ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/bitstream.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "codec/kvq1_tables.h"
#include "codec/transforms.h"
#include "codec_test_util.h"
#include "frame_builder.h"

using namespace rk;
using namespace rk::test;

namespace {

bool ReferenceBlock(CBitstream& r, int q, int32_t& predictor, const uint8_t* weights, float* acc) {
    for (int i = 0; i < 64; ++i) acc[i] = 128.0f;
    const DcDecodeEntry dc = DcDecode6()[r.PeekBits(6)];
    r.SkipBits(dc.length);
    int d = 0;
    if (dc.size > 0) {
        const int v = int(r.ReadBits(dc.size));
        d = v >= (1 << (dc.size - 1)) ? v : v - (1 << dc.size) + 1;
    }
    predictor += d;
    AddBasisImage(acc, 0, predictor);
    int position = 1;
    for (;;) {
        AcDecodeEntry e = AcDecode8()[r.PeekBits(8)];
        if (e.symbol == kAcLongPrefix) {
            e = AcDecode16()[r.PeekBits(16) & 0x7FF];
            if (e.length == 0) return false;
        }
        r.SkipBits(e.length);
        if (e.symbol == kAcEndOfBlock) return true;
        if (position > 63) return false;
        const bool negative = r.ReadBits(1) != 0;
        int level = (e.symbol & 63) + 1;
        if (e.symbol & 64) level += 64 * int(r.ReadBits(4));
        if (e.symbol & 128) {
            RunDecodeEntry re = RunDecode7()[r.PeekBits(7)];
            if (re.run == 0) re = RunDecode10()[r.PeekBits(10) & 0x3F];
            r.SkipBits(re.length);
            position += re.run;
            if (position > 63) return false;
        }
        const int w = weights[position], step = q * w;
        const int magnitude = (step * level + step / 2 + (w != 32 ? 16 : 0)) / 32;
        AddBasisImage(acc, position, negative ? -magnitude : magnitude);
        ++position;
    }
}

void Store(const float* acc, uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const float v = std::nearbyint(acc[y * 8 + x]);
            dst[y * stride + x] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
        }
}

bool ReferenceDecode(const uint8_t* frame, size_t size, Planes& out) {
    if (size < 32 || std::memcmp(frame, "KVQ1", 4) != 0) return false;
    const KVQ1Geometry g = KVQ1GeometryFor(frame[4]);
    if (!g.Valid()) return false;
    const int w = g.width, cw = w / 2;
    size_t p = 32;
    for (int row = 0; row < g.rows; ++row) {
        if (p + 4 > size || frame[p] != row) return false;
        const size_t length = size_t(ReadBE16(frame + p + 2)) * 4;
        if (length > 4) {
            CBitstream r(frame + p + 4, int(size - p - 4));
            int32_t pred[3] = {0, 0, 0};
            for (int m = 0; m < g.columns; ++m) {
                const int q = int(r.ReadBits(6)) + 1;
                alignas(32) float acc[6][64];
                static constexpr int comp[6] = {0, 0, 1, 2, 0, 0};
                for (int b = 0; b < 6; ++b)
                    if (!ReferenceBlock(r, q, pred[comp[b]], comp[b] ? kChromaWeights : kLumaWeights, acc[b]))
                        return false;
                uint8_t* y0 = &out.y[size_t(row) * 16 * w + m * 16];
                Store(acc[0], y0, w);
                Store(acc[1], y0 + 8, w);
                Store(acc[2], &out.cb[size_t(row) * 8 * cw + m * 8], cw);
                Store(acc[3], &out.cr[size_t(row) * 8 * cw + m * 8], cw);
                Store(acc[4], y0 + 8 * w, w);
                Store(acc[5], y0 + 8 * w + 8, w);
            }
        }
        p += length;
    }
    return true;
}

// Every decoder variant this processor runs, the portable one first.
std::vector<TransformVariant> DecoderVariants() {
    std::vector<TransformVariant> v;
    for (int i = 0; i < kTransformVariantCount; ++i)
        if (KernelsFor(TransformVariant(i))) v.push_back(TransformVariant(i));
    return v;
}

void ExpectSameDecode(const std::vector<uint8_t>& frame, size_t size, int sizeClass, const char* what) {
    InitTransforms();  // the basis images the plain reading adds (a decoder makes them on its first frame)
    Planes b = MakePlanes(sizeClass, 11, 22);
    const bool okB = ReferenceDecode(frame.data(), size, b);
    for (TransformVariant variant : DecoderVariants()) {
        Planes a = MakePlanes(sizeClass, 11, 22);
        KVQ1Decoder dec;
        ASSERT_TRUE(dec.UseKernels(variant));
        const bool okA = dec.Decode(frame.data(), size, a.y.data(), a.cb.data(), a.cr.data());
        ASSERT_EQ(okA, okB) << what << " " << TransformVariantName(variant);
        ASSERT_TRUE(a.y == b.y && a.cb == b.cb && a.cr == b.cr) << what << " " << TransformVariantName(variant);
    }
}

}  // namespace

TEST(ReferenceDecoder, RealFramesDecodeIdentically) {
    for (int sc : {1, 2}) {
        Planes pic;
        std::string why;
        if (!LoadPhoto(sc == 1 ? "licorice-l" : "wood-l", sc, pic, &why)) GTEST_SKIP() << why;
        KVQ1Encoder enc(sc, sc == 1 ? 768 : 1536, 50);
        std::vector<uint8_t> frame(enc.BudgetBytes());
        const int len = enc.Encode(0, pic.y.data(), pic.cb.data(), pic.cr.data(), frame.data());
        ASSERT_GT(len, 0);
        ExpectSameDecode(frame, frame.size(), sc, "budget");
        ExpectSameDecode(frame, size_t(len), sc, "exact length");
    }
}

TEST(ReferenceDecoder, DamagedFramesGiveTheSameVerdictAndRows) {
    Planes pic;
    std::string why;
    if (!LoadPhoto("adwaita-l", 1, pic, &why)) GTEST_SKIP() << why;
    KVQ1Encoder enc(1, 768, 50);
    std::vector<uint8_t> frame(enc.BudgetBytes());
    const int len = enc.Encode(0, pic.y.data(), pic.cb.data(), pic.cr.data(), frame.data());
    std::mt19937 rng(21);
    for (int round = 0; round < 12; ++round) {
        std::vector<uint8_t> t(frame);
        for (int k = 0; k <= round % 4; ++k) t[36 + rng() % size_t(len - 36)] ^= uint8_t(1u << (rng() % 8));
        ExpectSameDecode(t, t.size(), 1, "flipped");
    }
    for (size_t cut : {size_t(len) / 2, size_t(len) - 3, size_t(len) - 1}) ExpectSameDecode(frame, cut, 1, "cut");
}

// Frames cut inside their last slices: the decoder reads whole words while
// eight bytes remain and byte by byte after, and takes a coefficient in one
// look-up only with 32 bits in hand; every cut must still give the plain
// reading's verdict and rows.
TEST(ReferenceDecoder, FramesCutNearTheEndGiveTheSameVerdictAndRows) {
    Planes pic;
    std::string why;
    if (!LoadPhoto("wood-l", 1, pic, &why)) GTEST_SKIP() << why;
    KVQ1Encoder enc(1, 768, 50);
    std::vector<uint8_t> frame(enc.BudgetBytes());
    const size_t len = size_t(enc.Encode(0, pic.y.data(), pic.cb.data(), pic.cr.data(), frame.data()));
    for (size_t back = 1; back <= 24; ++back) ExpectSameDecode(frame, len - back, 1, "cut near the end");
    for (size_t back = 37; back < 3000; back += 211) ExpectSameDecode(frame, len - back, 1, "cut in the last rows");
}

// A block's last coefficient and its end of block can come in one look-up;
// the coefficient's position is checked all the same: a run that lands on 63
// ends the block whole, one that passes it fails the block.
TEST(ReferenceDecoder, LastCoefficientAndEndOfBlockInOneLookUp) {
    // The pair read from the 12-bit table (a run of 1 after position 61 or
    // 62) or from the 16-bit one (a level 1 with the 10-bit run code of 54
    // after position 8 or 9: 13 bits, and 16 with the end of block).
    struct Case { bool longCode; int landing; };
    for (const Case c : {Case{false, 63}, Case{false, 64}, Case{true, 63}, Case{true, 64}}) {
        const VlcCode far = RunCodes()[54], toStart = RunCodes()[c.landing - 56];
        if (c.longCode) {
            ASSERT_GT(3 + far.length, kCoefficientPeekBits);
            ASSERT_LE(3 + far.length + 3, kLongCoefficientPeekBits);
        }
        FrameBuilder f(1, 786432);
        f.Slice(0, [&](CReferenceWriter& w) {
            const VlcCode toFrom = RunCodes()[c.landing - 4], one = RunCodes()[1];
            for (int m = 0; m < f.g.columns; ++m) {
                w.WriteBits(3, 6);
                for (int b = 0; b < 6; ++b) {
                    w.WriteBits(0b000, 3);                            // DC difference 0
                    if (c.longCode) {
                        w.WriteBits(0b01, 2), w.WriteBits(0, 1);      // level 1 after a run: at `landing` - 55
                        w.WriteBits(toStart.code, toStart.length);
                        w.WriteBits(0b01, 2), w.WriteBits(1, 1);      // level -1 after a run of 54: at `landing`
                        w.WriteBits(far.code, far.length);
                    } else {
                        w.WriteBits(0b00, 2), w.WriteBits(0, 1);      // level 1 at position 1
                        w.WriteBits(0b01, 2), w.WriteBits(1, 1);      // level -1 after a run: at `landing` - 2
                        w.WriteBits(toFrom.code, toFrom.length);
                        w.WriteBits(0b01, 2), w.WriteBits(0, 1);      // level 1 after a run of 1
                        w.WriteBits(one.code, one.length);
                    }
                    w.WriteBits(0b101, 3);                            // end of block
                }
            }
        });
        f.EmptyRowsFrom(1);
        const std::string what = std::string(c.longCode ? "16-bit" : "12-bit") + ", last at " + std::to_string(c.landing);
        ExpectSameDecode(f.buf, f.buf.size(), 1, what.c_str());
        Planes p = MakePlanes(1, 11, 22);
        KVQ1Decoder dec;
        EXPECT_EQ(dec.Decode(f.buf.data(), f.buf.size(), p.y.data(), p.cb.data(), p.cr.data()), c.landing == 63) << what;
    }
}

// A slice of nothing but the long shapes: escape levels, levels whose codes
// take 13 to 16 bits, long run codes and large DC differences, so that most
// coefficients take the road for codes longer than the one-look-up peek.
// Cut at every byte of its last words and through its body, each of those
// codes meets the end of the data at some distance: with 32 bits in the
// window it is read without testing its pieces, with fewer piece by piece,
// and the verdict and rows must be the plain reading's either way.
TEST(ReferenceDecoder, LongCodesDecodeIdenticallyWhereverTheDataEnds) {
    std::mt19937 rng(30);
    FrameBuilder f(1, 786432);
    f.Slice(0, [&](CReferenceWriter& w) {
        for (int m = 0; m < f.g.columns; ++m) {
            w.WriteBits(uint32_t(rng() % 63), 6);
            for (int b = 0; b < 6; ++b) {
                alignas(32) int16_t levels[64] = {};
                uint64_t mask = 0;
                for (int i = 1 + int(rng() % 8); i < 64; i += 1 + int(rng() % 40)) {
                    const int shape = int(rng() % 4);
                    const int magnitude = shape == 0 ? 65 + int(rng() % 960) : shape == 1 ? 35 + int(rng() % 30)
                                                                                         : 1 + int(rng() % 64);
                    levels[i] = int16_t(rng() % 2 ? magnitude : -magnitude);
                    mask |= uint64_t(1) << i;
                }
                const int d = int(rng() % 4095) - 2047;
                WriteBlock(w, d, levels, mask);
            }
        }
    });
    f.EmptyRowsFrom(1);
    const size_t slice = 32 + 4, len = f.Length() - size_t(f.g.rows - 1) * 4;
    ExpectSameDecode(f.buf, f.buf.size(), 1, "whole");
    for (size_t back = 1; back <= 24; ++back) ExpectSameDecode(f.buf, len - back, 1, "cut near the end");
    for (size_t cut = slice + 5; cut < len; cut += 997) ExpectSameDecode(f.buf, cut, 1, "cut in the body");
}

// The frame decoder on hand-made frames: worked examples, every failure of
// the format, and damaged or lying frames that must fail without reading past
// the given size.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "codec_test_util.h"
#include "frame_builder.h"

using namespace rk;
using namespace rk::test;

namespace {

constexpr size_t kBudget1 = 393216;

bool Unchanged(const std::vector<uint8_t>& v, uint8_t value) {
    return std::all_of(v.begin(), v.end(), [&](uint8_t b) { return b == value; });
}

// Checks rows [from, to) of a plane against a value.
bool RowsAre(const std::vector<uint8_t>& plane, int stride, int from, int to, uint8_t value) {
    for (int y = from; y < to; ++y)
        for (int x = 0; x < stride; ++x)
            if (plane[size_t(y) * stride + x] != value) return false;
    return true;
}

}  // namespace

TEST(Decoder, AllEmptyFrameLeavesPlanesAsTheyWere) {
    for (int sc : {1, 2}) {
        FrameBuilder f(sc, sc == 1 ? kBudget1 : 786432);
        f.EmptyRowsFrom(0);
        EXPECT_EQ(f.Length(), sc == 1 ? 304u : 572u);
        Planes p = MakePlanes(sc, 77, 99);
        KVQ1Decoder d;
        EXPECT_TRUE(d.Decode(f.buf.data(), f.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
        EXPECT_TRUE(Unchanged(p.y, 77));
        EXPECT_TRUE(Unchanged(p.cb, 99));
        EXPECT_TRUE(Unchanged(p.cr, 99));
    }
}

TEST(Decoder, FlatMacroblocksDecodeToMidGrey) {
    FrameBuilder f(1, kBudget1);
    f.Slice(0, [](CReferenceWriter& w) {
        for (int m = 0; m < 120; ++m) FlatMacroblock(w, 1 + m % 64);
    });
    f.EmptyRowsFrom(1);
    Planes p = MakePlanes(1, 7, 9);
    KVQ1Decoder d;
    ASSERT_TRUE(d.Decode(f.buf.data(), f.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_TRUE(RowsAre(p.y, 1920, 0, 16, 128));
    EXPECT_TRUE(RowsAre(p.y, 1920, 16, 1088, 7));
    EXPECT_TRUE(RowsAre(p.cb, 960, 0, 8, 128));
    EXPECT_TRUE(RowsAre(p.cr, 960, 8, 544, 9));
}

TEST(Decoder, ExtremeDcValuesClampToTheSampleRange) {
    FrameBuilder f(1, kBudget1);
    f.Slice(0, [](CReferenceWriter& w) {
        alignas(32) int16_t none[64] = {};
        // First macroblock: luma DC -1024, Cb 1016, Cr -1024.
        w.WriteBits(0, 6);
        WriteBlock(w, -1024, none, 0);
        WriteBlock(w, 0, none, 0);
        WriteBlock(w, 1016, none, 0);
        WriteBlock(w, -1024, none, 0);
        WriteBlock(w, 0, none, 0);
        WriteBlock(w, 0, none, 0);
        // Second: luma up to 1016 (difference 2040), chroma back to 0.
        w.WriteBits(0, 6);
        WriteBlock(w, 2040, none, 0);
        WriteBlock(w, 0, none, 0);
        WriteBlock(w, -1016, none, 0);
        WriteBlock(w, 1024, none, 0);
        WriteBlock(w, 0, none, 0);
        WriteBlock(w, 0, none, 0);
        for (int m = 2; m < 120; ++m) {
            w.WriteBits(0, 6);
            WriteBlock(w, m == 2 ? -1016 : 0, none, 0);  // luma back to 0 (sample 128)
            for (int b = 1; b < 6; ++b) WriteBlock(w, 0, none, 0);
        }
    });
    f.EmptyRowsFrom(1);
    Planes p = MakePlanes(1, 50, 50);
    KVQ1Decoder d;
    ASSERT_TRUE(d.Decode(f.buf.data(), f.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(p.y[size_t(y) * 1920 + x], 0);
            EXPECT_EQ(p.y[size_t(y) * 1920 + 16 + x], 255);
            EXPECT_EQ(p.y[size_t(y) * 1920 + 32 + x], 128);
        }
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(p.cb[size_t(y) * 960 + x], 255);
            EXPECT_EQ(p.cr[size_t(y) * 960 + x], 0);
            EXPECT_EQ(p.cb[size_t(y) * 960 + 8 + x], 128);
        }
}

namespace {

// A frame whose row 0 holds one macroblock with a block of `count` level-1
// coefficients at positions 1.., then `tail` (end of block or another L1).
FrameBuilder SixtyThreeFrame(int count, bool endOfBlock) {
    FrameBuilder f(1, kBudget1);
    f.Slice(0, [&](CReferenceWriter& w) {
        w.WriteBits(0, 6);
        w.WriteBits(0b000, 3);  // DC size 0
        for (int i = 0; i < count; ++i) w.WriteBits(0b000, 3);  // L1, sign +
        if (endOfBlock) w.WriteBits(0b101, 3);
        else w.WriteBits(0b000, 3);
        for (int b = 1; b < 6; ++b) w.WriteBits(0b000101, 6);
        for (int m = 1; m < 120; ++m) FlatMacroblock(w);
    });
    f.EmptyRowsFrom(1);
    return f;
}

}  // namespace

TEST(Decoder, SixtyThreeCoefficientsNeedEndOfBlock) {
    Planes p = MakePlanes(1, 1, 1);
    KVQ1Decoder d;
    auto ok = SixtyThreeFrame(63, true);
    EXPECT_TRUE(d.Decode(ok.buf.data(), ok.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
    Planes q = MakePlanes(1, 1, 1);
    auto bad = SixtyThreeFrame(63, false);
    EXPECT_FALSE(d.Decode(bad.buf.data(), bad.buf.size(), q.y.data(), q.cb.data(), q.cr.data()));
    EXPECT_EQ(d.LastError(), KVQ1DecodeError::BadBlock);
    EXPECT_TRUE(Unchanged(q.y, 1));  // the failing macroblock is not written
}

TEST(Decoder, RunPastPositionSixtyThreeFails) {
    FrameBuilder f(1, kBudget1);
    f.Slice(0, [&](CReferenceWriter& w) {
        w.WriteBits(0, 6);
        alignas(32) int16_t levels[64] = {};
        levels[40] = 3;
        WriteBlock(w, 0, levels, uint64_t(1) << 40);  // fine: position 40
        // Then a block: L1 at 1, then R1 with run 62 (position 2 + 62 = 64).
        w.WriteBits(0b000, 3);
        w.WriteBits(0b000, 3);
        w.WriteBits(0b01, 2);
        w.WriteBits(0, 1);
        const VlcCode run62 = RunCodes()[62];
        w.WriteBits(run62.code, run62.length);
        w.WriteBits(0b101, 3);
    });
    f.EmptyRowsFrom(1);
    Planes p = MakePlanes(1, 1, 1);
    KVQ1Decoder d;
    EXPECT_FALSE(d.Decode(f.buf.data(), f.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_EQ(d.FailedRow(), 0);
}

TEST(Decoder, SliceNumberMismatchLeavesLaterRowsUntouched) {
    FrameBuilder f(1, kBudget1);
    for (int r = 0; r < 4; ++r) f.FlatSlice(r);
    f.FlatSlice(5);
    Planes p = MakePlanes(1, 3, 3);
    KVQ1Decoder d;
    EXPECT_FALSE(d.Decode(f.buf.data(), f.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_EQ(d.LastError(), KVQ1DecodeError::SliceMismatch);
    EXPECT_EQ(d.FailedRow(), 4);
    EXPECT_TRUE(RowsAre(p.y, 1920, 0, 64, 128));
    EXPECT_TRUE(RowsAre(p.y, 1920, 64, 1088, 3));
    EXPECT_TRUE(RowsAre(p.cb, 960, 32, 544, 3));
}

TEST(Decoder, ZeroSliceLengthFailsOnTheNextRow) {
    FrameBuilder f(1, kBudget1);
    f.EmptySlice(0);
    WriteBE16(&f.buf[32 + 2], 0);
    f.EmptyRowsFrom(1);
    Planes p = MakePlanes(1, 3, 3);
    KVQ1Decoder d;
    EXPECT_FALSE(d.Decode(f.buf.data(), f.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_EQ(d.FailedRow(), 1);
    // In the last row a zero length is harmless.
    FrameBuilder g(1, kBudget1);
    g.EmptyRowsFrom(0);
    WriteBE16(&g.buf[32 + 67 * 4 + 2], 0);
    EXPECT_TRUE(d.Decode(g.buf.data(), g.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
}

TEST(Decoder, HeaderFailuresTouchNothing) {
    FrameBuilder f(1, kBudget1);
    f.FlatSlice(0);
    f.EmptyRowsFrom(1);
    Planes p = MakePlanes(1, 3, 3);
    KVQ1Decoder d;
    auto bad = f.buf;
    bad[0] = 'k';
    EXPECT_FALSE(d.Decode(bad.data(), bad.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_EQ(d.LastError(), KVQ1DecodeError::BadMagic);
    bad = f.buf;
    bad[4] = 3;
    EXPECT_FALSE(d.Decode(bad.data(), bad.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_EQ(d.LastError(), KVQ1DecodeError::BadSizeClass);
    bad[4] = 0;
    EXPECT_FALSE(d.Decode(bad.data(), bad.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_FALSE(d.Decode(f.buf.data(), 31, p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_FALSE(d.Decode(nullptr, 0, p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_TRUE(Unchanged(p.y, 3));
    EXPECT_TRUE(Unchanged(p.cb, 3));
}

// The last end of block is peeked with 8 bits. When a slice's bits end on a
// word boundary and nothing follows, that peek runs past the data and the
// block fails; with the budget as size (zeros behind the frame) it decodes.
TEST(Decoder, PeekPastTheEndOfTheGivenSize) {
    FrameBuilder f(1, kBudget1);
    f.EmptyRowsFrom(0);
    f.used -= 4;  // rebuild the last row with data
    f.Slice(67, [](CReferenceWriter& w) {
        alignas(32) int16_t none[64] = {};
        // 120 flat macroblocks are 5040 bits, 16 short of a word: eight luma
        // DC differences of +1/-1 add two bits each.
        int sign = 1;
        for (int m = 0; m < 120; ++m) {
            w.WriteBits(0, 6);
            for (int b = 0; b < 6; ++b) {
                const bool luma = b != 2 && b != 3;
                int d = 0;
                if (luma && m < 2) {
                    d = sign;
                    sign = -sign;
                }
                WriteBlock(w, d, none, 0);
            }
        }
        ASSERT_EQ(w.TotalBits() % 32, 0);
    });
    // Count the slice's data: it must be exact words with no padding bits.
    const size_t exact = f.Length();
    Planes p = MakePlanes(1, 3, 3);
    KVQ1Decoder d;
    EXPECT_TRUE(d.Decode(f.buf.data(), f.buf.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_TRUE(d.Decode(f.buf.data(), exact + 4, p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_FALSE(d.Decode(f.buf.data(), exact, p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_EQ(d.LastError(), KVQ1DecodeError::BadBlock);
    EXPECT_EQ(d.FailedRow(), 67);
}

TEST(Decoder, LyingSliceLengthsNeverReadPastSize) {
    FrameBuilder f(1, kBudget1);
    for (int r = 0; r < 68; ++r) f.FlatSlice(r);
    const size_t exact = f.Length();
    // Copy into a buffer of exactly the frame's length so that any read
    // beyond it is caught by the address sanitizer.
    Planes p = MakePlanes(1, 3, 3);
    KVQ1Decoder d;
    for (int row : {0, 10, 67}) {
        std::vector<uint8_t> frame(f.buf.begin(), f.buf.begin() + exact + 8);
        // Find the row's slice header.
        size_t pos = 32;
        for (int r = 0; r < row; ++r) pos += size_t(ReadBE16(&frame[pos + 2])) * 4;
        for (uint16_t lie : {uint16_t(0xFFFF), uint16_t(2), uint16_t(1000)}) {
            auto copy = frame;
            WriteBE16(&copy[pos + 2], lie);
            std::vector<uint8_t> tight(copy);
            const bool ok = d.Decode(tight.data(), tight.size(), p.y.data(), p.cb.data(), p.cr.data());
            // The last row's data is read from behind its header whatever the
            // length says; elsewhere the next header is looked for in the wrong place.
            EXPECT_EQ(ok, row == 67) << row << " " << lie;
        }
    }
}

TEST(Decoder, TruncatedAndBitFlippedFramesFailCleanly) {
    Planes photo;
    std::string why;
    if (!LoadPhoto("adwaita-l", 1, photo, &why)) GTEST_SKIP() << why;
    KVQ1Encoder enc(1, 768, 50);
    std::vector<uint8_t> out(kBudget1);
    const int len = enc.Encode(0, photo.y.data(), photo.cb.data(), photo.cr.data(), out.data());
    ASSERT_GT(len, 0);
    Planes p = MakePlanes(1, 0, 0);
    KVQ1Decoder d;
    // Truncated: every cut inside the slices fails.
    for (int cut : {0, 16, 33, 36, 100, len / 3, len / 2, len - 8, len - 4}) {
        std::vector<uint8_t> t(out.begin(), out.begin() + cut);
        EXPECT_FALSE(d.Decode(t.data(), t.size(), p.y.data(), p.cb.data(), p.cr.data())) << cut;
    }
    // Flipped bits: anything may come out, but no crash and no stray reads.
    std::mt19937 rng(5);
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> t(out.begin(), out.begin() + len);
        for (int k = 0; k < 1 + round % 5; ++k) t[32 + rng() % (len - 32)] ^= uint8_t(1u << (rng() % 8));
        d.Decode(t.data(), t.size(), p.y.data(), p.cb.data(), p.cr.data());
    }
}

// Data that runs dry inside a 16-bit AC code must fail the block: the zero
// bits a dry reader gives index a table entry that no code owns, which must
// never read as end of block.
TEST(Decoder, DataEndingInsideALongAcCodeFails) {
    FrameBuilder f(1, kBudget1);
    f.EmptyRowsFrom(0);
    f.used -= 4;  // the last row gets data
    const size_t header = f.used;
    f.used += 4;
    CReferenceWriter w(&f.buf[f.used], int(f.buf.size() - f.used));
    for (int m = 0; m < 119; ++m) FlatMacroblock(w);
    w.WriteBits(0, 6);
    for (int b = 0; b < 5; ++b) w.WriteBits(0b000101, 6);
    w.WriteBits(0b000, 3);        // last block: DC size 0
    w.WriteBits(0b11111111, 8);   // the first half of a 16-bit AC code
    const int bits = w.TotalBits();
    w.PadToWord();
    f.buf[header] = 67;
    WriteBE16(&f.buf[header + 2], uint32_t(w.TotalBits() / 32 + 1));
    const size_t size = f.used + size_t(bits + 7) / 8;
    std::vector<uint8_t> tight(f.buf.begin(), f.buf.begin() + long(size));
    Planes p = MakePlanes(1, 3, 3);
    KVQ1Decoder d;
    EXPECT_FALSE(d.Decode(tight.data(), tight.size(), p.y.data(), p.cb.data(), p.cr.data()));
    EXPECT_EQ(d.FailedRow(), 67);
    EXPECT_EQ(d.LastError(), KVQ1DecodeError::BadBlock);
    // The rows above were empty and stay untouched; so does the failing row's
    // last macroblock.
    EXPECT_TRUE(RowsAre(p.y, 1920, 0, 1072, 3));
    EXPECT_EQ(p.y[size_t(1072) * 1920 + 1919], 3);
    EXPECT_EQ(p.y[size_t(1072) * 1920], 128);
}

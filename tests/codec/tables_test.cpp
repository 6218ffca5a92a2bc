// The fixed tables: canonical codes against the first and last code of every
// length, the decoding tables against the encoding tables, the scan order.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "codec/bitstream.h"
#include "codec/kvq1_tables.h"

using namespace rk;

namespace {

uint32_t Bits(const char* s) {
    uint32_t v = 0;
    for (; *s; ++s) v = (v << 1) | uint32_t(*s == '1');
    return v;
}

}  // namespace

TEST(Tables, AcCodesFirstAndLastOfEveryLength) {
    struct Row { int length; const char* first; const char* last; };
    const Row rows[] = {
        {2, "00", "01"}, {3, "100", "101"}, {4, "1100", "1100"}, {5, "11010", "11011"},
        {6, "111000", "111011"}, {7, "1111000", "1111001"}, {8, "11110100", "11111000"},
        {9, "111110010", "111110110"}, {10, "1111101110", "1111110011"},
        {11, "11111101000", "11111101111"}, {12, "111111100000", "111111101001"},
        {13, "1111111010100", "1111111011110"}, {14, "11111110111110", "11111111001101"},
        {15, "111111110011100", "111111110101100"}, {16, "1111111101011010", "1111111111111111"},
    };
    const uint16_t* order = AcSymbolsInCodeOrder();
    const VlcCode* codes = AcCodes();
    int n = 0;
    for (int g = 0; g < 15; ++g) {
        ASSERT_EQ(kAcGroups[g].length, rows[g].length);
        const VlcCode first = codes[order[n]];
        const VlcCode last = codes[order[n + kAcGroups[g].count - 1]];
        EXPECT_EQ(first.length, rows[g].length);
        EXPECT_EQ(first.code, Bits(rows[g].first)) << "length " << rows[g].length;
        EXPECT_EQ(last.length, rows[g].length);
        EXPECT_EQ(last.code, Bits(rows[g].last)) << "length " << rows[g].length;
        n += kAcGroups[g].count;
    }
    EXPECT_EQ(n, kAcSymbolCount);
    std::set<int> seen(order, order + kAcSymbolCount);
    EXPECT_EQ(seen.size(), size_t(kAcSymbolCount));
}

TEST(Tables, NamedAcCodes) {
    const VlcCode* c = AcCodes();
    EXPECT_EQ(c[kAcEndOfBlock].code, 0b101u);
    EXPECT_EQ(c[kAcEndOfBlock].length, 3);
    EXPECT_EQ(c[AcSymbol(1, false, false)].code, 0b00u);
    EXPECT_EQ(c[AcSymbol(1, false, true)].code, 0b01u);
    EXPECT_EQ(c[AcSymbol(64, false, false)].length, 15);
    EXPECT_EQ(c[AcSymbol(1, true, false)].length, 15);
    EXPECT_EQ(c[AcSymbol(64, true, true)].code, 0xFFFFu);
    EXPECT_EQ(c[AcSymbol(64, true, true)].length, 16);
}

TEST(Tables, RunCodesFirstAndLastOfEveryLength) {
    struct Row { int length; const char* first; const char* last; };
    const Row rows[] = {
        {1, "0", "0"}, {3, "100", "100"}, {4, "1010", "1011"}, {5, "11000", "11010"},
        {6, "110110", "111010"}, {7, "1110110", "1110111"}, {8, "11110000", "11110000"},
        {9, "111100010", "111101110"}, {10, "1111011110", "1111111111"},
    };
    const uint8_t* order = RunsInCodeOrder();
    const VlcCode* codes = RunCodes();
    int n = 0;
    for (int g = 0; g < 9; ++g) {
        const VlcCode first = codes[order[n]];
        const VlcCode last = codes[order[n + kRunGroups[g].count - 1]];
        EXPECT_EQ(first.length, rows[g].length);
        EXPECT_EQ(first.code, Bits(rows[g].first));
        EXPECT_EQ(last.code, Bits(rows[g].last));
        n += kRunGroups[g].count;
    }
    EXPECT_EQ(n, 62);
    EXPECT_EQ(codes[53].length, 9);
    EXPECT_EQ(codes[56].code, Bits("1111111111"));
}

TEST(Tables, DecodeTablesInvertTheCodes) {
    const VlcCode* ac = AcCodes();
    for (int s = 0; s < kAcSymbolCount; ++s) {
        const VlcCode c = ac[s];
        const uint32_t peek16 = uint32_t(c.code) << (16 - c.length);
        AcDecodeEntry e = AcDecode8()[peek16 >> 8];
        if (e.symbol == kAcLongPrefix) {
            ASSERT_GT(c.length, 8);
            e = AcDecode16()[peek16 & 0x7FF];
        }
        EXPECT_EQ(e.symbol, s);
        EXPECT_EQ(e.length, c.length);
    }
    // Long prefixes are exactly 11111001 to 11111111.
    for (int p = 0; p < 256; ++p) EXPECT_EQ(AcDecode8()[p].symbol == kAcLongPrefix, p >= 0xF9) << p;
    // The lower part of the 16-bit table belongs to no code.
    for (int i = 0; i < 0x100; ++i) EXPECT_EQ(AcDecode16()[i].length, 0);

    const VlcCode* run = RunCodes();
    for (int r = 1; r <= 62; ++r) {
        const uint32_t peek10 = uint32_t(run[r].code) << (10 - run[r].length);
        RunDecodeEntry e = RunDecode7()[peek10 >> 3];
        if (e.run == 0) e = RunDecode10()[peek10 & 0x3F];
        EXPECT_EQ(e.run, r);
        EXPECT_EQ(e.length, run[r].length);
    }
    for (int s = 0; s < 12; ++s) {
        const VlcCode c = kDcSizeCodes[s];
        const DcDecodeEntry e = DcDecode6()[c.code << (6 - c.length)];
        EXPECT_EQ(e.size, s);
        EXPECT_EQ(e.length, c.length);
    }
}

TEST(Tables, ZigzagIsAPermutationWithItsInverse) {
    for (int i = 0; i < 64; ++i) EXPECT_EQ(kZigzagInverse[kZigzag[i]], i);
    EXPECT_EQ(kZigzag[5], 2);
    EXPECT_EQ(kZigzag[63], 63);
    EXPECT_EQ(kLumaWeights[1], 32);
    EXPECT_EQ(kChromaWeights[63], 99);
}

// The one-look-up tables against reading the same bits piece by piece, for
// every peek: a symbol within the peek gives its entry (with the end of block
// after it when that fits too), any other length 0. The 16-bit table has no
// room for escaped magnitudes above 255 and keeps no level alone.
TEST(Tables, OneLookUpTablesAgreeWithThePieces) {
    struct Table { int N; const CoefficientDecodeEntry* entries; bool keepsLevels; };
    for (const Table& table : {Table{kCoefficientPeekBits, CoefficientDecode(), true},
                               Table{kLongCoefficientPeekBits, LongCoefficientDecode(), false}})
    for (uint32_t v = 0; v < (1u << table.N); ++v) {
        const int N = table.N;
        // The peek, then zeros: 32 bits in all, as many as the decoder asks for.
        const uint32_t word = v << (32 - N);
        const uint8_t bytes[5] = {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word), 0};
        CBitstream r(bytes, 5);
        AcDecodeEntry e = AcDecode8()[r.PeekBits(8)];
        if (e.symbol == kAcLongPrefix) e = AcDecode16()[r.PeekBits(16) & 0x7FF];
        r.SkipBits(e.length);
        int magnitude = 0, sign = 0, advance = kEndOfBlockAdvance, levelBits = 0;
        if (e.symbol != kAcEndOfBlock) {
            sign = -int(r.ReadBits(1));
            magnitude = (e.symbol & 63) + 1;
            if (e.symbol & 64) magnitude += 64 * int(r.ReadBits(4));
            levelBits = r.ByteCount() * 8 - r.PendingBits();
            advance = 1;
            if (e.symbol & 128) {
                RunDecodeEntry re = RunDecode7()[r.PeekBits(7)];
                if (re.run == 0) re = RunDecode10()[r.PeekBits(10) & 0x3F];
                r.SkipBits(re.length);
                advance += re.run;
            }
        }
        const int used = r.ByteCount() * 8 - r.PendingBits();
        const CoefficientDecodeEntry t = table.entries[v];
        if (e.length == 0 || used > N || magnitude > 255) {
            ASSERT_EQ(t.length, 0) << N << " " << v;
            // Only the run code beyond the peek: the entry keeps the level.
            const bool level = table.keepsLevels && e.length != 0 && (e.symbol & 128) && levelBits <= N;
            EXPECT_EQ(t.advance, level ? levelBits : 0) << v;
            if (level) {
                EXPECT_EQ(t.magnitude, magnitude) << v;
                EXPECT_EQ(t.sign, sign) << v;
            }
            continue;
        }
        // A coefficient with the end of block right after it within the
        // peek: one entry for both.
        const VlcCode eob = AcCodes()[kAcEndOfBlock];
        const bool pair = advance < kEndOfBlockAdvance && used + eob.length <= N &&
                          ((v >> (N - used - eob.length)) & ((1u << eob.length) - 1)) == eob.code;
        ASSERT_EQ(t.length, used + (pair ? eob.length : 0)) << v;
        EXPECT_EQ(t.magnitude, magnitude) << v;
        EXPECT_EQ(t.sign, sign) << v;
        EXPECT_EQ(t.advance, advance + (pair ? kEndOfBlockAdvance : 0)) << v;
    }
    for (uint32_t v = 0; v < (1u << kDcPeekBits); ++v) {
        const uint32_t word = v << (32 - kDcPeekBits);
        const uint8_t bytes[5] = {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word), 0};
        CBitstream r(bytes, 5);
        const DcDecodeEntry dc = DcDecode6()[r.PeekBits(6)];
        r.SkipBits(dc.length);
        int d = 0;
        if (dc.size > 0) {
            const int x = int(r.ReadBits(dc.size));
            d = x >= (1 << (dc.size - 1)) ? x : x - (1 << dc.size) + 1;
        }
        const int used = r.ByteCount() * 8 - r.PendingBits();
        const DcDifferenceEntry t = DcDifferenceDecode()[v];
        if (used > kDcPeekBits) {
            EXPECT_EQ(t.length, 0) << v;
            continue;
        }
        ASSERT_EQ(t.length, used) << v;
        EXPECT_EQ(t.difference, d) << v;
    }
}

// The decoder reads a long code's pieces without testing them when 32 bits
// are in hand: that needs every bit pattern to begin an AC code, a run code
// and a DC size code (each code set fills its code space).
TEST(Tables, EveryBitPatternBeginsACode) {
    for (uint32_t v = 0; v < (1u << 16); ++v) {
        const AcDecodeEntry e = AcDecode8()[v >> 8];
        ASSERT_NE(e.symbol == kAcLongPrefix ? AcDecode16()[v & 0x7FF].length : e.length, 0) << v;
    }
    for (uint32_t v = 0; v < (1u << 10); ++v) {
        const RunDecodeEntry e = RunDecode7()[v >> 3];
        ASSERT_NE(e.run == 0 ? RunDecode10()[v & 0x3F].length : e.length, 0) << v;
    }
    for (uint32_t v = 0; v < 64; ++v) ASSERT_NE(DcDecode6()[v].length, 0) << v;
}

// Block syntax bit by bit: the worked examples of the format, and the word
// writer of the encoder against CBitstream.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/block_coder.h"

using namespace rk;

namespace {

// The bits a writer stored, as text, after padding with zeros to a byte.
std::string BlockBits(int d, const std::vector<std::pair<int, int>>& coefficients) {
    alignas(32) int16_t levels[64] = {};
    uint64_t mask = 0;
    for (auto [pos, level] : coefficients) {
        levels[pos] = int16_t(level);
        mask |= uint64_t(1) << pos;
    }
    uint8_t buf[256] = {};
    CReferenceWriter w(buf, sizeof buf);
    WriteBlock(w, d, levels, mask);
    const int bits = w.TotalBits();
    w.PadToWord();
    std::string s;
    for (int i = 0; i < bits; ++i) s += (buf[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
    return s;
}

std::string Code(const VlcCode& c) {
    std::string s;
    for (int i = c.length - 1; i >= 0; --i) s += (c.code >> i) & 1 ? '1' : '0';
    return s;
}

std::string Ac(int base, bool escape, bool run) { return Code(AcCodes()[AcSymbol(base, escape, run)]); }

}  // namespace

TEST(BlockSyntax, FlatMacroblockIsFortyTwoBits) {
    uint8_t buf[64] = {};
    CReferenceWriter w(buf, sizeof buf);
    w.WriteBits(0, 6);  // quantiser 1
    alignas(32) int16_t levels[64] = {};
    for (int b = 0; b < 6; ++b) WriteBlock(w, 0, levels, 0);
    EXPECT_EQ(w.TotalBits(), 42);
    EXPECT_EQ(BlockBits(0, {}), "000101");
    // 000000 000101 000101 000101 000101 000101 000101, padded
    const uint8_t expect[6] = {0x00, 0x51, 0x45, 0x14, 0x51, 0x40};
    w.PadToWord();
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 6), std::vector<uint8_t>(expect, expect + 6));
}

TEST(BlockSyntax, MinusOneAtScanPositionFive) {
    EXPECT_EQ(BlockBits(0, {{5, -1}}), "000" "01" "1" "1011" "101");
}

TEST(BlockSyntax, LevelEscapes) {
    EXPECT_EQ(BlockBits(0, {{1, 64}}), "000" + Ac(64, false, false) + "0" + "101");
    EXPECT_EQ(BlockBits(0, {{1, 65}}), "000" + Ac(1, true, false) + "0" + "0001" + "101");
    EXPECT_EQ(BlockBits(0, {{1, 128}}), "000" + Ac(64, true, false) + "0" + "0001" + "101");
    EXPECT_EQ(BlockBits(0, {{1, 129}}), "000" + Ac(1, true, false) + "0" + "0010" + "101");
    EXPECT_EQ(BlockBits(0, {{1, -1024}}), "000" + Ac(64, true, false) + "1" + "1111" + "101");
    // Escape and run together: 200 at position 10 (run 9).
    EXPECT_EQ(BlockBits(0, {{10, 200}}),
              "000" + Ac(8, true, true) + "0" + "0011" + Code(RunCodes()[9]) + "101");
    EXPECT_EQ(Ac(64, false, false).size(), 15u);
}

TEST(BlockSyntax, DcDifferences) {
    EXPECT_EQ(BlockBits(-1, {}), "1100" "0" "101");
    EXPECT_EQ(BlockBits(1, {}), "1100" "1" "101");
    EXPECT_EQ(BlockBits(-3, {}), "1101" "00" "101");
    EXPECT_EQ(BlockBits(2040, {}), "111111" "11111111000" "101");
    EXPECT_EQ(BlockBits(-2040, {}), "111111" "00000000111" "101");
}

TEST(BlockSyntax, CoefficientAtSixtyThreeStillEndsWithEndOfBlock) {
    const std::string bits = BlockBits(0, {{63, 1}});
    EXPECT_EQ(bits, "000" "01" "0" + Code(RunCodes()[62]) + "101");
}

// The encoder's word writer must store the same bytes, count the same bits
// and overflow at the same call as CBitstream, at every capacity.
TEST(BlockSyntax, WordWriterMatchesCBitstream) {
    std::mt19937 rng(11);
    for (int capacity : {0, 1, 2, 3, 4, 5, 7, 8, 9, 33, 100, 1000}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<uint8_t> a(size_t(capacity) + 8, 0xCC), b(size_t(capacity) + 8, 0xCC);
            CReferenceWriter ref(a.data(), capacity);
            CWordWriter fast(b.data(), capacity);
            int bytesExpected = 0;
            for (int n = 0; n < 400; ++n) {
                const int count = int(rng() % 33);
                const uint32_t value = uint32_t(rng());
                ref.WriteBits(value, count);
                // The unchecked road wherever the writer vouches for it.
                if (count > 0 && fast.HasRoomFor(count))
                    fast.Put(uint32_t(value & ((uint64_t(1) << count) - 1)), count);
                else
                    fast.WriteBits(value, count);
                ASSERT_EQ(ref.TotalBits(), fast.TotalBits()) << capacity << " call " << n;
                ASSERT_EQ(ref.Overflowed(), fast.Overflowed());
                if (!ref.Overflowed()) bytesExpected = ref.TotalBits() / 8;
            }
            ref.PadToWord();
            fast.PadToWord();
            ASSERT_EQ(ref.TotalBits(), fast.TotalBits());
            ASSERT_EQ(ref.Overflowed(), fast.Overflowed());
            if (!ref.Overflowed()) {
                ASSERT_EQ(std::vector<uint8_t>(a.begin(), a.begin() + ref.TotalBits() / 8),
                          std::vector<uint8_t>(b.begin(), b.begin() + fast.TotalBits() / 8));
            }
            // Neither writes at or beyond its capacity.
            for (size_t i = size_t(std::max(capacity - 1, 0)); i < a.size(); ++i) {
                ASSERT_EQ(a[i], 0xCC);
                ASSERT_EQ(b[i], 0xCC);
            }
            (void)bytesExpected;
        }
    }
}

// Random blocks, dense and sparse, with escapes and long runs: the bits the
// encoder counts for a block are the bits it writes, and the unchecked road
// of the word writer writes the bytes of the checked one.
TEST(BlockSyntax, CountedAndUncheckedBlocksMatchTheWrittenOnes) {
    std::mt19937 rng(5);
    const BlockCodeTables tables;
    for (int round = 0; round < 400; ++round) {
        alignas(32) int16_t levels[64] = {};
        uint64_t mask = 0;
        const unsigned density = 1 + rng() % 64;
        for (int i = 1; i < 64; ++i) {
            if (rng() % 64 >= density) continue;
            const int magnitude = rng() % 4 ? 1 + int(rng() % 8) : 1 + int(rng() % 1024);
            levels[i] = int16_t(rng() % 2 ? magnitude : -magnitude);
            mask |= uint64_t(1) << i;
        }
        const int d = int(rng() % 4081) - 2040;
        std::vector<uint8_t> a(512, 0), b(512, 0);
        CReferenceWriter ref(a.data(), int(a.size()));
        CWordWriter fast(b.data(), int(b.size()));
        ref.WriteBits(5, 3);  // off the byte boundary
        fast.WriteBits(5, 3);
        WriteBlock(ref, d, levels, mask);
        ASSERT_TRUE(fast.HasRoomFor(kMaxBlockBits));
        WriteBlock<false, true>(fast, tables, d, levels, mask);
        ASSERT_EQ(BlockBits(tables, d, levels, mask), ref.TotalBits() - 3) << round;
        ASSERT_EQ(fast.TotalBits(), ref.TotalBits());
        ref.PadToWord();
        fast.PadToWord();
        ASSERT_EQ(a, b) << round;
    }
    // Every DC difference, with a level after it.
    for (int d = -2047; d <= 2047; ++d) {
        alignas(32) int16_t levels[64] = {};
        levels[2] = -3;
        std::vector<uint8_t> a(512, 0), b(512, 0);
        CReferenceWriter ref(a.data(), int(a.size()));
        CWordWriter fast(b.data(), int(b.size()));
        WriteBlock(ref, d, levels, uint64_t(1) << 2);
        WriteBlock<false, true>(fast, tables, d, levels, uint64_t(1) << 2);
        ASSERT_EQ(BlockBits(tables, d, levels, uint64_t(1) << 2), ref.TotalBits()) << d;
        ref.PadToWord();
        fast.PadToWord();
        ASSERT_EQ(a, b) << d;
    }
}

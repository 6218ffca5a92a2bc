// The bit writer and reader: packing order, the overflow rule of the writer
// and the exhaustion rule of the reader.
#include <gtest/gtest.h>

#include <vector>

#include "codec/bitstream.h"

using rk::CBitstream;

TEST(Bitstream, ThreeBitsThenFiveZerosMakeA0) {
    uint8_t buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    CBitstream w(buf, 4);
    w.WriteBits(0b101, 3);
    w.WriteBits(0, 5);
    EXPECT_EQ(buf[0], 0xA0);
    EXPECT_EQ(buf[1], 0xEE);
    EXPECT_EQ(w.TotalBits(), 8);
    w.WriteBits(0x1234, 0);  // a zero-bit write changes nothing
    EXPECT_EQ(w.TotalBits(), 8);
    EXPECT_EQ(buf[1], 0xEE);
}

TEST(Bitstream, HighBitsOfValueAreMasked) {
    uint8_t buf[4] = {};
    CBitstream w(buf, 4);
    w.WriteBits(uint32_t(-1), 4);    // -1 in 4 bits is 1111
    w.WriteBits(0xFFF0u, 4);         // only the low 4 bits (0000)
    w.WriteBits(0xABCD, 16);
    EXPECT_EQ(buf[0], 0xF0);
    EXPECT_EQ(buf[1], 0xAB);
    EXPECT_EQ(buf[2], 0xCD);
}

TEST(Bitstream, WriterOfCapacityFourStoresThreeBytes) {
    uint8_t buf[4] = {0, 0, 0, 0x77};
    CBitstream w(buf, 4);
    w.WriteBits(0x1122, 16);
    w.WriteBits(0x33, 8);
    EXPECT_FALSE(w.Overflowed());
    EXPECT_EQ(w.TotalBits(), 24);
    w.WriteBits(0x7, 7);  // pending, not yet a byte
    EXPECT_FALSE(w.Overflowed());
    EXPECT_EQ(w.TotalBits(), 31);
    w.WriteBits(0x1, 1);  // completes the fourth byte: refused
    EXPECT_TRUE(w.Overflowed());
    EXPECT_EQ(w.TotalBits(), 0);
    EXPECT_EQ(buf[3], 0x77);
    w.WriteBits(0xFF, 8);
    EXPECT_EQ(w.TotalBits(), 0);
    EXPECT_EQ(buf[0], 0x11);
    EXPECT_EQ(buf[1], 0x22);
    EXPECT_EQ(buf[2], 0x33);
    EXPECT_EQ(buf[3], 0x77);
}

TEST(Bitstream, ReaderRunsDryAndStaysDry) {
    const uint8_t buf[2] = {0xFF, 0x00};
    CBitstream r(buf, 2);
    EXPECT_EQ(r.ReadBits(12), 0xFF0u);
    EXPECT_EQ(r.ReadBits(4), 0x0u);
    EXPECT_FALSE(r.Exhausted());
    EXPECT_EQ(r.ReadBits(1), 0u);
    EXPECT_TRUE(r.Exhausted());
    EXPECT_EQ(r.ReadBits(16), 0u);
    EXPECT_EQ(r.PeekBits(3), 0u);
}

TEST(Bitstream, PeekPastTheEndGivesZeroEvenWithBitsPending) {
    const uint8_t buf[1] = {0xBF};  // 1011 1111
    CBitstream r(buf, 1);
    EXPECT_EQ(r.ReadBits(5), 0b10111u);
    // Three real bits (111) are pending, but eight are asked for.
    EXPECT_EQ(r.PeekBits(8), 0u);
    EXPECT_TRUE(r.Exhausted());
    EXPECT_EQ(r.ReadBits(3), 0u);
}

TEST(Bitstream, ReaderMayLoadEveryByteOfItsBuffer) {
    const uint8_t buf[3] = {0x12, 0x34, 0x56};
    CBitstream r(buf, 3);
    EXPECT_EQ(r.ReadBits(16), 0x1234u);
    EXPECT_EQ(r.ReadBits(8), 0x56u);
    EXPECT_FALSE(r.Exhausted());
}

TEST(Bitstream, WriterAndReaderAgreeOnRandomFields) {
    std::vector<uint8_t> buf(4096);
    std::vector<std::pair<uint32_t, int>> fields;
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    CBitstream w(buf.data(), int(buf.size()));
    int bits = 0;
    while (bits < 30000) {
        const int n = int(next() % 17);
        const uint32_t v = next() & ((1u << n) - 1u);
        fields.push_back({v, n});
        w.WriteBits(v, n);
        bits += n;
    }
    w.WriteBits(0, 16);
    ASSERT_FALSE(w.Overflowed());
    CBitstream r(buf.data(), int(buf.size()));
    for (auto [v, n] : fields) {
        if (n == 0) continue;
        ASSERT_EQ(r.ReadBits(n), v);
    }
    EXPECT_FALSE(r.Exhausted());
}

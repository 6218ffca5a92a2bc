// Frame slots and KAVQ1 files: geometry, audio chunks and shares, regrouping,
// the header parser and the readers' checks, including hostile headers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_format.h"
#include "codec/kvq1_parser.h"

using namespace rk;

TEST(Slot, GeometryPerSizeClass) {
    const SlotGeometry a = SlotGeometryFor(1), b = SlotGeometryFor(2);
    EXPECT_EQ(a.clustersPerFrame, 33);
    EXPECT_EQ(a.slotBytes, 405504);
    EXPECT_EQ(a.budgetSectors, 768);
    EXPECT_EQ(a.budgetBytes, 393216);
    EXPECT_EQ(b.clustersPerFrame, 65);
    EXPECT_EQ(b.slotBytes, 798720);
    EXPECT_EQ(b.budgetSectors, 1536);
    EXPECT_EQ(b.budgetBytes, 786432);
    EXPECT_FALSE(SlotGeometryFor(0).Valid());
    EXPECT_FALSE(SlotGeometryFor(3).Valid());
    const KVQ1Geometry g1 = KVQ1GeometryFor(1), g2 = KVQ1GeometryFor(2);
    EXPECT_EQ(g1.codedHeight, 1088);
    EXPECT_EQ(g1.rows, 68);
    EXPECT_EQ(g2.columns, 240);
    EXPECT_EQ(g2.rows, 135);
}

// Every size class: the picture fills its macroblocks and the slot is its head
// cluster plus the video area.
TEST(Slot, PictureAndSlotGeometryAgree) {
    for (int sizeClass = -1; sizeClass <= 4; ++sizeClass) {
        const KVQ1Geometry g = KVQ1GeometryFor(sizeClass);
        const SlotGeometry s = SlotGeometryFor(sizeClass);
        ASSERT_EQ(g.Valid(), s.Valid()) << sizeClass;
        if (!g.Valid()) continue;
        EXPECT_EQ(g.rows * 16, g.codedHeight);
        EXPECT_EQ(g.columns * 16, g.width);
        EXPECT_EQ(s.slotBytes, SlotBytesForBudget(s.budgetBytes));
        EXPECT_EQ(s.slotBytes, s.clustersPerFrame * kClusterBytes);
        EXPECT_EQ(kSlotFrameOffset, kSlotHeadBytes);
    }
}

// The one table of rate codes: 0 reads as 50; unknown codes are no rate at
// all, and the tools fall back to 50 for them.
TEST(Slot, RateCodesComeFromOneTable) {
    const struct { int code; int num, den; const char* text; } kRows[] = {
        {25, 25, 1, "25"}, {29, 30000, 1001, "30000/1001"}, {30, 30, 1, "30"},
        {50, 50, 1, "50"}, {59, 60000, 1001, "60000/1001"}, {60, 60, 1, "60"},
    };
    for (const auto& r : kRows) {
        int num = 0, den = 0;
        ASSERT_TRUE(FrameRateFraction(r.code, num, den)) << r.code;
        EXPECT_EQ(num, r.num);
        EXPECT_EQ(den, r.den);
        EXPECT_STREQ(FrameRateOrDefault(r.code).toolText, r.text);
        // The nominal rate is the whole number of frames a second rounds up to.
        EXPECT_EQ(FrameRateOrDefault(r.code).nominal, (r.num + r.den - 1) / r.den);
    }
    EXPECT_EQ(FindFrameRate(0), FindFrameRate(50));
    for (int bad : {-1, 1, 17, 24, 61, 255, 1 << 30, int(0x80000000u)}) {
        int num = 7, den = 7;
        EXPECT_FALSE(IsKnownFrameRateCode(bad)) << bad;
        EXPECT_EQ(FindFrameRate(bad), nullptr);
        EXPECT_FALSE(FrameRateFraction(bad, num, den));
        EXPECT_EQ(num, 7);
        EXPECT_EQ(FrameRateOrDefault(bad).code, 50);
    }
}

TEST(Slot, NineFramesInAFileOf4054040Bytes) {
    EXPECT_EQ(KAVQ1FrameCount(4054040, SlotGeometryFor(1).slotBytes), 9u);
    EXPECT_EQ(KAVQ1FrameCount(405503, 405504), 0u);
    EXPECT_EQ(KAVQ1FrameCount(100, 0), 0u);
}

TEST(Slot, AudioSharesAndChunkLengths) {
    struct Row { int code; int bytes; int words; };
    for (Row r : {Row{25, 11520, 2888}, Row{30, 9600, 2408}, Row{50, 5760, 1448}, Row{60, 4800, 1208},
                  Row{0, 5760, 1448}}) {
        EXPECT_EQ(AudioShareBytes(r.code, 0), r.bytes) << r.code;
        EXPECT_EQ(AudioChunkLengthWords(AudioShareBytes(r.code, 7)), r.words) << r.code;
    }
    const int expect29[6] = {2408, 2408, 2414, 2408, 2414, 2408};
    for (uint32_t n = 0; n < 6; ++n) EXPECT_EQ(AudioChunkLengthWords(AudioShareBytes(29, n)), expect29[n]);
    int samples29 = 0, samples59 = 0;
    for (uint32_t n = 100; n < 105; ++n) {
        samples29 += AudioShareBytes(29, n) / 6;
        samples59 += AudioShareBytes(59, n) / 6;
    }
    EXPECT_EQ(samples29, 8008);
    EXPECT_EQ(samples59, 4004);
    EXPECT_EQ(AudioChunkLengthWords(AudioShareBytes(59, 4)), 1211);
    EXPECT_EQ(AudioShareBytes(17, 0), 0);  // unknown codes never divide by themselves
}

TEST(Slot, RegroupingBothWays) {
    const uint8_t in[12] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
    const uint8_t stored[12] = {0x03, 0x02, 0x06, 0x05, 0x09, 0x08, 0x0C, 0x0B, 0x01, 0x04, 0x07, 0x0A};
    uint8_t out[12] = {}, back[12] = {};
    EXPECT_EQ(RegroupAudioToStored(in, out, 12), 12u);
    EXPECT_EQ(std::memcmp(out, stored, 12), 0);
    EXPECT_EQ(RegroupAudioToInterleaved(out, back, 12), 12u);
    EXPECT_EQ(std::memcmp(back, in, 12), 0);
    // Partial groups are left alone.
    EXPECT_EQ(RegroupAudioToStored(in, out, 11), 0u);
}

TEST(Slot, HeadClusterFilledWithAudio) {
    std::vector<uint8_t> head(kClusterBytes, 0xAA);
    std::vector<uint8_t> audio(20000);
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = uint8_t(i * 7);
    EXPECT_EQ(FillAudioChunk(head.data(), 262, 29, audio.data(), audio.size()), 9624);
    EXPECT_EQ(std::memcmp(head.data(), "KAQ1", 4), 0);
    EXPECT_EQ(head[4], 0x85);
    EXPECT_EQ(head[8], 0);
    EXPECT_EQ(head[10], 1);
    EXPECT_EQ(head[11], 6);
    EXPECT_EQ(ReadBE16(&head[12]), 2414);
    EXPECT_EQ(AudioChunkBytes(head.data()), 9624);
    std::vector<uint8_t> back(9624);
    RegroupAudioToInterleaved(head.data() + 32, back.data(), back.size());
    EXPECT_EQ(std::memcmp(back.data(), audio.data(), back.size()), 0);
    EXPECT_EQ(head[32 + 9624], 0);  // zero fill behind the audio
    // Too little sound buffered: the header and length stay, the audio is silent.
    EXPECT_EQ(FillAudioChunk(head.data(), 0, 50, audio.data(), 100), 0);
    EXPECT_EQ(ReadBE16(&head[12]), 1448);
    EXPECT_EQ(head[32], 0);
}

TEST(Slot, ReaderClampsHostileChunkLengths) {
    uint8_t head[32] = {};
    WriteBE16(head + 12, 0xFFFF);
    EXPECT_EQ(AudioChunkBytes(head), kMaxAudioChunkBytes);
    WriteBE16(head + 12, 8);
    EXPECT_EQ(AudioChunkBytes(head), 0);
    WriteBE16(head + 12, 0);
    EXPECT_EQ(AudioChunkBytes(head), 0);
}

TEST(Parser, HeaderFields) {
    uint8_t h[32] = {'K', 'V', 'Q', '1', 1, 0, 0x03, 0x00, 0, 0, 1, 2};
    KVQ1Parser p(h);
    EXPECT_TRUE(p.Valid());
    EXPECT_EQ(p.SizeClass(), 1);
    EXPECT_EQ(p.FrameRate(), 50);  // 0 reads as 50
    EXPECT_EQ(p.FrameBudgetBytes(), 768 * 512);
    EXPECT_EQ(p.FrameNumber(), 258u);
    h[4] = 3;
    EXPECT_EQ(KVQ1Parser(h).SizeClass(), -1);
    EXPECT_EQ(KVQ1Parser(h).FrameBudgetBytes(), 768 * 512);  // other answers stay as read
    h[0] = 'X';
    KVQ1Parser bad(h);
    EXPECT_FALSE(bad.Valid());
    EXPECT_EQ(bad.SizeClass(), -1);
    EXPECT_EQ(bad.FrameBudgetBytes(), 0);
    EXPECT_EQ(bad.FrameRate(), 0);
    h[0] = 'K';
    EXPECT_FALSE(KVQ1Parser(h, 11).Valid());
    EXPECT_FALSE(KVQ1Parser(nullptr, 0).Valid());
}

namespace {

std::vector<uint8_t> FirstSlot(int sizeClass, int rate, int budgetSectors) {
    std::vector<uint8_t> s(kClusterBytes + 64, 0);
    uint8_t* f = s.data() + kClusterBytes;
    std::memcpy(f, "KVQ1", 4);
    f[4] = uint8_t(sizeClass);
    f[5] = uint8_t(rate);
    WriteBE16(f + 6, uint32_t(budgetSectors));
    return s;
}

}  // namespace

TEST(Slot, AddChecksOnTheFirstSlot) {
    const int slot1 = SlotGeometryFor(1).slotBytes;
    auto s = FirstSlot(1, 50, 768);
    EXPECT_EQ(CheckKAVQ1Slot(s.data(), s.size(), 1, 50, slot1), KAVQ1Check::Ok);
    EXPECT_EQ(CheckKAVQ1Slot(s.data(), s.size(), 1, 25, slot1), KAVQ1Check::Unsupported);
    EXPECT_EQ(CheckKAVQ1Slot(s.data(), s.size(), 2, 50, SlotGeometryFor(2).slotBytes), KAVQ1Check::Unsupported);
    auto zeroRate = FirstSlot(1, 0, 768);
    EXPECT_EQ(CheckKAVQ1Slot(zeroRate.data(), zeroRate.size(), 1, 50, slot1), KAVQ1Check::Ok);
    auto otherBudget = FirstSlot(1, 50, 700);
    EXPECT_EQ(CheckKAVQ1Slot(otherBudget.data(), otherBudget.size(), 1, 50, slot1), KAVQ1Check::Unsupported);
    auto badClass = FirstSlot(4, 50, 768);
    EXPECT_EQ(CheckKAVQ1Slot(badClass.data(), badClass.size(), 1, 50, slot1), KAVQ1Check::Invalid);
    auto badMagic = FirstSlot(1, 50, 768);
    badMagic[kClusterBytes + 3] = '2';
    EXPECT_EQ(CheckKAVQ1Slot(badMagic.data(), badMagic.size(), 1, 50, slot1), KAVQ1Check::Invalid);
    EXPECT_EQ(CheckKAVQ1Slot(s.data(), 100, 1, 50, slot1), KAVQ1Check::Invalid);
}

TEST(Slot, ExportStreamInfo) {
    KAVQ1StreamInfo info;
    auto s = FirstSlot(2, 0, 1536);
    ASSERT_TRUE(ReadKAVQ1StreamInfo(s.data(), s.size(), info));
    EXPECT_EQ(info.rateCode, 50);
    EXPECT_EQ(info.slotBytes, 798720);
    auto zero1 = FirstSlot(1, 25, 0), zero2 = FirstSlot(2, 25, 0);
    ASSERT_TRUE(ReadKAVQ1StreamInfo(zero1.data(), zero1.size(), info));
    EXPECT_EQ(info.budgetBytes, 600064);
    ASSERT_TRUE(ReadKAVQ1StreamInfo(zero2.data(), zero2.size(), info));
    EXPECT_EQ(info.budgetBytes, 1200128);
    auto bad = FirstSlot(9, 25, 768);
    EXPECT_FALSE(ReadKAVQ1StreamInfo(bad.data(), bad.size(), info));
    EXPECT_FALSE(ReadKAVQ1StreamInfo(s.data(), 10, info));
}

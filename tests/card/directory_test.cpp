// The directory block byte for byte: offsets, checksum, validation, the
// playlist-table rebuild, names, regions and the read-only queries.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "card/card_directory.h"
#include "card/card_item.h"
#include "card/video_modes.h"

namespace rk {
namespace {

TEST(Crc16Modbus, CheckValueAndEmpty) {
    const char* s = "123456789";
    EXPECT_EQ(Crc16Modbus(reinterpret_cast<const uint8_t*>(s), 9), 0x4B37);
    EXPECT_EQ(Crc16Modbus(nullptr, 0), 0xFFFF);
}

TEST(CardDirectoryLayout, EveryTableAtItsOffset) {
    CardDirectory d;
    d.SetStill(0, {0x11223344, 1, 33});
    d.SetEffect(0, {0x01020304, 5, 33});
    d.SetEffectSwitch(0, 0xAB);
    d.SetEffectHue(0, 0xCD);
    d.SetLogo(0, {0x0A0B0C0D, 6, 33});
    d.SetClipCount(0, 2);
    d.SetClip(0, 0, 7);
    d.SetClip(0, 14, 9);
    d.SetLoopFlag(0, 1);
    d.SetVideo(0, {0x55667788, 0x1234, 65});
    d.SetVideo(98, {0x99AABBCC, 0x4321, 33});
    const uint8_t* b = d.Bytes();
    // Still 0 at 2048, little-endian.
    EXPECT_EQ(b[2048], 0x44);
    EXPECT_EQ(b[2051], 0x11);
    EXPECT_EQ(b[2052], 1);
    EXPECT_EQ(b[2054], 33);
    // Effect 0 at 2304, its switch and hue at +8 and +9.
    EXPECT_EQ(b[2304], 0x04);
    EXPECT_EQ(b[2312], 0xAB);
    EXPECT_EQ(b[2313], 0xCD);
    // Logo 0 at 2568.
    EXPECT_EQ(b[2568], 0x0D);
    EXPECT_EQ(b[2572], 6);
    // Playlist record 0 at 9638: count, clips at +4, clip 14 at +60, loop at +64.
    EXPECT_EQ(b[9638], 2);
    EXPECT_EQ(b[9642], 7);
    EXPECT_EQ(b[9638 + 60], 9);
    EXPECT_EQ(b[9638 + 64], 1);
    // Video 0 at 10726 (not a multiple of 4), video 98 ends at the checksum.
    EXPECT_EQ(b[10726], 0x88);
    EXPECT_EQ(b[10730], 0x34);
    EXPECT_EQ(b[10731], 0x12);
    EXPECT_EQ(b[10732], 65);
    EXPECT_EQ(10726 + 98 * 264, 36598);
    EXPECT_EQ(b[36598], 0xCC);
    EXPECT_EQ(b[36598 + 3], 0x99);

    d.PrepareForWrite(7, 65);
    EXPECT_EQ(std::memcmp(b + 2560, "KVH1", 4), 0);
    EXPECT_EQ(b[2564], 7);
    EXPECT_EQ(b[2565] | b[2566] | b[2567], 0);
    uint16_t crc = Crc16Modbus(b, 36862);
    EXPECT_EQ(b[36862], crc & 0xFF);
    EXPECT_EQ(b[36863], crc >> 8);
    EXPECT_TRUE(d.IsValid());
}

CardDirectory ValidBlock(uint32_t mode) {
    CardDirectory d;
    d.PrepareForWrite(mode, ClustersPerFrameOfMode(int(mode)));
    return d;
}

TEST(CardDirectoryValidation, ChecksumMagicAndModeInThatOrder) {
    for (uint32_t m = 0; m <= 8; ++m) EXPECT_TRUE(ValidBlock(m).IsValid()) << m;

    CardDirectory d = ValidBlock(3);
    d.PutU16(kOffChecksum, uint16_t(d.StoredChecksum() ^ 1));
    EXPECT_EQ(d.Check(), DirectoryCheck::kBadChecksum);

    for (int i = 0; i < 4; ++i) {
        CardDirectory m = ValidBlock(3);
        m.Bytes()[kOffMagic + i] ^= 0x20;
        m.StoreChecksum();
        EXPECT_EQ(m.Check(), DirectoryCheck::kBadMagic) << i;
    }
    for (uint32_t mode : {9u, 0xFFFFFFFFu, 0x80000000u, 0x100u}) {
        CardDirectory m = ValidBlock(0);
        m.PutU32(kOffVideoMode, mode);
        m.StoreChecksum();
        EXPECT_EQ(m.Check(), DirectoryCheck::kBadMode) << mode;
    }
    // A wrong checksum is reported before a wrong magic.
    CardDirectory both = ValidBlock(0);
    both.Bytes()[kOffMagic] = 'X';
    EXPECT_EQ(both.Check(), DirectoryCheck::kBadChecksum);

    // Whatever the other bytes hold, a correct checksum, magic and mode pass.
    std::mt19937 rng(7);
    CardDirectory noise;
    for (size_t i = 0; i < kDirectorySize; ++i) noise.Bytes()[i] = uint8_t(rng());
    noise.StampMagicAndMode(8);
    noise.StoreChecksum();
    EXPECT_TRUE(noise.IsValid());
    // An all-zero block (a blank card) is not a directory.
    EXPECT_FALSE(CardDirectory().IsValid());
}

TEST(CardDirectoryPlaylists, RebuildMirrorsRecordsAndVideos) {
    CardDirectory d;
    for (int v = 0; v < 15; ++v) d.SetVideo(v, {uint32_t(1651 + 100 * v), uint16_t(10 + v), 33});
    d.SetClipCount(3, 15);
    for (int i = 0; i < 15; ++i) d.SetClip(3, i, 14 - i);
    d.SetLoopFlag(3, 1);
    d.SetClipCount(5, 1);
    d.SetClip(5, 0, 2);
    d.SetClipCount(6, -4);  // negative: an empty row
    // Stale rubbish in the table is cleared.
    d.PutU32(kOffPlaylistTable + 128 * 9, 1234);
    d.PrepareForWrite(0, 33);

    EntryHead title = d.PlaylistTableEntry(3, 0);
    EXPECT_EQ(title.startCluster, 3u + 3 * 33);
    EXPECT_EQ(title.numFrames, 0x800F);
    EXPECT_EQ(title.clustersPerFrame, 33);
    for (int j = 1; j <= 15; ++j) EXPECT_EQ(d.PlaylistTableEntry(3, j), d.Video(15 - j)) << j;

    EXPECT_EQ(d.PlaylistTableEntry(5, 0).numFrames, 1);
    EXPECT_EQ(d.PlaylistTableEntry(5, 0).startCluster, 3u + 5 * 33);
    EXPECT_EQ(d.PlaylistTableEntry(5, 1), d.Video(2));
    for (int j = 2; j < 16; ++j) EXPECT_EQ(d.PlaylistTableEntry(5, j), EntryHead{});
    for (int j = 0; j < 16; ++j) {
        EXPECT_EQ(d.PlaylistTableEntry(6, j), EntryHead{});
        EXPECT_EQ(d.PlaylistTableEntry(9, j), EntryHead{});
    }
}

TEST(CardDirectoryPlaylists, DamagedRecordsStayInsideTheirRow) {
    CardDirectory d;
    d.SetVideo(0, {1651, 5, 33});
    d.SetClipCount(0, 1000);           // more clips than a row holds
    for (int i = 0; i < 15; ++i) d.SetClip(0, i, 0);
    d.SetClipCount(1, 2);
    d.SetClip(1, 0, 99);               // no such video entry
    d.SetClip(1, 1, -1);
    d.PrepareForWrite(0, 33);
    EXPECT_EQ(d.PlaylistTableEntry(0, 15), d.Video(0));
    EXPECT_EQ(d.PlaylistTableEntry(1, 0).numFrames, 2);  // the title card of row 1 is its own
    EXPECT_EQ(d.PlaylistTableEntry(1, 1), EntryHead{});
    EXPECT_EQ(d.PlaylistTableEntry(1, 2), EntryHead{});
}

TEST(CardDirectoryNames, LimitsAndUnicode) {
    CardDirectory d;
    std::u16string n127(127, u'x'), n200(200, u'y');
    d.SetVideoName(4, n127);
    const uint8_t* unit = d.Bytes() + kOffVideos + 4 * 264 + 8;
    EXPECT_EQ(unit[126 * 2], 'x');
    EXPECT_EQ(unit[127 * 2] | unit[127 * 2 + 1], 0);
    EXPECT_EQ(d.VideoName(4), n127);
    // A longer name is cut to 127, and a shorter one clears what was behind it.
    d.SetVideoName(4, n200);
    EXPECT_EQ(d.VideoName(4).size(), 127u);
    d.SetVideoName(4, u"ab");
    for (int i = 2; i < 128; ++i) EXPECT_EQ(unit[2 * i] | unit[2 * i + 1], 0) << i;
    // The next entry's head is untouched by a full name.
    d.SetVideo(5, {42, 1, 33});
    d.SetVideoName(4, n200);
    EXPECT_EQ(d.Video(5), (EntryHead{42, 1, 33}));
    // UTF-8 round trip, including a character outside the basic plane.
    d.SetVideoNameUtf8(1, "Ж clip \xF0\x9F\x8E\xAC");
    EXPECT_EQ(d.VideoNameUtf8(1), "Ж clip \xF0\x9F\x8E\xAC");
    // Broken UTF-8 becomes replacement characters, never a crash.
    d.SetVideoNameUtf8(2, std::string("\xC3\x28\xFF\xE2\x82", 5));
    EXPECT_EQ(d.VideoName(2).size(), 5u);
}

TEST(CardRegionsTest, FromModeAndSize) {
    CardRegions hd = CardRegions::For(0, 16777216);
    EXPECT_EQ(hd.firstStillCluster, 531);
    EXPECT_EQ(hd.firstItemCluster, 1651);
    EXPECT_EQ(hd.totalClusters, 699050);
    EXPECT_EQ(hd.itemAreaClusters, 699050 - 1651);
    EXPECT_EQ(hd.StillCluster(1), 531u + 35);
    CardRegions uhd = CardRegions::For(7, 16777216 + 7);  // partial Cluster truncated
    EXPECT_EQ(uhd.firstStillCluster, 1043);
    EXPECT_EQ(uhd.firstItemCluster, 3187);
    EXPECT_EQ(uhd.totalClusters, 699050);
    EXPECT_EQ(CardRegions::For(42, 0).clustersPerFrame, 33);
}

// An add takes the lowest free entry of its kind, whatever the other kinds
// hold; a full table has none, and title cards have no entries to take.
TEST(CardDirectoryQueries, LowestFreeEntryOfEveryKind) {
    for (CardItem kind : {CardItem::kVideo, CardItem::kStill, CardItem::kEffect, CardItem::kLogo}) {
        SCOPED_TRACE(ItemKindName(kind));
        CardDirectory d;
        auto put = [&](int index, uint16_t frames) { PutItemEntry(d, ItemEntry{kind, index, {4000, frames, 33}}); };
        EXPECT_EQ(LowestFreeSlot(d, kind), 0);
        put(0, 1);
        EXPECT_EQ(LowestFreeSlot(d, kind), 1);
        for (int i = 1; i < ItemCount(kind); ++i) put(i, 1);
        EXPECT_EQ(LowestFreeSlot(d, kind), -1);
        put(ItemCount(kind) / 2, 0);
        EXPECT_EQ(LowestFreeSlot(d, kind), ItemCount(kind) / 2);
        for (CardItem other : {CardItem::kVideo, CardItem::kStill, CardItem::kEffect, CardItem::kLogo})
            if (other != kind) { EXPECT_EQ(LowestFreeSlot(d, other), 0); }
    }
    EXPECT_EQ(LowestFreeSlot(CardDirectory{}, CardItem::kTitleCard), -1);
}

// Effects exist on the 1920 x 1080 modes only: 0, 3 and 6.
TEST(CardVideoModes, HdModes) {
    for (int m = 0; m < kVideoModeCount; ++m) EXPECT_EQ(IsHdMode(m), m == 0 || m == 3 || m == 6) << m;
}

TEST(CardDirectoryQueries, CountsPositionsAndTexts) {
    CardDirectory d;
    d.SetVideo(2, {1651, 50, 33});
    d.SetVideo(5, {5000, 125, 65});
    d.SetVideoNameUtf8(5, "Opening");
    d.SetStill(0, {531, 1, 33});
    d.SetEffect(3, {9000, 10, 33});
    d.SetLogo(7, {9500, 4, 33});
    EXPECT_EQ(UsedVideoCount(d), 2);
    EXPECT_EQ(UsedStillCount(d), 1);
    EXPECT_EQ(UsedEffectCount(d), 1);
    EXPECT_EQ(UsedLogoCount(d), 1);
    EXPECT_EQ(ListPositionOfVideo(d, -1), -1);
    EXPECT_EQ(ListPositionOfVideo(d, 2), 0);
    EXPECT_EQ(ListPositionOfVideo(d, 5), 1);
    EXPECT_EQ(ListPositionOfVideo(d, 98), 2);
    EXPECT_EQ(VideoOfListPosition(d, 0), 2);
    EXPECT_EQ(VideoOfListPosition(d, 1), 5);
    EXPECT_EQ(VideoOfListPosition(d, 2), -1);
    EXPECT_EQ(VideoOfListPosition(d, -3), -1);
    EXPECT_EQ(EffectThumbnailCluster(d, 3), 9000u + 330);
    EXPECT_EQ(LogoThumbnailCluster(d, 7), 9500u + 132);
    // 125 frames at 50: 2 s and 25 frames; (125*65+1)*12288/1000 = 99856 kB.
    EXPECT_EQ(VideoText(d, 5, 50), "Opening\r0:00:02.25 (99.8MB)");
    EXPECT_EQ(VideoText(d, 2, 60), "0:00:00.50 (20.2MB)");
    EXPECT_EQ(VideoText(d, 3, 50), "");
    EXPECT_EQ(FramesDurationText(3600 * 50 + 61 * 50 + 7, 50), "1:01:01.07");
}

TEST(CardDirectoryQueries, FreeSpaceNeverNegativeAndIgnoresStills) {
    CardDirectory d;
    d.SetStill(0, {531, 1, 33});
    EXPECT_EQ(CountFreeClusters(d, 1000), 1000);
    d.SetVideo(0, {1651, 10, 33});   // 332 Clusters
    d.SetEffect(0, {2000, 1, 33});   // 35
    d.SetLogo(0, {3000, 2, 33});     // 68
    EXPECT_EQ(CountFreeClusters(d, 1000), 1000 - 332 - 35 - 68);
    d.SetVideo(1, {4000, 65535, 65535});
    EXPECT_EQ(CountFreeClusters(d, 1000), 0);
    // A deleted entry frees its Clusters at once.
    d.ClearVideo(1);
    EXPECT_EQ(CountFreeClusters(d, 1000), 1000 - 332 - 35 - 68);
}

// Blocks from a damaged or hostile card that still pass validation: every
// query, the dump and a rewrite stay within the block.
TEST(CardDirectoryHostile, RandomValidBlocks) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        CardDirectory d;
        for (size_t i = 0; i < kDirectorySize; ++i) d.Bytes()[i] = uint8_t(rng() % 3 ? rng() : 0);
        d.StampMagicAndMode(rng() % 9);
        d.StoreChecksum();
        ASSERT_TRUE(d.IsValid());
        int used = UsedVideoCount(d);
        EXPECT_LE(used, kVideoCount);
        for (int v = -1; v < kVideoCount; ++v) {
            int pos = ListPositionOfVideo(d, v);
            EXPECT_LE(pos, used);
            VideoText(d, v, 60);
            (void)d.VideoNameUtf8(v < 0 ? 0 : v);
        }
        for (int n = 0; n <= used; ++n) EXPECT_EQ(VideoOfListPosition(d, n) < 0, n == used);
        EXPECT_GE(CountFreeClusters(d, 1000000), 0);
        auto lines = DirectoryDumpLines(d, d.StoredVideoMode(), 1, 2);
        EXPECT_FALSE(lines.empty());
        // The spare region passes through a rewrite.
        std::vector<uint8_t> spare(d.Bytes() + kOffSpare, d.Bytes() + kOffSpare + kSpareSize);
        d.PrepareForWrite(d.StoredVideoMode(), 33);
        EXPECT_TRUE(d.IsValid());
        EXPECT_TRUE(std::equal(spare.begin(), spare.end(), d.Bytes() + kOffSpare));
    }
}

TEST(CardTexts, SizeText) {
    EXPECT_EQ(SizeText(999), "999 MB");
    EXPECT_EQ(SizeText(1000), "1.0 GB");
    EXPECT_EQ(SizeText(1999), "1.9 GB");
    EXPECT_EQ(SizeText(31907), "31.9 GB");
}

TEST(CardDirectoryDump, LinesInOrder) {
    CardDirectory d;
    d.SetVideo(3, {1651, 7, 33});
    d.SetClipCount(2, 1);
    d.SetClip(2, 0, 3);
    d.SetLoopFlag(2, 1);
    d.SetEffect(1, {2000, 2, 33});
    d.SetEffectSwitch(1, 4);
    d.SetEffectHue(1, 9);
    d.PrepareForWrite(0, 33);
    auto lines = DirectoryDumpLines(d, 0, 100, 200);
    std::vector<std::string> text;
    for (auto& l : lines) text.push_back(l.text);
    ASSERT_GE(text.size(), 14u);
    EXPECT_EQ(text[0], "Video mode: 0");
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(text[1], "100 of 200 clusters available");
    EXPECT_EQ(text[4], "03:        7,       33,     1651");
    EXPECT_EQ(text[5], "Playlists:");
    EXPECT_EQ(text[6], "Playlist 2:");
    EXPECT_EQ(text[8], "00:       69,    32769,       33");
    EXPECT_EQ(text[9], "01:     1651,        7,       33");
    auto eff = std::find(text.begin(), text.end(), "01:        2,       33,     2000,        4,        9");
    EXPECT_NE(eff, text.end());
}

}  // namespace
}  // namespace rk

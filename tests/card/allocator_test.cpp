// Allocation, the run records, first fit, the defragmentation question,
// compaction (bytes kept, Stop, device errors) and the card line.
#include <gtest/gtest.h>

#include <random>

#include "base/string_ids.h"
#include "base/texts.h"
#include "card_fixture.h"

namespace rk {
namespace {

using test::CardFixture;
using test::Len;

constexpr uint32_t F = 1651;  // first item Cluster of an HD card

TEST(RunRecords, BuildSortAndEndMarker) {
    CardDirectory d;
    d.SetVideo(4, {5000, 1, 33});
    d.SetVideo(1, {3000, 1, 33});
    d.SetEffect(0, {3000, 2, 33});  // same start as video 1
    d.SetLogo(2, {2000, 1, 33});
    d.SetStill(0, {531, 1, 33});   // stills are not item-area runs
    RunList list;
    BuildRunRecords(d, list);
    ASSERT_EQ(list.count, 4);
    EXPECT_EQ(list.records[0].kind, kKindVideo);
    EXPECT_EQ(list.records[0].entry, 1);
    SortRunRecords(list);
    // Selection with swaps: [V1 V4 E0 L2] -> [L2 V4 E0 V1] -> [L2 E0 V4 V1] -> [L2 E0 V1 V4].
    EXPECT_EQ(list.records[0].kind, kKindLogo);
    EXPECT_EQ(list.records[1].kind, kKindEffect);
    EXPECT_EQ(list.records[1].length, int32_t(Len(2)));
    EXPECT_EQ(list.records[2].kind, kKindVideo);
    EXPECT_EQ(list.records[2].entry, 1);
    EXPECT_EQ(list.records[3].start, 5000);
    AppendEndMarker(list, 6000);
    ASSERT_EQ(list.count, 5);
    EXPECT_EQ(list.records[4].kind, kKindEndMarker);
    EXPECT_EQ(list.records[4].start, 6000);
    // An item ending exactly at the card's end leaves no marker.
    RunList full;
    full.records[0] = {0, 5965, 35, kKindVideo};
    full.count = 1;
    AppendEndMarker(full, 6000);
    EXPECT_EQ(full.count, 1);
}

TEST(RunRecords, FirstFitRules) {
    RunList list;
    list.records[0] = {0, 1701, 35, kKindVideo};  // gap of 50 in front
    list.records[1] = {1, 1800, 35, kKindVideo};  // gap of 64 in front
    list.records[2] = {0, 2000, 0, kKindEndMarker};
    list.count = 3;
    EXPECT_EQ(FirstFit(list, 50, F), F);         // exactly n is taken
    EXPECT_EQ(FirstFit(list, 51, F), 1736);      // the next gap
    EXPECT_EQ(FirstFit(list, 165, F), 1835);     // through the end marker
    EXPECT_EQ(FirstFit(list, 166, F), -1);
    // Without an end marker the gap behind the last record does not count.
    list.count = 2;
    EXPECT_EQ(FirstFit(list, 100, F), -1);
    // An entry inside an earlier one does not make the earlier item's Clusters free.
    RunList nested;
    nested.records[0] = {0, int32_t(F), 300, kKindVideo};
    nested.records[1] = {1, int32_t(F) + 10, 35, kKindVideo};
    nested.records[2] = {0, int32_t(F) + 400, 0, kKindEndMarker};
    nested.count = 3;
    EXPECT_EQ(FirstFit(nested, 100, F), int64_t(F) + 300);
}

TEST(Allocate, EmptyCardAnswersFirstItemClusterWithoutQuestion) {
    CardFixture fx(500);
    EXPECT_EQ(AllocateClusters(fx.card, fx.op, 400000), int32_t(F));
    EXPECT_TRUE(fx.op.messages.empty());
}

TEST(Allocate, GapOfExactlyNBeforeAnItem) {
    CardFixture fx(1000);
    fx.Place(kKindVideo, 0, F + 70, 1);
    fx.Commit();
    EXPECT_EQ(AllocateClusters(fx.card, fx.op, 70), int32_t(F));
    EXPECT_EQ(AllocateClusters(fx.card, fx.op, 71), int32_t(F + 70 + Len(1)));
    EXPECT_TRUE(fx.op.messages.empty());
}

TEST(Allocate, ItemEndingAtTheCardEndLeavesOnlyGapsBetween) {
    CardFixture fx(Len(1) * 3 + 40);
    const uint32_t end = uint32_t(fx.card.TotalClusters());
    fx.Place(kKindVideo, 0, F + 20, 1);
    fx.Place(kKindEffect, 0, F + 20 + Len(1) + 20, 1);
    fx.Place(kKindLogo, 0, end - Len(1), 1);
    fx.Commit();
    ASSERT_EQ(fx.card.FreeClusters(), 40);
    fx.op.answers = {kResultNo};
    EXPECT_EQ(AllocateClusters(fx.card, fx.op, 30), -1);
    ASSERT_EQ(fx.op.messages.size(), 1u);
    EXPECT_EQ(fx.op.messages[0].kind, kMsgQuestion);
    EXPECT_EQ(fx.op.messages[0].icon, kIconQuestion);
    EXPECT_EQ(fx.op.messages[0].text, LoadText(IDS_DEFRAG_QUESTION));
    EXPECT_EQ(fx.op.begins, 0);  // nothing moved after No
    EXPECT_EQ(fx.DamagedItems(), 0);
}

TEST(Allocate, TwoGapsTogetherCompactUntilOneIsLargeEnough) {
    // gap 40, A (3 frames), gap 60, B (2 frames), gap 10, C (1 frame) at the end.
    CardFixture fx(40 + Len(3) + 60 + Len(2) + 10 + Len(1));
    const uint32_t a = F + 40, b = a + Len(3) + 60, c = b + Len(2) + 10;
    fx.Place(kKindVideo, 0, a, 3);
    fx.Place(kKindEffect, 5, b, 2);
    fx.Place(kKindLogo, 1, c, 1);
    fx.Commit();
    fx.op.answers = {kResultYes};
    int32_t at = AllocateClusters(fx.card, fx.op, 100);
    // A moved down to F; the gap in front of B is now 100.
    EXPECT_EQ(at, int32_t(F + Len(3)));
    EXPECT_EQ(fx.card.Directory().Video(0).startCluster, F);
    EXPECT_EQ(fx.card.Directory().Effect(5).startCluster, b);  // not moved
    EXPECT_EQ(fx.card.Directory().Logo(1).startCluster, c);
    EXPECT_EQ(fx.DamagedItems(), 0);
    EXPECT_EQ(fx.op.begins, 1);
    EXPECT_EQ(fx.op.ends, 1);
    EXPECT_EQ(fx.op.progressTotal, fx.card.ItemAreaClusters() + 1);
    // The move reached the card: a fresh read sees it.
    CSDCard again;
    fx.card.Close();
    ASSERT_EQ(again.OpenPath(fx.path), kOpenOk);
    ASSERT_TRUE(again.ReadDirectory());
    EXPECT_EQ(again.Directory().Video(0).startCluster, F);
    EXPECT_EQ(fx.DamagedItems(again.Directory()), 0);
}

TEST(Allocate, NestedEntryDoesNotHideItsHostsClusters) {
    CardFixture fx(600);
    fx.Place(kKindVideo, 0, F, 10);       // 332 Clusters
    fx.Place(kKindVideo, 1, F + 100, 1);  // lies inside video 0 (a damaged directory)
    fx.Commit();
    // The answer lies behind video 0, never inside it.
    EXPECT_EQ(AllocateClusters(fx.card, fx.op, 200), int32_t(F + 332));
    EXPECT_TRUE(fx.op.messages.empty());
}

TEST(Compaction, WholeAreaKeepsEveryItemsBytes) {
    CardFixture fx(4000);
    // Mixed gaps: some smaller than the item (overlapping moves), some larger.
    uint32_t at = F + 7;
    int v = 0;
    for (uint16_t frames : {5, 1, 12, 3, 2, 30, 1}) {
        fx.Place(v % 3 == 0 ? kKindVideo : (v % 3 == 1 ? kKindEffect : kKindLogo), v, at, frames);
        at += Len(frames) + (v % 2 ? 3 : 250);
        ++v;
    }
    fx.Commit();
    const int32_t freeBefore = fx.card.FreeClusters();
    ASSERT_TRUE(DefragmentCard(fx.card, fx.op, false));
    EXPECT_EQ(fx.DamagedItems(), 0);
    EXPECT_EQ(fx.card.FreeClusters(), freeBefore);
    // Packed: each item starts where the previous one ends.
    RunList list;
    BuildRunRecords(fx.card.Directory(), list);
    SortRunRecords(list);
    int64_t w = F;
    for (int i = 0; i < list.count; ++i) {
        EXPECT_EQ(list.records[i].start, w);
        w += list.records[i].length;
    }
    // Progress positions lie within the item area.
    for (int64_t p : fx.op.progress) {
        EXPECT_GE(p, 0);
        EXPECT_LE(p, fx.card.ItemAreaClusters() + 1);
    }
    // A packed card needs no moves.
    uint64_t pumps = uint64_t(fx.op.pumps);
    ASSERT_TRUE(DefragmentCard(fx.card, fx.op, false));
    EXPECT_EQ(uint64_t(fx.op.pumps), pumps);
}

TEST(Compaction, StopFinishesAnItemAlreadyOverwritingItself) {
    CardFixture fx(3000);
    fx.Place(kKindVideo, 0, F + 10, 20);  // 662 Clusters, gap 10: overlapping
    fx.Place(kKindVideo, 1, F + 10 + Len(20) + 500, 2);
    fx.Commit();
    // Chunks of 8 and 2 Clusters fill the gap first; the third already
    // overwrites the item's own start.
    fx.op.stopAtPump = 3;
    EXPECT_FALSE(DefragmentCard(fx.card, fx.op, false));
    EXPECT_EQ(fx.card.Directory().Video(0).startCluster, F);  // finished and written
    EXPECT_EQ(fx.card.Directory().Video(1).startCluster, F + 10 + Len(20) + 500);  // not started
    EXPECT_EQ(fx.DamagedItems(), 0);
    EXPECT_EQ(fx.op.ends, 1);
    CSDCard again;
    fx.card.Close();
    ASSERT_EQ(again.OpenPath(fx.path), kOpenOk);
    ASSERT_TRUE(again.ReadDirectory());
    EXPECT_EQ(fx.DamagedItems(again.Directory()), 0);
    EXPECT_EQ(again.Directory().Video(0).startCluster, F);
}

TEST(Compaction, StopLeavesAnUntouchedItemWhereItWas) {
    CardFixture fx(3000);
    fx.Place(kKindVideo, 0, F + 700, 20);  // gap 700 > 662: the source is never overwritten
    fx.Commit();
    fx.op.stopAtPump = 2;
    EXPECT_FALSE(DefragmentCard(fx.card, fx.op, false));
    EXPECT_EQ(fx.card.Directory().Video(0).startCluster, F + 700);
    EXPECT_EQ(fx.DamagedItems(), 0);
}

TEST(Compaction, ReadOrWriteFailureInTheMiddleOfAMove) {
    for (bool failRead : {true, false}) {
        CardFixture fx(3000, true);
        fx.Place(kKindVideo, 0, F + 700, 20);
        fx.Place(kKindVideo, 1, F + 700 + Len(20) + 5, 3);
        fx.Commit();
        fx.op.messages.clear();
        if (failRead)
            fx.fault->failReadAt = fx.fault->reads + 2;
        else
            fx.fault->failWriteAt = fx.fault->writes + 2;
        fx.op.answers = {kResultYes};
        // Gaps of 700, 5 and 1532: only compaction opens 1700.
        EXPECT_EQ(AllocateClusters(fx.card, fx.op, 1700), -1) << failRead;
        // One question, one device message.
        ASSERT_EQ(fx.op.messages.size(), 2u);
        EXPECT_EQ(fx.op.messages[1].text, LoadText(failRead ? IDS_MEDIA_ACCESS_ERROR : IDS_MEDIA_WRITE_ERROR));
        EXPECT_EQ(fx.op.ends, 1);
        // The entry still points at the untouched source.
        EXPECT_EQ(fx.card.Directory().Video(0).startCluster, F + 700);
        EXPECT_EQ(fx.DamagedItems(), 0);
    }
}

TEST(Compaction, DirectoryWriteFailureAfterAMove) {
    CardFixture fx(3000, true);
    fx.Place(kKindVideo, 0, F + 700, 2);
    fx.Commit();
    fx.op.messages.clear();
    fx.fault->failFlushAt = fx.fault->flushes + 1;  // the flush in front of the directory
    EXPECT_FALSE(DefragmentCard(fx.card, fx.op, false));
    ASSERT_EQ(fx.op.messages.size(), 1u);
    EXPECT_EQ(fx.op.messages[0].text, LoadText(IDS_MEDIA_WRITE_ERROR));
    // In memory the entry has its new start; on the card the old one, still intact.
    EXPECT_EQ(fx.card.Directory().Video(0).startCluster, F);
    CSDCard again;
    fx.card.Close();
    ASSERT_EQ(again.OpenPath(fx.path), kOpenOk);
    ASSERT_TRUE(again.ReadDirectory());
    EXPECT_EQ(again.Directory().Video(0).startCluster, F + 700);
    EXPECT_EQ(fx.DamagedItems(again.Directory()), 0);
}

// A directory with a correct checksum but rubbish entries (a foreign or
// damaged card): free space, the report, allocation and compaction must stay
// within bounds and never write outside the item area.
TEST(Compaction, RubbishEntriesStayInBounds) {
    std::mt19937 rng(5);
    for (int round = 0; round < 10; ++round) {
        CardFixture fx(400);
        CardDirectory& d = fx.card.Directory();
        for (int i = 0; i < 12; ++i) {
            EntryHead h{uint32_t(rng()), uint16_t(rng()), uint16_t(rng())};
            if (i % 3 == 0) h = {uint32_t(F + rng() % 500), uint16_t(1 + rng() % 4), 33};
            d.SetItem(ItemKind(1 + i % 3), int(rng() % 8), h);
        }
        // The directory Clusters and the stills region hold a marker that
        // must survive whatever happens.
        std::vector<uint8_t> marker(size_t(F - 3) * kClusterSize, 0xA5);
        ASSERT_TRUE(fx.card.WriteClusters(3, marker.data(), F - 3));
        ASSERT_TRUE(fx.card.WriteDirectory());
        EXPECT_GE(fx.card.FreeClusters(), 0);
        fx.op.defaultAnswer = kResultYes;
        int32_t at = AllocateClusters(fx.card, fx.op, 10);
        if (at >= 0) {
            EXPECT_GE(at, int32_t(F));
            EXPECT_LE(int64_t(at) + 10, fx.card.TotalClusters());
        }
        DefragmentCard(fx.card, fx.op, false);
        EXPECT_EQ(test::ReadImageClusters(fx.path, 3, F - 3), marker) << round;
    }
}

TEST(CardLineTest, NumbersAndText) {
    CardLine l = CardLineNumbers(0, 0);
    EXPECT_EQ(l.totalMiB, 1);
    EXPECT_EQ(l.percent, 0);
    l = CardLineNumbers(-50, 0);
    EXPECT_EQ(l.totalMiB, 1);
    l = CardLineNumbers(695863, 695863);
    EXPECT_EQ(l.totalMiB, 695863LL * 12288 / 1048576);
    EXPECT_EQ(l.percent, 100);
    l = CardLineNumbers(1000, 333);
    EXPECT_EQ(l.totalMiB, 11);
    EXPECT_EQ(l.freeMiB, 3);
    EXPECT_EQ(l.percent, 27);

    CSDCard closed;
    EXPECT_EQ(CardLineText(closed), "");
    CardFixture fx(1000);
    EXPECT_EQ(CardLineText(fx.card), "HD 1080p50, 11 MB of 11 MB available (100%)");
    std::vector<uint8_t> zero(kDirectorySize, 0);
    ASSERT_TRUE(fx.card.WriteClusters(0, zero.data(), 3));
    EXPECT_FALSE(fx.card.ReadDirectory());
    EXPECT_EQ(CardLineText(fx.card), LoadText(IDS_NOT_FORMATTED));
}

}  // namespace
}  // namespace rk

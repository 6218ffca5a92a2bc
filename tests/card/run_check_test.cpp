// The run check: overlaps of every shape, runs past the card's end and over
// the fixed regions, and compaction and allocation refusing such a directory
// without changing a byte of the card.
#include <gtest/gtest.h>

#include "base/string_ids.h"
#include "base/texts.h"
#include "card/run_check.h"
#include "card_fixture.h"

namespace rk {
namespace {

using test::CardFixture;
using test::Len;

constexpr uint32_t F = 1651;  // first item Cluster of an HD card

CardRegions Hd(int64_t itemClusters) { return CardRegions::For(0, (F + itemClusters) * 24); }

TEST(RunCheck, SoundDirectoriesPassIncludingTouchingRuns) {
    CardDirectory d;
    EXPECT_TRUE(CheckRuns(d, Hd(1000)).empty());
    d.SetVideo(0, {F, 2, 33});
    d.SetEffect(3, {F + Len(2), 1, 33});           // touches video 0's end
    d.SetLogo(7, {F + 1000 - Len(1), 1, 33});      // ends exactly at the card's end
    d.SetStill(0, {531, 1, 33});                   // stills have their own slots
    EXPECT_TRUE(CheckRuns(d, Hd(1000)).empty());
}

TEST(RunCheck, EveryShapeOfOverlapNamesBothItems) {
    struct Case {
        const char* what;
        EntryHead a, b;
    } cases[] = {
        {"nested", {F, 10, 33}, {F + 100, 1, 33}},
        {"partial", {F, 2, 33}, {F + Len(2) - 1, 1, 33}},
        {"same start", {F + 50, 1, 33}, {F + 50, 3, 33}},
        {"second holds the first", {F + 100, 1, 33}, {F, 10, 33}},
    };
    for (const Case& c : cases) {
        CardDirectory d;
        d.SetVideo(1, c.a);
        d.SetVideo(2, c.b);
        auto p = CheckRuns(d, Hd(2000));
        ASSERT_EQ(p.size(), 1u) << c.what;
        EXPECT_EQ(p[0].fault, RunFault::kOverlap) << c.what;
        EXPECT_EQ(RunProblemText(p[0]), "Videos 2 and 3 share clusters; the card needs checking") << c.what;
    }
    // Across tables, and every pair reported.
    CardDirectory d;
    d.SetVideo(0, {F, 5, 33});
    d.SetEffect(0, {F + 10, 1, 33});
    d.SetLogo(4, {F + 20, 1, 33});
    auto p = CheckRuns(d, Hd(2000));
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(RunProblemText(p[0]), "Video 1 and Effect 1 share clusters; the card needs checking");
    EXPECT_EQ(RunProblemText(p[1]), "Video 1 and Logo 5 share clusters; the card needs checking");
    EXPECT_EQ(RunProblemText(p[2]), "Effect 1 and Logo 5 share clusters; the card needs checking");
    d.ClearVideo(0);
    d.ClearLogo(4);
    d.SetEffect(1, {F + 10, 1, 33});
    p = CheckRuns(d, Hd(2000));
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(RunProblemText(p[0]), "Effects 1 and 2 share clusters; the card needs checking");
}

TEST(RunCheck, RunsLeavingTheItemArea) {
    struct Case {
        EntryHead h;
        RunFault fault;
    } cases[] = {
        {{F + 1000 - Len(1) + 1, 1, 33}, RunFault::kPastEnd},
        {{0xFFFFFFF0u, 0xFFFF, 0xFFFF}, RunFault::kPastEnd},  // no wrap-around
        {{0, 1, 33}, RunFault::kOutsideItemArea},             // over the directory
        {{3, 1, 33}, RunFault::kOutsideItemArea},             // a title card
        {{F - 1, 1, 33}, RunFault::kOutsideItemArea},         // the last still's thumbnail
    };
    for (const Case& c : cases) {
        CardDirectory d;
        d.SetLogo(2, c.h);
        auto p = CheckRuns(d, Hd(1000));
        ASSERT_EQ(p.size(), 1u) << c.h.startCluster;
        EXPECT_EQ(p[0].fault, c.fault) << c.h.startCluster;
    }
    CardDirectory d;
    d.SetVideo(4, {F + 990, 1, 33});
    EXPECT_EQ(RunProblemText(CheckRuns(d, Hd(1000))[0]),
              "Video 5 reaches past the end of the card; the card needs checking");
    d.SetVideo(4, {600, 1, 33});
    EXPECT_EQ(RunProblemText(CheckRuns(d, Hd(1000))[0]),
              "Video 5 lies over the directory, title card or still regions; the card needs checking");
}

// A card whose second and third videos overlap: defrag and an allocation that
// would compact refuse, say which items, and write nothing.
class DamagedCard : public ::testing::Test {
protected:
    void SetUp() override {
        fx.Place(kKindVideo, 0, F + 100, 1);
        fx.Place(kKindVideo, 1, F + 400, 4);
        fx.Place(kKindVideo, 2, F + 400 + 35, 1);  // inside video 1 (overwrites part of its pattern)
        fx.Place(kKindEffect, 0, F + 700, 1);
        fx.Commit();
        before = test::ReadImageClusters(fx.path, 0, uint64_t(fx.card.TotalClusters()));
        dirBefore = fx.card.Directory();
        fx.op.messages.clear();
        fx.op.defaultAnswer = kResultYes;
    }
    void ExpectRefusedAndUnchanged() {
        ASSERT_FALSE(fx.op.messages.empty());
        EXPECT_EQ(fx.op.messages[0].text, "Videos 2 and 3 share clusters; the card needs checking");
        EXPECT_EQ(fx.op.messages[0].icon, kIconError);
        for (const auto& m : fx.op.messages) EXPECT_NE(m.kind, kMsgQuestion);  // refused before asking
        EXPECT_EQ(fx.op.begins, 0);
        EXPECT_TRUE(fx.card.Directory() == dirBefore);
        EXPECT_EQ(test::ReadImageClusters(fx.path, 0, uint64_t(fx.card.TotalClusters())), before);
    }
    CardFixture fx{1000};
    std::vector<uint8_t> before;
    CardDirectory dirBefore;
};

TEST_F(DamagedCard, DefragRefuses) {
    EXPECT_FALSE(DefragmentCard(fx.card, fx.op, true));
    ExpectRefusedAndUnchanged();
    EXPECT_FALSE(DefragmentCard(fx.card, fx.op, false));
    EXPECT_TRUE(CompactItemArea(fx.card, fx.op, 0).failed);
    EXPECT_EQ(test::ReadImageClusters(fx.path, 0, uint64_t(fx.card.TotalClusters())), before);
}

TEST_F(DamagedCard, AllocationThatWouldCompactRefuses) {
    // Gaps of 100, 265, 166 and 265: 280 needs compaction.
    EXPECT_EQ(AllocateClusters(fx.card, fx.op, 280), -1);
    ExpectRefusedAndUnchanged();
    // A gap that is there already is still found without any question.
    fx.op.messages.clear();
    EXPECT_EQ(AllocateClusters(fx.card, fx.op, 100), int32_t(F));
    EXPECT_TRUE(fx.op.messages.empty());
}

}  // namespace
}  // namespace rk

// A card pulled out at every write and flush of an operation: the device
// crashes at event N (that write and all later ones never land, and writes
// not yet flushed are dropped, kept, or only the newest kept). Afterwards the card
// must read as a valid directory whose entries point only at complete data.
#include <gtest/gtest.h>

#include "card/run_check.h"
#include "card_fixture.h"

namespace rk {
namespace {

using test::CardFixture;
using test::Len;
using Lost = CFaultDevice::LostWrites;

constexpr uint32_t F = 1651;
constexpr Lost kPolicies[] = {Lost::kDropAll, Lost::kKeepAll, Lost::kKeepNewestOnly};

const char* Name(Lost l) {
    return l == Lost::kDropAll ? "drop-all" : l == Lost::kKeepAll ? "keep-all" : "keep-newest";
}

// What an add does to the card: allocate, write the frame slots one by one
// and the thumbnail block, then the entry.
bool AddLike(CSDCard& card, IOperator& op, int v, uint16_t frames, uint32_t tag) {
    const uint32_t n = Len(frames);
    int32_t at = AllocateClusters(card, op, int32_t(n));
    if (at < 0) return false;
    std::vector<uint8_t> data(size_t(n) * kClusterSize);
    test::FillPattern(data.data(), n, tag);
    for (uint32_t f = 0; f < frames; ++f)
        if (!card.WriteClusters(uint32_t(at) + f * 33, data.data() + size_t(f) * 33 * kClusterSize, 33)) return false;
    if (!card.WriteThumbnailBlock(uint32_t(at) + frames * 33u, data.data() + size_t(frames) * 33 * kClusterSize))
        return false;
    card.Directory().SetVideo(v, {uint32_t(at), frames, 33});
    card.Directory().SetVideoNameUtf8(v, "added");
    return card.WriteDirectory();
}

// Reopens the image without the failing device and checks it.
void ExpectConsistent(CardFixture& fx, const std::string& what) {
    fx.card.Close();
    CSDCard again;
    ASSERT_EQ(again.OpenPath(fx.path), kOpenOk) << what;
    ASSERT_TRUE(again.ReadDirectory()) << what;
    EXPECT_EQ(fx.DamagedItems(again.Directory()), 0) << what;
}

template <class Setup, class Run>
int CrashAtEveryWrite(Setup setup, Run run, const char* label, int64_t itemClusters = 3000) {
    int crashes = 0;
    for (Lost policy : kPolicies) {
        for (uint64_t n = 1;; ++n) {
            CardFixture fx(itemClusters, true);
            setup(fx);
            fx.fault->crashAtEvent = fx.fault->events + n;
            fx.fault->lostWrites = policy;
            run(fx);
            if (!fx.fault->crashed) break;  // the operation had fewer writes
            ++crashes;
            ExpectConsistent(fx, std::string(label) + " " + Name(policy) + " crash at event " + std::to_string(n));
            if (::testing::Test::HasFailure()) return crashes;
        }
    }
    return crashes;
}

TEST(Interruption, Format) {
    auto setup = [](CardFixture& fx) {
        fx.Place(kKindVideo, 0, F + 100, 3);
        fx.Commit();
    };
    int crashes = CrashAtEveryWrite(setup, [](CardFixture& fx) { fx.card.Format(1); }, "format");
    EXPECT_EQ(crashes, 3 * 3);  // flush, directory write, flush; under each policy
}

TEST(Interruption, AddLikeSequence) {
    auto setup = [](CardFixture& fx) {
        fx.Place(kKindVideo, 0, F + 10, 2);
        fx.Place(kKindEffect, 0, F + 500, 1);
        fx.Commit();
    };
    auto run = [](CardFixture& fx) {
        fx.items.push_back({kKindVideo, 7, 4242});
        AddLike(fx.card, fx.op, 7, 4, 4242);
    };
    int crashes = CrashAtEveryWrite(setup, run, "add");
    EXPECT_GE(crashes, 3 * 9);  // 4 slots, 2 thumbnail Clusters, flush, directory, flush
}

TEST(Interruption, AddThatCompactsFirst) {
    // Gaps of 60, 60, 10 and 35; the new item needs 101, so the first item
    // moves down (into a gap longer than itself) and the new one goes behind it.
    auto setup = [](CardFixture& fx) {
        fx.Place(kKindVideo, 0, F + 60, 1);
        fx.Place(kKindLogo, 2, F + 155, 1);
        fx.Place(kKindEffect, 1, F + 200, 11);
        fx.Commit();
        fx.op.defaultAnswer = kResultYes;
    };
    auto run = [](CardFixture& fx) {
        fx.items.push_back({kKindVideo, 9, 777});
        EXPECT_TRUE(AddLike(fx.card, fx.op, 9, 3, 777) || fx.fault->crashed);
    };
    EXPECT_GT(CrashAtEveryWrite(setup, run, "add+compact", 600), 3 * 5);
}

TEST(Interruption, CompactionWithoutSelfOverlap) {
    // Every gap is at least as long as the item behind it, so no move
    // overwrites its own source.
    auto setup = [](CardFixture& fx) {
        fx.Place(kKindVideo, 0, F + 40, 1);
        fx.Place(kKindVideo, 1, F + 40 + Len(1) + 200, 5);
        fx.Place(kKindEffect, 3, F + 40 + Len(1) + 200 + Len(5) + 300, 2);
    };
    auto run = [](CardFixture& fx) { DefragmentCard(fx.card, fx.op, false); };
    auto setupCommit = [&](CardFixture& fx) {
        setup(fx);
        fx.Commit();
    };
    EXPECT_GT(CrashAtEveryWrite(setupCommit, run, "compaction"), 3);
}

// A move into a gap shorter than the item overwrites the item's own first
// Clusters before its entry can change. Whatever write a crash cuts, the next
// open (which finishes a move the journal holds) finds every item whole.
TEST(Interruption, CompactionWithSelfOverlapLosesNothing) {
    // A gap of one Cluster makes a step of each Cluster: crashes at every
    // ninth event keep the run short.
    struct Layout {
        const char* name;
        uint32_t gaps[3];
        uint16_t frames[3];
        uint64_t stride;
        int leastCrashes;
    };
    const Layout layouts[] = {
        {"gaps shorter than the items", {12, 10, 5}, {1, 2, 1}, 1, 3 * 8},
        {"a gap of a single cluster", {1, 0, 40}, {1, 0, 0}, 9, 3 * 4},
    };
    const ItemKind kinds[] = {kKindVideo, kKindEffect, kKindLogo};
    for (const Layout& l : layouts) {
        int crashes = 0;
        for (Lost policy : kPolicies) {
            for (uint64_t n = 1;; n += l.stride) {
                CardFixture fx(1000, true);
                uint32_t at = F;
                for (int i = 0; i < 3 && l.frames[i] > 0; ++i) {
                    at += l.gaps[i];
                    fx.Place(kinds[i], i, at, l.frames[i]);
                    at += Len(l.frames[i]);
                }
                fx.Commit();
                fx.fault->crashAtEvent = fx.fault->events + n;
                fx.fault->lostWrites = policy;
                DefragmentCard(fx.card, fx.op, false);
                if (!fx.fault->crashed) {
                    EXPECT_EQ(fx.DamagedItems(), 0) << l.name;
                    break;
                }
                ++crashes;
                const std::string what = std::string(l.name) + " " + Name(policy) + " crash at event " + std::to_string(n);
                fx.card.Close();
                CScriptedOperator op;
                CSDCard again(&op);
                ASSERT_EQ(again.OpenPath(fx.path), kOpenOk) << what;
                ASSERT_TRUE(again.ReadDirectory()) << what;
                EXPECT_NE(FinishPendingMove(again, op), PendingMoveResult::kFailed) << what;
                EXPECT_EQ(fx.DamagedItems(again.Directory()), 0) << what;
                EXPECT_TRUE(CheckRuns(again.Directory(), again.Regions()).empty()) << what;
                // Nothing is left to finish, and a second open moves nothing.
                EXPECT_EQ(FinishPendingMove(again, op), PendingMoveResult::kNone) << what;
                if (::testing::Test::HasFailure()) return;
            }
        }
        EXPECT_GT(crashes, l.leastCrashes) << l.name;
    }
}

}  // namespace
}  // namespace rk

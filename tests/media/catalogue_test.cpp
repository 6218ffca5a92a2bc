// Deleting, playlists and still swaps on real card images through the
// scripted operator, and a crash at every write of each edit. The videos here
// are synthetic (their frames do not decode), so every title card fails: the
// edits must go on and write the directory all the same.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "card/card_directory.h"
#include "media/delete_ops.h"
#include "media/playlist_ops.h"
#include "media/still_ops.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

class CatalogueTest : public ::testing::Test {
public:
    void SetUp() override {
        image = dir.File("card.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
        Open();
        clip = dir.File("clip.kavq1");
        ASSERT_TRUE(test::WriteSyntheticKAVQ1(clip, 0, 3));
    }
    void Open(bool withFault = false) {
        card.Close();
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image, withFault ? &fault : nullptr));
    }
    int AddVideo() {
        AddVideoOutcome r = AddVideoFromPath(op, card, LowestFreeVideoSlot(card.Directory()), clip, ImportOptions{});
        EXPECT_EQ(r.result, OpResult::kDone);
        return r.slot;
    }
    CardDirectory OnCard() {
        CardDirectory d;
        auto bytes = test::ReadImageClusters(image, 0, 3);
        std::memcpy(d.Bytes(), bytes.data(), kDirectorySize);
        return d;
    }
    std::vector<int> Clips(const CardDirectory& d, int p) {
        std::vector<int> v;
        for (int i = 0; i < d.ClipCount(p); ++i) v.push_back(d.Clip(p, i));
        return v;
    }
    // Puts a still's picture (a pattern naming `tag`) at slot s's place and its entry.
    void PlaceStill(int s, uint8_t tag) {
        const uint32_t run = card.ClustersPerFrame() + 2;
        std::vector<uint8_t> data(size_t(run) * kClusterSize);
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(tag + i / kClusterSize);
        ASSERT_TRUE(card.WriteClusters(card.Regions().StillCluster(s), data.data(), run));
        card.Directory().SetStill(s, EntryHead{card.Regions().StillCluster(s), 1, uint16_t(card.ClustersPerFrame())});
        ASSERT_TRUE(card.WriteDirectory());
    }
    // The tag of the picture at still place s, or -1 when it is not one whole pattern.
    int TagAt(int s) { return TagOfRun(CardRegions::For(0, card.TotalSectors()).StillCluster(s)); }
    int TagOfRun(uint32_t first) {
        const uint32_t run = 33 + 2;
        auto data = test::ReadImageClusters(image, first, run);
        const uint8_t tag = data[0];
        for (size_t i = 0; i < data.size(); ++i)
            if (data[i] != uint8_t(tag + i / kClusterSize)) return -1;
        return tag;
    }

    test::TempDir dir;
    std::string image, clip;
    CScriptedOperator op;
    CSDCard card;
    CFaultDevice* fault = nullptr;
};

TEST_F(CatalogueTest, DeletingAVideoUsedTwiceInOnePlaylistAndOnceInAnother) {
    const int a = AddVideo(), b = AddVideo();
    AddClip(op, card, 2, a);
    AddClip(op, card, 2, b);
    AddClip(op, card, 2, a);
    AddClip(op, card, 6, a);
    PlaylistEdit e = AddClip(op, card, 6, b, 0);  // at the front
    EXPECT_TRUE(e.done && e.written);
    EXPECT_EQ(e.titleCardFailures, 1);  // synthetic frames: the card stays silent, the edit goes on
    EXPECT_TRUE(op.TextsWithIcon(kIconError).empty());
    EXPECT_EQ(Clips(OnCard(), 6), (std::vector<int>{b, a}));
    EXPECT_EQ(PlaylistsUsingVideo(card.Directory(), a), 2);

    op.messages.clear();
    DeleteOutcome d = DeleteVideo(op, card, a);
    ASSERT_EQ(d.result, OpResult::kDone);
    EXPECT_EQ(op.TextsWithIcon(kIconQuestion),
              std::vector<std::string>{"This video is used in 2 playlists.\n\nDelete video?\n\nVideo 1 'clip'"});
    EXPECT_EQ(d.playlistsChanged, 2);
    const CardDirectory after = OnCard();
    EXPECT_EQ(Clips(after, 2), std::vector<int>{b});
    EXPECT_EQ(Clips(after, 6), std::vector<int>{b});
    EXPECT_FALSE(after.Video(a).Used());

    // An unused video asks the other question; No changes nothing.
    const int c = AddVideo();
    op.messages.clear();
    op.answers.push_back(kResultNo);
    EXPECT_EQ(DeleteVideo(op, card, c).result, OpResult::kRefused);
    EXPECT_EQ(op.TextsWithIcon(kIconQuestion),
              std::vector<std::string>{"This video is not used in any playlists.\n\nDelete video?\n\nVideo 1 'clip'"});
    EXPECT_TRUE(OnCard().Video(c).Used());
}

TEST_F(CatalogueTest, FifteenClipsLimitAndAPlaylistEmptiedByADelete) {
    const int v = AddVideo();
    for (int i = 0; i < 14; ++i) ASSERT_TRUE(AddClip(op, card, 0, v).done);
    EXPECT_TRUE(AddClip(op, card, 0, v).done);  // 14 accept one more
    EXPECT_FALSE(AddClip(op, card, 0, v).done); // 15 accept none
    EXPECT_EQ(OnCard().ClipCount(0), 15);
    EXPECT_EQ(PlaylistFrames(card.Directory(), 0), 45u);
    EXPECT_EQ(PlaylistDurationText(card.Directory(), 0, 50), "0:00:00.45");
    EXPECT_EQ(DeleteVideo(op, card, v).result, OpResult::kDone);
    EXPECT_EQ(OnCard().ClipCount(0), 0);
}

TEST_F(CatalogueTest, ClearAsksAndResetsTheEndModeSwapsAndRemoves) {
    const int a = AddVideo(), b = AddVideo();
    AddClip(op, card, 2, a);
    AddClip(op, card, 2, b);
    ASSERT_TRUE(SetEndMode(op, card, 2, true).done);
    EXPECT_FALSE(SetEndMode(op, card, 2, true).done);  // already so
    EXPECT_TRUE(OnCard().Loops(2));
    ASSERT_TRUE(SwapClips(op, card, 2, 0, 1).done);
    EXPECT_EQ(Clips(OnCard(), 2), (std::vector<int>{b, a}));
    ASSERT_TRUE(SwapPlaylists(op, card, 2, 4).done);
    EXPECT_EQ(Clips(OnCard(), 4), (std::vector<int>{b, a}));
    EXPECT_TRUE(OnCard().Loops(4));
    EXPECT_EQ(OnCard().ClipCount(2), 0);
    ASSERT_TRUE(RemoveClip(op, card, 4, 0).done);
    EXPECT_EQ(Clips(OnCard(), 4), std::vector<int>{a});

    const auto titleArea = test::ReadImageClusters(image, card.Regions().TitleCluster(4), 33);
    op.messages.clear();
    op.answers.push_back(kResultNo);
    EXPECT_FALSE(ClearPlaylist(op, card, 4).done);
    EXPECT_TRUE(ClearPlaylist(op, card, 4).done);
    EXPECT_EQ(op.TextsWithIcon(kIconQuestion), (std::vector<std::string>{"Clear playlist 5?", "Clear playlist 5?"}));
    const CardDirectory after = OnCard();
    EXPECT_EQ(after.ClipCount(4), 0);
    EXPECT_FALSE(after.Loops(4));
    EXPECT_EQ(test::ReadImageClusters(image, card.Regions().TitleCluster(4), 33), titleArea);
}

TEST_F(CatalogueTest, DeletingStillsEffectsAndLogosAndTheLowestFreeStill) {
    PlaceStill(0, 10);
    PlaceStill(1, 20);
    PlaceStill(2, 30);
    EXPECT_EQ(LowestFreeStillSlot(card.Directory()), 3);
    ASSERT_EQ(DeleteStill(op, card, 1).result, OpResult::kDone);
    EXPECT_EQ(op.TextsWithIcon(kIconQuestion), std::vector<std::string>{"Delete still image?\n\nStill image 2"});
    EXPECT_EQ(LowestFreeStillSlot(OnCard()), 1);
    EXPECT_EQ(OnCard().Still(2).startCluster, card.Regions().StillCluster(2));  // the others stay

    CardDirectory& d = card.Directory();
    d.SetEffect(3, EntryHead{2000, 4, 33});
    d.SetEffectSwitch(3, 1);
    d.SetEffectHue(3, 7);
    d.SetLogo(5, EntryHead{2500, 2, 33});
    ASSERT_TRUE(card.WriteDirectory());
    ASSERT_TRUE(SwapEffects(op, card, 3, 9));
    EXPECT_EQ(OnCard().Effect(9).startCluster, 2000u);
    EXPECT_EQ(OnCard().EffectHue(9), 7);
    EXPECT_FALSE(OnCard().Effect(3).Used());
    ASSERT_EQ(DeleteEffect(op, card, 9).result, OpResult::kDone);
    EXPECT_FALSE(OnCard().Effect(9).Used());
    EXPECT_EQ(OnCard().EffectHue(9), 7);  // Switch and Hue stay
    ASSERT_EQ(DeleteLogo(op, card, 5).result, OpResult::kDone);
    EXPECT_FALSE(OnCard().Logo(5).Used());
    EXPECT_EQ(DeleteLogo(op, card, 5).result, OpResult::kRefused);  // a free slot: nothing
}

TEST_F(CatalogueTest, StillSwapExchangesPicturesAndADragOntoAFreeSlotMovesIt) {
    PlaceStill(0, 10);
    PlaceStill(3, 40);
    ASSERT_EQ(SwapStills(op, card, 0, 3).result, OpResult::kDone);
    EXPECT_EQ(TagAt(0), 40);
    EXPECT_EQ(TagAt(3), 10);
    CardDirectory d = OnCard();
    EXPECT_EQ(d.Still(0).startCluster, card.Regions().StillCluster(0));
    EXPECT_EQ(d.Still(3).startCluster, card.Regions().StillCluster(3));

    // Onto a free slot: the moved entry takes the target's place, the freed one is all zero.
    ASSERT_EQ(SwapStills(op, card, 3, 7).result, OpResult::kDone);
    d = OnCard();
    EXPECT_EQ(d.Still(7), (EntryHead{card.Regions().StillCluster(7), 1, 33}));
    EXPECT_EQ(d.Still(3), EntryHead{});
    EXPECT_EQ(TagAt(7), 10);
}

// Runs `edit` on a fresh copy of the card with a crash at write or flush n,
// n = 1, 2, ... until an edit runs through; `check` looks at the image after.
template <typename Edit, typename Check>
int CrashEverywhere(CatalogueTest* t, const std::string& pristine, Edit edit, Check check) {
    int crashes = 0;
    for (uint64_t n = 1; n < 400; ++n) {
        std::filesystem::copy_file(pristine, t->image, std::filesystem::copy_options::overwrite_existing);
        t->card.Close();
        CFaultDevice* fault = nullptr;
        t->card.SetOperator(&t->op);
        if (!test::OpenCard(t->card, t->image, &fault)) return -1;
        fault->crashAtEvent = n;
        fault->lostWrites = CFaultDevice::LostWrites::kDropAll;
        edit();
        const bool crashed = fault->crashed;
        t->card.Close();
        check(crashed, n);
        if (::testing::Test::HasFailure()) return crashes;
        if (!crashed) break;
        ++crashes;
    }
    return crashes;
}

TEST_F(CatalogueTest, CrashAtEveryWriteOfASwapADeleteAndAPlaylistEdit) {
    PlaceStill(0, 10);
    PlaceStill(1, 20);
    const int v = AddVideo();
    AddClip(op, card, 0, v);
    AddClip(op, card, 1, v);
    card.Close();
    const std::string pristine = dir.File("pristine.img");
    std::filesystem::copy_file(image, pristine);

    // A swap: every entry names a whole picture, never a half-written one,
    // and both pictures are named at every moment: with a free still slot to
    // park one in, and with all 32 used (parked in the item area).
    auto bothPicturesNamed = [&](bool, uint64_t n) {
        CardDirectory d = OnCard();
        ASSERT_TRUE(d.IsValid()) << n;
        std::set<int> tags;
        for (int s = 0; s < kStillCount; ++s) {
            if (!d.Still(s).Used()) continue;
            EXPECT_EQ(d.Still(s).startCluster, CardRegions::For(0, card.TotalSectors()).StillCluster(s)) << n;
            EXPECT_NE(TagAt(s), -1) << "still " << s << " names a half-written picture, crash " << n;
            tags.insert(TagAt(s));
        }
        for (int w = 0; w < kVideoCount; ++w)
            if (w != v && d.Video(w).Used()) tags.insert(TagOfRun(d.Video(w).startCluster));
        EXPECT_TRUE(tags.count(10) && tags.count(20)) << "a picture is lost, crash " << n;
    };
    int crashes = CrashEverywhere(this, pristine, [&] { SwapStills(op, card, 0, 1); }, bothPicturesNamed);
    EXPECT_GE(crashes, 9);
    ASSERT_TRUE(test::OpenCard(card, image));
    EXPECT_EQ(TagAt(0), 20);
    EXPECT_EQ(TagAt(1), 10);
    EXPECT_FALSE(OnCard().Still(2).Used());

    const std::string full = dir.File("full.img");
    card.Close();
    std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(test::OpenCard(card, image));
    for (int s = 2; s < kStillCount; ++s) PlaceStill(s, uint8_t(30 + 2 * s));
    card.Close();
    std::filesystem::copy_file(image, full);
    crashes = CrashEverywhere(this, full, [&] { SwapStills(op, card, 0, 1); }, bothPicturesNamed);
    EXPECT_GE(crashes, 9);
    ASSERT_TRUE(test::OpenCard(card, image));
    EXPECT_EQ(TagAt(0), 20);
    EXPECT_EQ(TagAt(1), 10);
    EXPECT_EQ(UsedVideoCount(OnCard()), 1);
    card.Close();

    crashes = CrashEverywhere(this, pristine, [&] { DeleteVideo(op, card, v); }, [&](bool crashed, uint64_t n) {
        CardDirectory d = OnCard();
        ASSERT_TRUE(d.IsValid()) << n;
        // Either all as before or all done: the video and its clips go together.
        EXPECT_EQ(d.Video(v).Used(), d.ClipCount(0) == 1) << n;
        EXPECT_EQ(d.Video(v).Used(), d.ClipCount(1) == 1) << n;
        if (!crashed) { EXPECT_FALSE(d.Video(v).Used()); }
        EXPECT_EQ(test::CheckCardConsistent(image), "") << n;
    });
    EXPECT_GE(crashes, 3);

    crashes = CrashEverywhere(this, pristine, [&] { SetEndMode(op, card, 1, true); }, [&](bool crashed, uint64_t n) {
        CardDirectory d = OnCard();
        ASSERT_TRUE(d.IsValid()) << n;
        EXPECT_EQ(d.ClipCount(1), 1) << n;
        if (!crashed) { EXPECT_TRUE(d.Loops(1)); }
    });
    EXPECT_GE(crashes, 3);
}

// A still delete writes only the directory: an interruption anywhere leaves
// the still either whole and named or gone with an all-zero entry, and the
// other stills untouched.
TEST_F(CatalogueTest, StillDeleteInterruptedAtEveryWriteLeavesItWholeOrGone) {
    PlaceStill(0, 10);
    PlaceStill(1, 20);
    PlaceStill(2, 30);
    card.Close();
    const std::string pristine = dir.File("pristine.img");
    std::filesystem::copy_file(image, pristine);
    const CardRegions regions = CardRegions::For(0, card.TotalSectors());
    const int crashes = CrashEverywhere(this, pristine, [&] { DeleteStill(op, card, 1); }, [&](bool crashed, uint64_t n) {
        CardDirectory d = OnCard();
        ASSERT_TRUE(d.IsValid()) << n;
        for (int s : {0, 2}) {
            EXPECT_EQ(d.Still(s), (EntryHead{regions.StillCluster(s), 1, 33})) << "still " << s << ", crash " << n;
            EXPECT_EQ(TagAt(s), 10 * (s + 1)) << n;
        }
        if (d.Still(1).Used()) {
            EXPECT_TRUE(crashed) << n;
            EXPECT_EQ(d.Still(1), (EntryHead{regions.StillCluster(1), 1, 33})) << n;
            EXPECT_EQ(TagAt(1), 20) << n;
        } else {
            EXPECT_EQ(d.Still(1), EntryHead{}) << n;
        }
        EXPECT_EQ(test::CheckCardConsistent(image), "") << n;
    });
    EXPECT_GE(crashes, 1);

    // A write the card refuses: reported, the memory as the card has it.
    std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
    Open(true);
    op.messages.clear();
    fault->failWriteAt = 1;
    fault->failForever = true;
    EXPECT_EQ(DeleteStill(op, card, 1).result, OpResult::kFailed);
    EXPECT_TRUE(card.Directory().Still(1).Used());
    EXPECT_EQ(op.TextsWithIcon(kIconError),
              std::vector<std::string>{"Media write error!\nPlease ensure that media is not write-protected."});
    card.Close();
    EXPECT_TRUE(OnCard().Still(1).Used());
}

}  // namespace
}  // namespace rk

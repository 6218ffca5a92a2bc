// Reading videos back to KAVQ1 files: byte-identical copies, the save
// dialog's rules, Stop and every failure of the table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "card/card_directory.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kCpf = 33;
constexpr size_t kSlot = size_t(kCpf) * kClusterSize;

class ReadVideoTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir.File("card.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image, &fault));
        // Videos in entries 0 and 2; entry 1 is free.
        a = dir.File("a.kavq1");
        b = dir.File("b.kavq1");
        ASSERT_TRUE(test::WriteSyntheticKAVQ1(a, 0, 3));
        ASSERT_TRUE(test::WriteSyntheticKAVQ1(b, 0, 4));
        ASSERT_EQ(AddVideoFromPath(op, card, 0, a, {}).result, OpResult::kDone);
        ASSERT_EQ(AddVideoFromPath(op, card, 2, b, {}).result, OpResult::kDone);
        op = CScriptedOperator();
    }
    std::vector<uint8_t> CardSlots(int v) {
        EntryHead h = card.Directory().Video(v);
        return test::ReadImageClusters(image, h.startCluster, h.FrameClusters());
    }

    test::TempDir dir;
    std::string image, a, b;
    CScriptedOperator op;
    CSDCard card;
    CFaultDevice* fault = nullptr;
};

TEST_F(ReadVideoTest, KavqFileEqualsTheCardsSlots) {
    std::string out = dir.File("out.kavq1");
    ReadVideoOutcome r = ReadVideoToFile(op, card, 2, out);
    EXPECT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(r.framesRead, 4);
    auto bytes = test::ReadFileBytes(out);
    EXPECT_EQ(bytes.size(), 4 * kSlot);  // no thumbnail, no header
    EXPECT_EQ(bytes, CardSlots(2));
    EXPECT_EQ(bytes, test::ReadFileBytes(b));
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Read completed."});
    EXPECT_EQ(op.progressTotal, 5);
    EXPECT_EQ(op.progress, (std::vector<int64_t>{0, 1, 2, 3, 5}));
    EXPECT_FALSE(op.progressErrors.back());
    EXPECT_EQ(op.begins, 1);
    EXPECT_EQ(op.ends, 1);
}

TEST_F(ReadVideoTest, ReadBackAndAddedAgainGivesTheSameFrames) {
    std::string out = dir.File("again.kavq1");
    ASSERT_EQ(ReadVideoToFile(op, card, 0, out).result, OpResult::kDone);
    AddVideoOutcome r = AddVideoFromPath(op, card, 1, out, {});
    ASSERT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(CardSlots(1), CardSlots(0));
    EXPECT_EQ(card.Directory().VideoNameUtf8(1), "again");
}

TEST_F(ReadVideoTest, SaveDialogMapsListPositionsAndExtensions) {
    // Cancel, then list position 1 (entry 2) saved under a name without extension.
    EXPECT_EQ(ReadVideo(op, card, 1).result, OpResult::kRefused);
    ASSERT_EQ(op.saveChoices.size(), 1u);
    EXPECT_EQ(op.saveChoices[0].filter, "KAVQ1 video (*.kavq1)|*.kavq1|ProRes video (*.mov)|*.mov||");
    EXPECT_EQ(op.saveChoices[0].defaultExtension, "kavq1");
    EXPECT_TRUE(op.saveChoices[0].initialName.empty());
    op.saveFiles = {dir.File("plain")};
    EXPECT_EQ(ReadVideo(op, card, 1).result, OpResult::kDone);
    EXPECT_EQ(test::ReadFileBytes(dir.File("plain.kavq1")), CardSlots(2));
    // Any extension but .mov writes a KAVQ1 file.
    op.saveFiles = {dir.File("clip.avi")};
    EXPECT_EQ(ReadVideo(op, card, 0).result, OpResult::kDone);
    EXPECT_EQ(test::ReadFileBytes(dir.File("clip.avi")), CardSlots(0));
    // No selection, or a position past the list: nothing happens.
    const size_t asked = op.saveChoices.size();
    EXPECT_EQ(ReadVideo(op, card, -1).result, OpResult::kRefused);
    EXPECT_EQ(ReadVideo(op, card, 2).result, OpResult::kRefused);
    EXPECT_EQ(ReadVideoToFile(op, card, 1, dir.File("free.kavq1")).result, OpResult::kRefused);
    EXPECT_EQ(op.saveChoices.size(), asked);
    EXPECT_TRUE(IsMovPath("/x/CLIP.MOV"));
    EXPECT_FALSE(IsMovPath("/x.mov/clip"));
}

TEST_F(ReadVideoTest, OutputThatCannotBeCreatedOrWritten) {
    EXPECT_EQ(ReadVideoToFile(op, card, 0, dir.File("no/such/folder.kavq1")).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Error writing file!"});
    EXPECT_TRUE(op.TextsWithIcon(kIconInformation).empty());
    EXPECT_TRUE(op.progressErrors.back());
    // A device that is always full fails the first write.
    op = CScriptedOperator();
    EXPECT_EQ(ReadVideoToFile(op, card, 0, "/dev/full").result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Error writing file!"});
}

TEST_F(ReadVideoTest, CardReadFailures) {
    // The first two Clusters: no file at all.
    fault->failReadAt = fault->reads + 1;
    std::string out = dir.File("x.kavq1");
    EXPECT_EQ(ReadVideoToFile(op, card, 0, out).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Media access error!"});
    EXPECT_TRUE(test::ReadFileBytes(out).empty());
    EXPECT_EQ(op.begins, 0);
    // During the pass: reported once (the card has reported already), partial file.
    ASSERT_TRUE(test::OpenCard(card, image, &fault));
    op = CScriptedOperator();
    fault->failReadAt = fault->reads + 3;  // header, frame 0, frame 1
    EXPECT_EQ(ReadVideoToFile(op, card, 2, out).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Media access error!"});
    EXPECT_EQ(test::ReadFileBytes(out).size(), kSlot);
    EXPECT_TRUE(op.TextsWithIcon(kIconInformation).empty());
    EXPECT_TRUE(op.progressErrors.back());
}

TEST_F(ReadVideoTest, EntryWithoutAFrameHeaderIsInvalid) {
    // Point entry 1 at Clusters that hold no frame (never written: zeros).
    EntryHead h;
    h.startCluster = 1651 + 1000;
    h.numFrames = 2;
    h.clustersPerFrame = kCpf;
    card.Directory().SetVideo(1, h);
    std::string out = dir.File("x.kavq1");
    EXPECT_EQ(ReadVideoToFile(op, card, 1, out).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Invalid video file format!"});
    EXPECT_TRUE(test::ReadFileBytes(out).empty());
    // An entry whose slots cannot hold a frame at all is refused the same way.
    h = card.Directory().Video(0);
    h.clustersPerFrame = 1;
    card.Directory().SetVideo(1, h);
    op.messages.clear();
    EXPECT_EQ(ReadVideoToFile(op, card, 1, out).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Invalid video file format!"});
}

TEST_F(ReadVideoTest, StopLeavesAPartialFile) {
    op.stopAtPump = 2;
    std::string out = dir.File("stopped.kavq1");
    ReadVideoOutcome r = ReadVideoToFile(op, card, 2, out);
    EXPECT_EQ(r.result, OpResult::kStopped);
    EXPECT_EQ(r.framesRead, 1);
    EXPECT_EQ(op.TextsWithIcon(kIconWarning), std::vector<std::string>{"Operation aborted."});
    EXPECT_TRUE(op.TextsWithIcon(kIconInformation).empty());
    auto bytes = test::ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), kSlot);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), CardSlots(2).begin()));
}

}  // namespace
}  // namespace rk

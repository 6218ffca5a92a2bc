// Verify after write: a card that silently stores wrong bytes makes the add
// and the compaction fail with the Cluster named, and the card stays as it
// was before.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "card/allocator.h"
#include "card/card_directory.h"
#include "media/card_check.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kCpf = 33;
constexpr const char* kWriteError = "Media write error!\nPlease ensure that media is not write-protected.";

class VerifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir.File("card.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
        source = dir.File("v.kavq1");
        ASSERT_TRUE(test::WriteSyntheticKAVQ1(source, 0, 4));
    }
    void Open() {
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image, &fault));
    }
    test::TempDir dir;
    std::string image, source;
    CSDCard card;
    CScriptedOperator op;
    CFaultDevice* fault = nullptr;
};

TEST_F(VerifyTest, ImagesStartWithoutAndBlockDevicesWithVerify) {
    EXPECT_TRUE(CSDCard::VerifyDefault(DeviceKind::kBlockDevice));
    EXPECT_FALSE(CSDCard::VerifyDefault(DeviceKind::kImageFile));
    Open();
    EXPECT_FALSE(card.Verifying());
    CSDCard::SetVerifyPolicy(CSDCard::kVerifyOn);
    Open();
    EXPECT_TRUE(card.Verifying());
    CSDCard::SetVerifyPolicy(CSDCard::kVerifyByDevice);
}

TEST_F(VerifyTest, FlippedBitFailsTheAddNamingTheCluster) {
    Open();
    card.SetVerify(true);
    const auto before = test::ReadImageClusters(image, 0, 3);
    const int64_t first = card.FirstItemCluster();
    // The third frame's write comes back with one bit turned over.
    fault->flipBitAtWrite = fault->writes + 3;
    fault->flipByte = 5 * kClusterSize + 77;
    AddVideoOutcome out = AddVideoFromPath(op, card, 0, source, ImportOptions{});
    EXPECT_EQ(out.result, OpResult::kFailed);
    ASSERT_FALSE(op.messages.empty());
    EXPECT_EQ(op.messages.back().text, kWriteError);
    const std::string cluster = "cluster " + std::to_string(first + 2 * kCpf + 5) + " reads back different";
    EXPECT_NE(op.messages.back().detail.find(cluster), std::string::npos) << op.messages.back().detail;
    EXPECT_TRUE(test::ReadImageClusters(image, 0, 3) == before) << "the directory was written";
    EXPECT_FALSE(card.Directory().Video(0).Used());

    // Without verify the same device lets the damage through to the card.
    CScriptedOperator op2;
    card.SetOperator(&op2);
    card.SetVerify(false);
    fault->flipBitAtWrite = fault->writes + 3;
    EXPECT_EQ(AddVideoFromPath(op2, card, 0, source, ImportOptions{}).result, OpResult::kDone);
}

TEST_F(VerifyTest, CleanWritesPassAndCompactionIsVerified) {
    Open();
    card.SetVerify(true);
    ASSERT_EQ(AddVideoFromPath(op, card, 0, source, ImportOptions{}).result, OpResult::kDone);
    ASSERT_EQ(AddVideoFromPath(op, card, 1, source, ImportOptions{}).result, OpResult::kDone);
    EXPECT_GT(fault->reads, 8u);  // every frame read back
    // A gap in front of video 2: the compaction moves it down.
    CardDirectory before = card.Directory();
    card.Directory().ClearVideo(0);
    ASSERT_TRUE(card.CommitDirectory(before));
    const auto dirBefore = test::ReadImageClusters(image, 0, 3);
    const EntryHead moved = card.Directory().Video(1);
    fault->flipBitAtWrite = fault->writes + 1;
    CScriptedOperator op2;
    card.SetOperator(&op2);
    EXPECT_FALSE(DefragmentCard(card, op2, false));
    EXPECT_TRUE(test::ReadImageClusters(image, 0, 3) == dirBefore) << "the directory was written";
    EXPECT_EQ(card.Directory().Video(1), moved);
    ASSERT_FALSE(op2.messages.empty());
    EXPECT_EQ(op2.messages.back().text, kWriteError);
    EXPECT_NE(op2.messages.back().detail.find("reads back different"), std::string::npos);
}

// The directory block is read back too: a byte changed on its way makes the
// write fail instead of leaving a card that reads as not formatted.
TEST_F(VerifyTest, ADirectoryThatReadsBackDifferentFailsTheWrite) {
    Open();
    card.SetVerify(true);
    ASSERT_EQ(AddVideoFromPath(op, card, 0, source, ImportOptions{}).result, OpResult::kDone);
    struct Case {
        const char* what;
        uint64_t byte;
        std::function<bool()> write;
    };
    const Case cases[] = {
        {"entry change", 10726 + 4, [&] {
             CardDirectory before = card.Directory();
             card.Directory().ClearVideo(0);
             return card.CommitDirectory(before);
         }},
        {"format", 2 * kClusterSize + 9, [&] { return card.Format(0); }},
    };
    for (const Case& c : cases) {
        CScriptedOperator op2;
        Open();
        card.SetOperator(&op2);
        card.SetVerify(true);
        ASSERT_TRUE(card.ReadDirectory()) << c.what;
        fault->flipBitAtWrite = fault->writes + 1;
        fault->flipByte = c.byte;
        EXPECT_FALSE(c.write()) << c.what;
        ASSERT_FALSE(op2.messages.empty()) << c.what;
        EXPECT_EQ(op2.messages.back().text, kWriteError) << c.what;
        const std::string cluster = "cluster " + std::to_string(c.byte / kClusterSize) + " reads back different";
        EXPECT_NE(op2.messages.back().detail.find(cluster), std::string::npos) << op2.messages.back().detail;
        // Put the card back as it was for the next case.
        card.Close();
        CSDCard fresh;
        ASSERT_EQ(fresh.OpenPath(image), kOpenOk);
        EXPECT_FALSE(fresh.ReadDirectory()) << c.what << ": the damaged block is on the card";
        fresh.Close();
        ::unlink(image.c_str());
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
        Open();
        ASSERT_EQ(AddVideoFromPath(op, card, 0, source, ImportOptions{}).result, OpResult::kDone);
    }
}

}  // namespace
}  // namespace rk

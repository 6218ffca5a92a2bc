// Adding videos: every row of the failure table through the scripted
// operator, the edge cases of KAVQ1 copies, and interruption at every write.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include <cstring>
#include <string>
#include <vector>

#include "card/allocator.h"
#include "card/card_directory.h"
#include "codec/kavq1_slot.h"
#include "convert/app_launch.h"
#include "convert/tool_folder.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kCpf = 33;
constexpr const char* kWriteError = "Media write error!\nPlease ensure that media is not write-protected.";

class AddVideoTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir.File("card.img");
        // 40 MiB at HD 1080p50: 3413 Clusters, 1762 of them in the item area (53 frames).
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
        before = test::ReadImageClusters(image, 0, 3);
    }
    void Open(bool fault = false) {
        card.Close();
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image, fault ? &this->fault : nullptr));
    }
    std::string Kavq1(const std::string& name, int frames, int mode = 0, size_t tail = 0) {
        std::string p = dir.File(name);
        EXPECT_TRUE(test::WriteSyntheticKAVQ1(p, mode, frames, tail));
        return p;
    }
    AddVideoOutcome Add(const std::string& source, int slot = -1) {
        if (slot < 0) slot = LowestFreeVideoSlot(card.Directory());
        return AddVideoFromPath(op, card, slot, source, ImportOptions{});
    }
    bool DirectoryUnchanged() { return test::ReadImageClusters(image, 0, 3) == before; }
    // The card's frames of entry v equal frames [from, from + count) of `file`.
    void ExpectFramesEqual(int v, const std::string& file, int from = 0) {
        CardDirectory fresh;
        auto bytes = test::ReadImageClusters(image, 0, 3);
        std::memcpy(fresh.Bytes(), bytes.data(), kDirectorySize);
        EntryHead h = fresh.Video(v);
        auto src = test::ReadFileBytes(file);
        auto onCard = test::ReadImageClusters(image, h.startCluster, h.FrameClusters());
        ASSERT_EQ(onCard.size(), size_t(h.numFrames) * kCpf * kClusterSize);
        ASSERT_GE(src.size(), size_t(from + h.numFrames) * kCpf * kClusterSize);
        EXPECT_TRUE(std::equal(onCard.begin(), onCard.end(), src.begin() + long(from) * kCpf * kClusterSize));
    }

    test::TempDir dir;
    std::string image;
    std::vector<uint8_t> before;
    CScriptedOperator op;
    CSDCard card;
    CFaultDevice* fault = nullptr;
};

TEST_F(AddVideoTest, KavqFileIsCopiedSlotBySlotAndTheDirectoryWrittenLast) {
    Open();
    std::string src = Kavq1("Clip One.kavq1", 5);
    AddVideoOutcome r = Add(src);
    ASSERT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(r.slot, 0);
    EXPECT_EQ(r.framesWritten, 5);
    EXPECT_EQ(op.TextsWithIcon(kIconQuestion),
              std::vector<std::string>{"Video duration: 0:00:00.05 (2.0MB)\nWrite video file to media?"});
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Write completed."});
    EXPECT_EQ(op.progressTotal, 6);
    EXPECT_EQ(op.begins, 1);
    EXPECT_EQ(op.ends, 1);
    EXPECT_EQ(op.rescans, 0);
    EntryHead h = card.Directory().Video(0);
    EXPECT_EQ(h.startCluster, 1651u);
    EXPECT_EQ(h.numFrames, 5);
    EXPECT_EQ(h.clustersPerFrame, kCpf);
    EXPECT_EQ(card.Directory().VideoNameUtf8(0), "Clip One");
    EXPECT_EQ(card.FreeClusters(), 1762 - (5 * kCpf + 2));
    ExpectFramesEqual(0, src);
    // Synthetic frames do not decode: the black default sits behind them.
    EXPECT_FALSE(r.thumbnailFromFrame);
    std::vector<uint8_t> black(kThumbBlockBytes);
    MakeBlackThumbnail(black.data());
    EXPECT_EQ(test::ReadImageClusters(image, h.ThumbnailCluster(), 2), black);
    EXPECT_EQ(test::CheckCardConsistent(image), "");

    // The next add goes behind the first, into the next free entry.
    AddVideoOutcome r2 = Add(Kavq1("b.kavq1", 2));
    ASSERT_EQ(r2.result, OpResult::kDone);
    EXPECT_EQ(r2.slot, 1);
    EXPECT_EQ(card.Directory().Video(1).startCluster, 1651u + 5 * kCpf + 2);
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(AddVideoTest, OnlyWholeSlotsAreCopiedAndTheExtensionIgnoresCase) {
    Open();
    std::string src = Kavq1("CLIP.KAVQ1", 3, 0, 404504);
    AddVideoOutcome r = Add(src);
    ASSERT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(r.framesWritten, 3);
    EXPECT_EQ(card.Directory().VideoNameUtf8(0), "CLIP");
    ExpectFramesEqual(0, src);
}

TEST_F(AddVideoTest, LongNamesAreCutTo127Characters) {
    Open();
    std::string longName(150, 'n');
    longName[126] = 'Z';
    std::string src = Kavq1(longName + ".kavq1", 1);
    ASSERT_EQ(Add(src).result, OpResult::kDone);
    std::string stored = card.Directory().VideoNameUtf8(0);
    EXPECT_EQ(stored.size(), 127u);
    EXPECT_EQ(stored.back(), 'Z');
    // Characters beyond the basic plane count two units and are never split.
    std::string wide;
    for (int i = 0; i < 64; ++i) wide += "\xF0\x9F\x8E\xAC";  // 64 x 2 = 128 units
    EXPECT_EQ(CutVideoName(wide).size(), 63u * 4);
    EXPECT_EQ(VideoNameFromPath("/a.b/c.d/name.tar.kavq1"), "name.tar");
    EXPECT_EQ(VideoNameFromPath("noext"), "noext");
}

TEST_F(AddVideoTest, FileDialogUsesTheRememberedPathAndCancelDoesNothing) {
    Open();
    std::string remembered = "/old/path.mp4";
    EXPECT_EQ(AddVideo(op, card, 0, remembered, {}).result, OpResult::kRefused);
    ASSERT_EQ(op.openChoices.size(), 1u);
    EXPECT_EQ(op.openChoices[0].initialName, "/old/path.mp4");
    EXPECT_EQ(op.openChoices[0].filter, "All files (*.*)|*.*||");
    EXPECT_EQ(remembered, "/old/path.mp4");
    EXPECT_TRUE(op.messages.empty());

    std::string src = Kavq1("v.kavq1", 1);
    op.openFiles.push_back(src);
    EXPECT_EQ(AddVideo(op, card, 0, remembered, {}).result, OpResult::kDone);
    EXPECT_EQ(remembered, src);
    // No free slot (-1) does nothing at all.
    EXPECT_EQ(AddVideo(op, card, -1, remembered, {}).result, OpResult::kRefused);
    EXPECT_EQ(op.openChoices.size(), 2u);
}

TEST_F(AddVideoTest, UnopenableSourcesAreRefused) {
    Open();
    EXPECT_EQ(Add(dir.File("missing.kavq1")).result, OpResult::kFailed);
    ASSERT_EQ(::mkdir(dir.File("folder.kavq1").c_str(), 0755), 0);
    EXPECT_EQ(Add(dir.File("folder.kavq1")).result, OpResult::kFailed);
    // A FIFO that nobody writes must not hang the add.
    ASSERT_EQ(::mkfifo(dir.File("pipe.kavq1").c_str(), 0600), 0);
    EXPECT_EQ(Add(dir.File("pipe.kavq1")).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError),
              (std::vector<std::string>{"Can't open video file!", "Can't open video file!", "Can't open video file!"}));
    EXPECT_TRUE(DirectoryUnchanged());
    EXPECT_EQ(op.begins, 0);
}

TEST_F(AddVideoTest, ImportSourceThatDoesNotProbeIsRefused) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "ffprobe is not beside the test programs";
    Open();
    // Bytes no demuxer recognises (plain text would not do: ffmpeg shows
    // .txt files as ANSI art).
    std::string junk = dir.File("junk.dat");
    std::vector<uint8_t> bytes(5000);
    uint32_t x = 12345;
    for (auto& b : bytes) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    ASSERT_TRUE(test::WriteFileBytes(junk, bytes));
    EXPECT_EQ(Add(junk).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Can't open video file!"});
    EXPECT_TRUE(DirectoryUnchanged());
}

TEST_F(AddVideoTest, InvalidAndUnsupportedKavqFiles) {
    Open();
    struct Case {
        const char* what;
        int offset;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"wrong magic", 12288, {'K', 'V', 'Q', '2'}, "Invalid video file format!"},
        {"size class 3", 12292, {3}, "Invalid video file format!"},
        {"size class 0", 12292, {0}, "Invalid video file format!"},
        {"made for 3840 x 2160", 12292, {2}, "Unsupported video file format!"},
        {"other frame rate", 12293, {25}, "Unsupported video file format!"},
        {"other budget", 12294, {0x03, 0x01}, "Unsupported video file format!"},
    };
    for (const Case& c : cases) {
        op.messages.clear();
        auto slot = test::SyntheticSlot(0, 0);
        std::memcpy(slot.data() + c.offset, c.bytes.data(), c.bytes.size());
        std::string p = dir.File("bad.kavq1");
        ASSERT_TRUE(test::WriteFileBytes(p, slot));
        EXPECT_EQ(Add(p).result, OpResult::kFailed) << c.what;
        EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{c.message}) << c.what;
        EXPECT_TRUE(op.TextsWithIcon(kIconQuestion).empty()) << c.what;
    }
    // A real 2160p file on an HD card: another slot size, refused as unsupported.
    op.messages.clear();
    EXPECT_EQ(Add(Kavq1("uhd.kavq1", 1, 1)).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Unsupported video file format!"});
    // A rate byte of 0 stands for 50 and is accepted on a 50 card.
    op.messages.clear();
    auto slot = test::SyntheticSlot(0, 0);
    slot[12293] = 0;
    ASSERT_TRUE(test::WriteFileBytes(dir.File("zero.kavq1"), slot));
    EXPECT_EQ(Add(dir.File("zero.kavq1")).result, OpResult::kDone);
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(AddVideoTest, ZeroFramesAreRefusedBeforeTheQuestion) {
    Open();
    std::string p = dir.File("short.kavq1");
    ASSERT_TRUE(test::WriteFileBytes(p, std::vector<uint8_t>(405503, 0)));  // one byte short of a slot
    EXPECT_EQ(Add(p).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Video file is too short to use!"});
    EXPECT_TRUE(op.TextsWithIcon(kIconQuestion).empty());
    EXPECT_TRUE(DirectoryUnchanged());
}

TEST_F(AddVideoTest, NotEnoughSpaceShowsTheMissingSize) {
    Open();
    // 60 frames need 1982 Clusters; 1762 are free: 220 x 12288 = 2.7 MB missing.
    EXPECT_EQ(Add(Kavq1("long.kavq1", 60)).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Not enough space on media!\n2 MB more needed."});
    EXPECT_TRUE(op.TextsWithIcon(kIconQuestion).empty());
    EXPECT_TRUE(DirectoryUnchanged());
    // Exactly the free space fits: 53 frames x 33 + 2 = 1751 <= 1762.
    EXPECT_EQ(Add(Kavq1("fits.kavq1", 53)).result, OpResult::kDone);
}

TEST_F(AddVideoTest, NoToTheDurationQuestionChangesNothing) {
    Open();
    op.answers = {kResultNo};
    EXPECT_EQ(Add(Kavq1("a.kavq1", 2)).result, OpResult::kRefused);
    EXPECT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.begins, 0);
    EXPECT_TRUE(DirectoryUnchanged());
    EXPECT_FALSE(card.Directory().Video(0).Used());
}

// Three videos, the middle one deleted: 33 x 10 + 2 Clusters free in the
// middle, the rest at the end. A 30-frame video fits only after compaction.
class FragmentedCard : public AddVideoTest {
protected:
    void Fragment() {
        Open();
        ASSERT_EQ(Add(Kavq1("a.kavq1", 10)).result, OpResult::kDone);
        ASSERT_EQ(Add(Kavq1("b.kavq1", 10)).result, OpResult::kDone);
        ASSERT_EQ(Add(Kavq1("c.kavq1", 10)).result, OpResult::kDone);
        card.Directory().ClearVideo(1);
        ASSERT_TRUE(card.WriteDirectory());
        // 1762 - 2 x 332 = 1098 free, largest gap 1762 - 3 x 332 = 766.
        ASSERT_EQ(card.FreeClusters(), 1098);
        before = test::ReadImageClusters(image, 0, 3);
        op = CScriptedOperator();
    }
};

TEST_F(FragmentedCard, AllocationDeclinedChangesNothing) {
    Fragment();
    op.answers = {kResultYes, kResultNo};  // duration: Yes; defragmentation: No
    EXPECT_EQ(Add(Kavq1("d.kavq1", 30)).result, OpResult::kRefused);
    ASSERT_EQ(op.messages.size(), 2u);
    EXPECT_EQ(op.messages[1].icon, kIconQuestion);
    EXPECT_TRUE(DirectoryUnchanged());
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(FragmentedCard, CompactionMakesRoomAndTheVideoFollows) {
    Fragment();
    std::string src = Kavq1("d.kavq1", 30);
    AddVideoOutcome r = Add(src);
    ASSERT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(r.slot, 1);
    EXPECT_EQ(test::CheckCardConsistent(image), "");
    ExpectFramesEqual(1, src);
    ExpectFramesEqual(2, dir.File("c.kavq1"));  // moved down, still intact
}

// A tool that dies: an ffmpeg beside the programs that exits at once, or
// one that stops after a few pictures. ffprobe stays the real one.
class DyingToolTest : public AddVideoTest {
protected:
    void SetUp() override {
        if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg is not beside the test programs";
        AddVideoTest::SetUp();
        realFfmpeg = ProgramFile(kToolFfmpeg);
        realFfprobe = ProgramFile(kToolFfprobe);
        tools = dir.File("tools");
        ASSERT_EQ(::mkdir(tools.c_str(), 0755), 0);
        ASSERT_EQ(::symlink(realFfprobe.c_str(), (tools + "/ffprobe").c_str()), 0);
        source = dir.File("source.mkv");
        std::string cmd = "'" + realFfmpeg + "' -v error -f lavfi -i testsrc2=size=320x180:rate=50 -t 0.2 " +
                          "-c:v ffv1 -y '" + source + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    void TearDown() override { SetProgramFolder(""); }
    void FakeFfmpeg(const std::string& body) {
        std::string path = tools + "/ffmpeg";
        ::unlink(path.c_str());
        ASSERT_TRUE(test::WriteFileBytes(path, std::vector<uint8_t>(body.begin(), body.end())));
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
        SetProgramFolder(tools + "/");
    }
    std::string realFfmpeg, realFfprobe, tools, source;
};

TEST_F(DyingToolTest, NoFrameAtAllIsAReadError) {
    FakeFfmpeg("#!/bin/sh\nexit 1\n");
    Open();
    AddVideoOutcome r = Add(source);
    EXPECT_EQ(r.result, OpResult::kFailed);
    EXPECT_EQ(r.frameCount, 10);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Error reading video file!"});
    EXPECT_TRUE(op.progressErrors.back());
    EXPECT_TRUE(DirectoryUnchanged());
    EXPECT_EQ(op.ends, 1);
}

TEST_F(DyingToolTest, SourceEndingEarlyKeepsTheFramesWritten) {
    // Passes everything to the real tool but stops its pictures after three.
    FakeFfmpeg("#!/bin/bash\nargs=(\"$@\"); last=\"${args[-1]}\"; unset 'args[-1]'\n"
               "exec '" + realFfmpeg + "' \"${args[@]}\" -frames:v 3 \"$last\"\n");
    Open();
    AddVideoOutcome r = Add(source);
    EXPECT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(r.framesWritten, 3);
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Write completed."});
    EXPECT_EQ(card.Directory().Video(0).numFrames, 3);
    // The middle of ten frames (5) was never reached: black thumbnail.
    EXPECT_FALSE(r.thumbnailFromFrame);
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(AddVideoTest, FailingCardWriteIsReportedOnceAndRescans) {
    Open(true);
    fault->failWriteAt = fault->writes + 3;  // the third frame
    AddVideoOutcome r = Add(Kavq1("a.kavq1", 6));
    EXPECT_EQ(r.result, OpResult::kFailed);
    EXPECT_EQ(r.framesWritten, 2);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{kWriteError});
    EXPECT_TRUE(op.TextsWithIcon(kIconInformation).empty());
    EXPECT_EQ(op.rescans, 1);
    EXPECT_TRUE(op.progressErrors.back());
    EXPECT_FALSE(card.Directory().Video(0).Used());
    EXPECT_TRUE(DirectoryUnchanged());
}

TEST_F(AddVideoTest, FailedDirectoryWriteLeavesTheCardAsBefore) {
    Open(true);
    // Count the writes of a clean add on a scratch copy of the card first.
    const uint64_t start = fault->writes;
    uint64_t totalWrites = 0;
    {
        test::TempDir other;
        std::string copy = other.File("copy.img");
        ASSERT_TRUE(test::WriteFileBytes(copy, test::ReadFileBytes(image)));
        CSDCard c2;
        CScriptedOperator op2;
        c2.SetOperator(&op2);
        CFaultDevice* f2 = nullptr;
        ASSERT_TRUE(test::OpenCard(c2, copy, &f2));
        ASSERT_EQ(AddVideoFromPath(op2, c2, 0, Kavq1("a.kavq1", 4), {}).result, OpResult::kDone);
        totalWrites = f2->writes;
    }
    ASSERT_GE(totalWrites, 4u + 2u + 1u);
    fault->failWriteAt = start + totalWrites;  // the directory, written last
    AddVideoOutcome r = Add(dir.File("a.kavq1"));
    EXPECT_EQ(r.result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{kWriteError});
    EXPECT_TRUE(op.TextsWithIcon(kIconInformation).empty());
    EXPECT_EQ(op.rescans, 1);
    // Memory and card agree: no video.
    EXPECT_FALSE(card.Directory().Video(0).Used());
    EXPECT_EQ(card.FreeClusters(), 1762);
    EXPECT_TRUE(DirectoryUnchanged());
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(AddVideoTest, StopBeforeTheFirstFrame) {
    Open();
    op.stopAtPump = 1;
    EXPECT_EQ(Add(Kavq1("a.kavq1", 4)).result, OpResult::kStopped);
    EXPECT_EQ(op.TextsWithIcon(kIconWarning), std::vector<std::string>{"Operation aborted."});
    EXPECT_TRUE(op.progressErrors.back());
    EXPECT_TRUE(DirectoryUnchanged());
    EXPECT_EQ(op.ends, 1);
}

TEST_F(AddVideoTest, StopAfterSomeFramesKeepingThem) {
    Open();
    op.stopAtPump = 4;  // two pumps per frame: stop after the second frame
    op.answers = {kResultYes, kResultYes};
    std::string src = Kavq1("a.kavq1", 10);
    AddVideoOutcome r = Add(src);
    EXPECT_EQ(r.result, OpResult::kKeptPartial);
    EXPECT_EQ(r.framesWritten, 2);
    ASSERT_EQ(op.TextsWithIcon(kIconQuestion).size(), 2u);
    EXPECT_EQ(op.TextsWithIcon(kIconQuestion)[1],
              "Operation aborted.\nDo you want to leave incomplete video file on media?");
    EXPECT_TRUE(op.TextsWithIcon(kIconInformation).empty());
    EXPECT_TRUE(op.TextsWithIcon(kIconWarning).empty());
    EntryHead h = card.Directory().Video(0);
    EXPECT_EQ(h.numFrames, 2);
    ExpectFramesEqual(0, src);
    // The thumbnail follows the last written frame and is black.
    std::vector<uint8_t> black(kThumbBlockBytes);
    MakeBlackThumbnail(black.data());
    EXPECT_EQ(test::ReadImageClusters(image, h.ThumbnailCluster(), 2), black);
    EXPECT_EQ(card.FreeClusters(), 1762 - (2 * kCpf + 2));
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(AddVideoTest, StopAfterSomeFramesDiscardingThem) {
    Open();
    op.stopAtPump = 5;
    op.answers = {kResultYes, kResultNo};
    EXPECT_EQ(Add(Kavq1("a.kavq1", 10)).result, OpResult::kStopped);
    EXPECT_EQ(op.messages.size(), 2u);  // no "Operation aborted." after the question
    EXPECT_TRUE(op.progressErrors.back());
    EXPECT_TRUE(DirectoryUnchanged());
    EXPECT_FALSE(card.Directory().Video(0).Used());
}

TEST_F(AddVideoTest, ThumbnailComesFromFrameHalfTheCount) {
    // Encoded frames of rising brightness: the stored thumbnail must be the
    // one made from frame n / 2.
    test::TempDir frames;
    std::vector<std::vector<uint8_t>> slots;
    for (int f = 0; f < 3; ++f) slots.push_back(test::EncodedSlot(uint32_t(f)));
    CThumbnailMaker maker(1);
    for (int n : {1, 2, 3}) {
        std::vector<uint8_t> file;
        for (int f = 0; f < n; ++f) file.insert(file.end(), slots[f].begin(), slots[f].end());
        std::string p = frames.File("enc" + std::to_string(n) + ".kavq1");
        ASSERT_TRUE(test::WriteFileBytes(p, file));
        Open();
        AddVideoOutcome r = Add(p);
        ASSERT_EQ(r.result, OpResult::kDone) << n;
        EXPECT_TRUE(r.thumbnailFromFrame);
        std::vector<uint8_t> want(kThumbBlockBytes);
        ASSERT_TRUE(maker.Make(slots[size_t(n / 2)].data(), kCpf, want.data()));
        EntryHead h = card.Directory().Video(r.slot);
        EXPECT_EQ(test::ReadImageClusters(image, h.ThumbnailCluster(), 2), want) << n;
    }
}

TEST(AddVideoDuration, UltraHd2997ShowsThirtyFramesPerSecond) {
    test::TempDir dir;
    std::string image = dir.File("uhd.img");
    ASSERT_TRUE(test::MakeFormattedImage(image, 64, 8));
    CScriptedOperator op;
    CSDCard card(&op);
    ASSERT_TRUE(test::OpenCard(card, image));
    std::string src = dir.File("a.kavq1");
    ASSERT_TRUE(test::WriteSyntheticKAVQ1(src, 8, 30));
    op.answers = {kResultNo};
    AddVideoFromPath(op, card, 0, src, {});
    // 30 frames at 30: one second; (30 x 65 + 1) x 12288 / 1000 = 23973 kB.
    EXPECT_EQ(op.TextsWithIcon(kIconQuestion),
              std::vector<std::string>{"Video duration: 0:00:01.00 (23.9MB)\nWrite video file to media?"});
    // The same file on a 25 frames per second card of the same size class is refused.
    std::string image25 = dir.File("uhd25.img");
    ASSERT_TRUE(test::MakeFormattedImage(image25, 64, 2));
    CSDCard card25(&op);
    ASSERT_TRUE(test::OpenCard(card25, image25));
    op.messages.clear();
    EXPECT_EQ(AddVideoFromPath(op, card25, 0, src, {}).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Unsupported video file format!"});
}

// Stop at every point of an add, keeping or discarding what was written:
// the card always holds either nothing new or a complete shorter video.
TEST_F(AddVideoTest, StopAtEveryPumpLeavesAValidCard) {
    std::string src = Kavq1("a.kavq1", 4);
    for (MsgResult answer : {kResultYes, kResultNo}) {
        for (int pump = 1; pump <= 8; ++pump) {
            ASSERT_TRUE(test::MakeFormattedImage(image + std::to_string(pump) + std::to_string(static_cast<int>(answer)), 40, 0));
            const std::string img = image + std::to_string(pump) + std::to_string(static_cast<int>(answer));
            op = CScriptedOperator();
            card.Close();
            ASSERT_TRUE(test::OpenCard(card, img));
            op.stopAtPump = pump;
            op.answers = {kResultYes, answer};
            AddVideoOutcome r = AddVideoFromPath(op, card, 0, src, {});
            const int written = pump / 2;  // two pumps per frame, the first before the write
            EXPECT_EQ(r.framesWritten, written) << pump;
            card.Close();
            EXPECT_EQ(test::CheckCardConsistent(img), "") << pump;
            CSDCard again;
            ASSERT_TRUE(test::OpenCard(again, img));
            const bool kept = written > 0 && answer == kResultYes;
            EXPECT_EQ(again.Directory().Video(0).numFrames, kept ? written : 0) << pump << " " << answer;
            EXPECT_EQ(r.result, kept ? OpResult::kKeptPartial : OpResult::kStopped) << pump;
            ::unlink(img.c_str());
        }
    }
}

// Interruption: the card pulled at every write of an add. Whatever reached
// the medium, the directory must be valid and reference only complete
// items: either the card as before, or the card with the whole video.
TEST_F(AddVideoTest, CrashAtEveryWriteLeavesAValidCard) {
    std::string src = Kavq1("a.kavq1", 3);
    const std::vector<uint8_t> pristine = test::ReadFileBytes(image);
    for (auto mode : {CFaultDevice::LostWrites::kDropAll, CFaultDevice::LostWrites::kKeepNewestOnly,
                      CFaultDevice::LostWrites::kKeepAll}) {
        for (uint64_t at = 1;; ++at) {
            ASSERT_TRUE(test::WriteFileBytes(image, pristine));
            op = CScriptedOperator();
            Open(true);
            fault->crashAtWrite = fault->writes + at;
            fault->lostWrites = mode;
            AddVideoOutcome r = Add(src);
            const bool crashed = fault->crashed;
            card.Close();
            EXPECT_EQ(test::CheckCardConsistent(image), "") << "crash at write " << at;
            CSDCard again;
            ASSERT_TRUE(test::OpenCard(again, image)) << at;
            if (crashed) {
                EXPECT_NE(r.result, OpResult::kDone) << at;
                EXPECT_FALSE(again.Directory().Video(0).Used()) << at;
            } else {
                EXPECT_EQ(r.result, OpResult::kDone);
                EXPECT_EQ(again.Directory().Video(0).numFrames, 3);
                break;  // every write of the add has been crashed once
            }
            ASSERT_LT(at, 50u);
        }
    }
}

// A tool that stalls in its start-up, before it prints anything (a probe
// hanging on a network share): Stop ends the wait at once, the tool is
// ended, and the card is left as it was.
TEST(AddVideoStop, StopDuringAToolsStartUpEndsTheWait) {
    test::TempDir tools("rk-stalling-tools");
    const std::string pidFile = tools.File("pid");
    for (const char* name : {kToolFfprobe, kToolFfmpeg}) {
        const std::string path = tools.File(name);
        std::ofstream(path) << "#!/bin/sh\necho $$ >> '" << pidFile << "'\nexec sleep 60\n";
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    }
    test::TempDir dir("rk-stop-start");
    const std::string image = dir.File("card.img");
    ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
    const std::string source = dir.File("clip.mp4");
    std::ofstream(source) << "not really a video";
    const auto before = test::ReadFileBytes(image);

    SetProgramFolder(tools.Path());
    CScriptedOperator op;
    op.stopWhileWaiting = true;
    AddVideoOutcome r;
    const auto start = std::chrono::steady_clock::now();
    {
        CSDCard card;
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image));
        r = AddVideoFromPath(op, card, 0, source, ImportOptions{});
    }
    const auto took = std::chrono::steady_clock::now() - start;
    SetProgramFolder("");
    EXPECT_EQ(r.result, OpResult::kStopped);
    EXPECT_GE(op.waits, 1);
    // A hang guard, not a speed figure: the tool would sleep for a minute.
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_TRUE(test::ReadFileBytes(image) == before);
    std::ifstream in(pidFile);
    int tools_started = 0;
    for (pid_t pid = 0; in >> pid; ++tools_started)
        EXPECT_NE(::kill(pid, 0), 0) << "a stalled tool was left running: " << pid;
    EXPECT_GE(tools_started, 1);

    // Without a scope, Stop is never asked.
    EXPECT_FALSE(CToolStopScope::StopRequested());
    {
        CToolStopScope outer([] { return false; });
        {
            CToolStopScope inner([] { return true; });
            EXPECT_TRUE(CToolStopScope::StopRequested());
            EXPECT_TRUE(inner.Fired());
        }
        EXPECT_FALSE(CToolStopScope::StopRequested());
        EXPECT_FALSE(outer.Fired());
    }
}

}  // namespace
}  // namespace rk

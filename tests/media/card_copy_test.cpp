// Backing a card up to a sparse image and writing the image to several cards
// at once: referenced Clusters only, each target on its own, its directory
// last, and the result equal to the original byte for byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "card/card_copy.h"
#include "media/recover.h"
#include "convert/tool_folder.h"
#include "media/card_check.h"
#include "media/playlist_ops.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "support/cli_run.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kCpf = 33;
constexpr uint64_t kMiB = 1 << 20;

using Result = test::CliResult;

// The messages go to stderr: these tests read them with the output.
Result Cli(const std::string& args) { return test::RunCli(args, test::Stderr::kKeep); }

std::string Q(const std::string& s) { return "'" + s + "'"; }

// The bytes of every referenced Cluster of the card `image` (directory
// included), range after range.
std::vector<uint8_t> ReferencedBytes(const std::string& image, const CardDirectory& dir, const CardRegions& regions) {
    std::vector<uint8_t> all;
    for (const ClusterRange& r : ReferencedClusters(dir, regions)) {
        auto part = test::ReadImageClusters(image, r.first, r.count);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class CardCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = dir.File("source.img");
        ASSERT_TRUE(test::MakeFormattedImage(source, 40, 0));
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, source));
    }
    void AddVideo(const std::string& name, int frames, bool encoded = false) {
        const std::string src = dir.File(name + ".kavq1");
        ASSERT_TRUE(encoded ? test::WriteEncodedKAVQ1(src, frames) : test::WriteSyntheticKAVQ1(src, 0, frames));
        ASSERT_EQ(AddVideoFromPath(op, card, LowestFreeVideoSlot(card.Directory()), src, ImportOptions{}, name).result,
                  OpResult::kDone);
    }
    void AddStill(int s) {
        const uint32_t at = card.Regions().StillCluster(s);
        auto slot = test::EncodedSlot(7);
        ASSERT_TRUE(card.WriteClusters(at, slot.data(), kCpf));
        std::vector<uint8_t> black(kThumbBlockBytes);
        MakeBlackThumbnail(black.data());
        ItemEntry e;
        e.kind = CardItem::kStill;
        e.index = s;
        e.head = EntryHead{at, 1, kCpf};
        ASSERT_TRUE(card.CommitItem(e, black.data()));
    }
    // Two videos, a still, a playlist (its title card made by the tools when
    // they are there, else a slot put in its place), and junk in Clusters
    // nothing references.
    void FillSource() {
        AddVideo("Intro", 3, true);
        AddVideo("Second", 40);
        AddStill(2);
        if (test::ToolsAvailable()) {
            ASSERT_TRUE(AddClip(op, card, 0, 0).done);
        } else {
            auto slot = test::EncodedSlot(9);
            ASSERT_TRUE(card.WriteClusters(card.Regions().TitleCluster(0), slot.data(), kCpf));
            CardDirectory before = card.Directory();
            card.Directory().SetClipCount(0, 1);
            card.Directory().SetClip(0, 0, 0);
            ASSERT_TRUE(card.CommitDirectory(before));
        }
        std::vector<uint8_t> junk(size_t(4) * kClusterSize, 0xA5);
        junkCluster = card.Regions().TitleCluster(5);  // an empty playlist's title card
        ASSERT_TRUE(card.WriteClusters(junkCluster, junk.data(), 4));
        const EntryHead last = card.Directory().Video(1);
        junkTail = last.startCluster + last.RunClusters() + 10;
        ASSERT_TRUE(card.WriteClusters(junkTail, junk.data(), 4));
        dirNow = card.Directory();
        regions = card.Regions();
        card.Close();
    }
    std::string Blank(const std::string& name, uint64_t bytes = 40 * kMiB) {
        const std::string path = dir.File(name);
        int error = 0;
        EXPECT_TRUE(CreateCardImage(path, bytes, error));
        return path;
    }
    void ExpectEqualToSource(const std::string& target) {
        EXPECT_EQ(test::ReadImageClusters(target, 0, kDirectoryClusters),
                  test::ReadImageClusters(source, 0, kDirectoryClusters));
        EXPECT_TRUE(ReferencedBytes(target, dirNow, regions) == ReferencedBytes(source, dirNow, regions)) << target;
        // And it passes the check as the original does (the headers of every
        // slot: the synthetic frames do not decode).
        CScriptedOperator checkOp;
        CSDCard copy(&checkOp);
        ASSERT_EQ(copy.OpenPath(target), kOpenOk);
        const CheckReport r = CheckCard(checkOp, copy, CheckFrames::kNone);
        EXPECT_TRUE(r.Clean()) << target << ": " << CheckSummaryText(r) << ": "
                               << (r.findings.empty() ? std::string() : r.findings[0].text);
    }

    test::TempDir dir{"rk-copy"};
    std::string source;
    CScriptedOperator op;
    CSDCard card;
    CardDirectory dirNow;
    CardRegions regions;
    uint32_t junkCluster = 0, junkTail = 0;
};

TEST_F(CardCopyTest, ReferencedClustersAreTheDirectoryTitleCardsStillsAndRuns) {
    FillSource();
    const auto ranges = ReferencedClusters(dirNow, regions);
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges[0].first, 0u);
    uint64_t total = 0;
    for (const auto& r : ranges) total += r.count;
    const uint64_t want = kDirectoryClusters + kCpf /* title card 1 */ + (kCpf + 2) /* still */ +
                          dirNow.Video(0).RunClusters() + dirNow.Video(1).RunClusters();
    // The directory and title card 1 touch, so they merge; the total is exact.
    EXPECT_EQ(total, want);
    EXPECT_EQ(UsedExtentClusters(ranges), uint64_t(dirNow.Video(1).startCluster) + dirNow.Video(1).RunClusters());
    for (size_t i = 1; i < ranges.size(); ++i) EXPECT_GT(ranges[i].first, ranges[i - 1].first + ranges[i - 1].count);
}

TEST_F(CardCopyTest, BackupThenRestoreGivesTheCardByteForByte) {
    FillSource();
    const std::string backup = dir.File("backup.img");
    const std::string target = Blank("target.img");
    Result b = Cli("backup " + Q(source) + " " + Q(backup));
    ASSERT_EQ(b.status, 0) << b.out;
    // Sparse: what nothing references is not copied.
    EXPECT_EQ(test::ReadImageClusters(backup, junkCluster, 4), std::vector<uint8_t>(4 * kClusterSize, 0));
    EXPECT_EQ(test::ReadImageClusters(backup, junkTail, 4), std::vector<uint8_t>(4 * kClusterSize, 0));
    struct stat st {};
    ASSERT_EQ(::stat(backup.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), 40 * kMiB);
    uint64_t referenced = 0;
    for (const auto& range : ReferencedClusters(dirNow, regions)) referenced += range.count * kClusterSize;
    EXPECT_LT(uint64_t(st.st_blocks) * 512, referenced + kMiB) << "the backup is not sparse";
    ExpectEqualToSource(backup);

    // A target with old items of its own is overwritten for the image's mode.
    {
        CSDCard other(&op);
        ASSERT_EQ(other.OpenPath(target), kOpenOk);
        ASSERT_TRUE(other.Format(3));
    }
    Result r = Cli("restore " + Q(backup) + " " + Q(target) + " --yes");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(target + ": restored and verified"), std::string::npos) << r.out;
    ExpectEqualToSource(target);

    // Without --yes the question is answered No and nothing is written.
    const std::string untouched = Blank("untouched.img");
    Result no = Cli("restore " + Q(backup) + " " + Q(untouched));
    EXPECT_EQ(no.status, 1);
    EXPECT_EQ(test::ReadImageClusters(untouched, 0, kDirectoryClusters), std::vector<uint8_t>(kDirectorySize, 0));
}

// Three targets, the second failing at its 100th write: the others complete
// and verify; the failed one never gets a directory.
TEST_F(CardCopyTest, OneTargetFailingNeverStopsTheOthers) {
    FillSource();
    CSDCard image(nullptr);
    ASSERT_EQ(image.OpenPath(source), kOpenOk);
    ASSERT_TRUE(image.ReadDirectory());
    std::vector<std::string> paths = {Blank("t1.img"), Blank("t2.img"), Blank("t3.img")};
    CSDCard t1(nullptr), t2(nullptr), t3(nullptr);
    CFaultDevice* fault = nullptr;
    ASSERT_EQ(t1.OpenPath(paths[0]), kOpenOk);
    test::OpenCard(t2, paths[1], &fault);
    ASSERT_NE(fault, nullptr);
    ASSERT_TRUE(t2.IsOpen());
    fault->failWriteAt = 100;
    ASSERT_EQ(t3.OpenPath(paths[2]), kOpenOk);

    struct Progress : ICopyProgress {
        std::atomic<int> begun{0};
        void Begin(int, uint64_t) override { ++begun; }
        void Advance(int, uint64_t) override {}
    } progress;
    CopyOptions options;
    options.chunkClusters = 1;  // one write per Cluster: the 100th lies inside the data
    const auto outs = RestoreImage(image, {&t1, &t2, &t3}, &progress, options);
    ASSERT_EQ(outs.size(), 3u);
    EXPECT_EQ(progress.begun.load(), 3);
    EXPECT_TRUE(outs[0].ok) << outs[0].error;
    EXPECT_FALSE(outs[1].ok);
    EXPECT_FALSE(outs[1].directoryWritten);
    EXPECT_NE(outs[1].error.find("writing cluster"), std::string::npos) << outs[1].error;
    EXPECT_TRUE(outs[2].ok) << outs[2].error;
    EXPECT_EQ(fault->writes, 100u);
    t1.Close();
    t2.Close();
    t3.Close();
    image.Close();
    ExpectEqualToSource(paths[0]);
    ExpectEqualToSource(paths[2]);
    EXPECT_EQ(test::ReadImageClusters(paths[1], 0, kDirectoryClusters), std::vector<uint8_t>(kDirectorySize, 0));
}

TEST_F(CardCopyTest, VerifyFindsATargetThatStoresWrongBytes) {
    FillSource();
    CSDCard image(nullptr);
    ASSERT_EQ(image.OpenPath(source), kOpenOk);
    ASSERT_TRUE(image.ReadDirectory());
    const std::string path = Blank("flip.img");
    CSDCard t(nullptr);
    CFaultDevice* fault = nullptr;
    test::OpenCard(t, path, &fault);
    ASSERT_NE(fault, nullptr);
    fault->flipBitAtWrite = 5;
    fault->flipByte = 100;
    CopyOptions options;
    options.chunkClusters = 1;
    const auto outs = RestoreImage(image, {&t}, nullptr, options);
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_FALSE(outs[0].ok);
    EXPECT_NE(outs[0].error.find("reads back different"), std::string::npos) << outs[0].error;
}

TEST_F(CardCopyTest, TargetsSmallerThanTheUsedSizeAndNonCardsAreRefused) {
    FillSource();
    const uint64_t extent = UsedExtentClusters(ReferencedClusters(dirNow, regions));
    // One Cluster short of the used extent: refused, nothing written.
    const std::string small = Blank("small.img", (extent - 1) * kClusterSize);
    const std::string fits = Blank("fits.img", (extent + 2 * kCpf) * kClusterSize);
    const std::string folder = dir.File("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Result r = Cli("restore " + Q(source) + " " + Q(small) + " " + Q(folder) + " /dev/zero " + Q(fifo) + " " +
                   Q(dir.File("missing.img")) + " " + Q(fits) + " --yes");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(small + ": FAILED (the card holds"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(folder + ": FAILED"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/dev/zero: FAILED"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(fifo + ": FAILED"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("missing.img: FAILED"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(fits + ": restored and verified"), std::string::npos) << r.out;
    const auto smallBytes = test::ReadFileBytes(small);
    EXPECT_TRUE(smallBytes == std::vector<uint8_t>(smallBytes.size(), 0)) << "a refused target was written";
    EXPECT_FALSE(test::FileExists(dir.File("missing.img")));
    // A smaller card that still holds every referenced Cluster takes the show.
    {
        CScriptedOperator checkOp;
        CSDCard copy(&checkOp);
        ASSERT_EQ(copy.OpenPath(fits), kOpenOk);
        EXPECT_TRUE(copy.ReadDirectory());
        EXPECT_EQ(copy.VideoCount(), 2);
    }
    // An image that is not a card is refused before any target is touched.
    const std::string blank = Blank("blank.img");
    const std::string other = Blank("other.img");
    EXPECT_EQ(Cli("restore " + Q(blank) + " " + Q(other) + " --yes").status, 1);
    EXPECT_EQ(test::ReadImageClusters(other, 0, kDirectoryClusters), std::vector<uint8_t>(kDirectorySize, 0));
    EXPECT_EQ(Cli("backup " + Q(blank) + " " + Q(dir.File("b.img"))).status, 1);
}

// A backup is checked as a card before any target is written: one cut
// short, or with an item's frames or title card gone, is refused with the
// reason, and the target keeps every byte.
TEST_F(CardCopyTest, ADamagedOrTruncatedBackupIsRefusedBeforeAnyTargetIsWritten) {
    FillSource();
    const EntryHead second = dirNow.Video(1);
    const uint64_t secondLast = second.startCluster + uint64_t(second.numFrames - 1) * kCpf;
    struct Case {
        const char* what;
        std::function<void(const std::string&)> damage;
        const char* reason;
    };
    auto zero = [](const std::string& path, uint64_t cluster) {
        std::vector<uint8_t> zeros(kClusterSize, 0);
        int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, zeros.data(), zeros.size(), off_t(cluster * kClusterSize)), ssize_t(kClusterSize));
        ::close(fd);
    };
    const Case cases[] = {
        {"cut inside the second video",
         [&](const std::string& p) { ASSERT_EQ(::truncate(p.c_str(), off_t((secondLast + 5) * kClusterSize)), 0); },
         "the backup is damaged: Video 2"},
        {"the second video's first frame gone", [&](const std::string& p) { zero(p, second.startCluster); },
         "the backup is damaged: video 2: no frame at cluster"},
        {"the second video's last frame gone", [&](const std::string& p) { zero(p, secondLast); },
         "the backup is damaged: video 2: its last frame is not at cluster"},
        {"the title card gone", [&](const std::string& p) { zero(p, regions.TitleCluster(0)); },
         "the backup is damaged: the title card of playlist 1: no frame"},
    };
    const std::string target = Blank("target.img");
    std::vector<uint8_t> mark(size_t(4) * kClusterSize, 0x5A);
    {
        int fd = ::open(target.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, mark.data(), mark.size(), off_t(second.startCluster) * kClusterSize), ssize_t(mark.size()));
        ::close(fd);
    }
    const auto targetBefore = test::ReadFileBytes(target);
    for (const Case& c : cases) {
        const std::string backup = dir.File("backup.img");
        Result made = Cli("backup " + Q(source) + " " + Q(backup));
        ASSERT_EQ(made.status, 0) << made.out;
        c.damage(backup);
        Result r = Cli("restore " + Q(backup) + " " + Q(target) + " --yes");
        EXPECT_EQ(r.status, 1) << c.what << ": " << r.out;
        EXPECT_NE(r.out.find(c.reason), std::string::npos) << c.what << ": " << r.out;
        EXPECT_NE(r.out.find("nothing written"), std::string::npos) << c.what << ": " << r.out;
        EXPECT_TRUE(test::ReadFileBytes(target) == targetBefore) << c.what;
        ::unlink(backup.c_str());
    }
}

// A restore cut at any write or flush leaves the target's old directory
// only while nothing of its items has been overwritten; from then on the
// target reads as not formatted until the new directory, last, is whole.
TEST_F(CardCopyTest, RestoreCutAtEveryWriteLeavesNoDirectoryOrTheWholeNewCard) {
    FillSource();
    CSDCard image(nullptr);
    ASSERT_EQ(image.OpenPath(source), kOpenOk);
    ASSERT_TRUE(image.ReadDirectory());
    const std::string pristine = dir.File("pristine.img");
    ASSERT_TRUE(test::MakeFormattedImage(pristine, 40, 0));
    {
        CSDCard t(&op);
        ASSERT_TRUE(test::OpenCard(t, pristine));
        const std::string src = dir.File("old.kavq1");
        ASSERT_TRUE(test::WriteSyntheticKAVQ1(src, 0, 30));
        ASSERT_EQ(AddVideoFromPath(op, t, 0, src, ImportOptions{}).result, OpResult::kDone);
    }
    const auto oldDirectory = test::ReadImageClusters(pristine, 0, kDirectoryClusters);
    const std::string target = dir.File("target.img");
    int crashes = 0;
    for (auto policy : {CFaultDevice::LostWrites::kDropAll, CFaultDevice::LostWrites::kKeepAll,
                        CFaultDevice::LostWrites::kKeepNewestOnly}) {
        for (uint64_t n = 1; n < 200; ++n) {
            std::filesystem::copy_file(pristine, target, std::filesystem::copy_options::overwrite_existing);
            CSDCard t(nullptr);
            CFaultDevice* fault = nullptr;
            test::OpenCard(t, target, &fault);
            ASSERT_NE(fault, nullptr);
            fault->crashAtEvent = fault->events + n;
            fault->lostWrites = policy;
            const auto outs = RestoreImage(image, {&t}, nullptr, CopyOptions{});
            const bool crashed = fault->crashed;
            t.Close();
            if (!crashed) {
                EXPECT_TRUE(outs[0].ok) << outs[0].error;
                ExpectEqualToSource(target);
                break;
            }
            ++crashes;
            const std::string what = "policy " + std::to_string(int(policy)) + ", crash at event " + std::to_string(n);
            EXPECT_FALSE(outs[0].ok) << what;
            const auto now = test::ReadImageClusters(target, 0, kDirectoryClusters);
            CardDirectory d;
            std::memcpy(d.Bytes(), now.data(), kDirectorySize);
            if (!d.IsValid()) continue;  // not formatted: the journal keeps the old directory
            if (now == oldDirectory)
                EXPECT_EQ(test::CheckCardConsistent(target), "") << what;
            else
                ExpectEqualToSource(target);
            if (::testing::Test::HasFailure()) return;
        }
    }
    EXPECT_GT(crashes, 3 * 6);
}

// An interrupted restore leaves a card that reads as not formatted, and the
// journal still holds the directory it had, which `recover` puts back while
// its items are untouched.
TEST_F(CardCopyTest, AStoppedRestoreLeavesTheTargetNotFormattedAndItsOldDirectoryInTheJournal) {
    FillSource();
    // The target: a card of its own with one video far behind anything the
    // backup references.
    const std::string target = dir.File("target.img");
    ASSERT_TRUE(test::MakeFormattedImage(target, 40, 0));
    CSDCard t(&op);
    ASSERT_TRUE(test::OpenCard(t, target));
    const uint32_t far = uint32_t(t.TotalClusters()) - 200;
    for (uint32_t f = 0; f < 2; ++f) {
        auto slot = test::SyntheticSlot(0, f);
        ASSERT_TRUE(t.WriteClusters(far + f * kCpf, slot.data(), kCpf));
    }
    std::vector<uint8_t> black(kThumbBlockBytes);
    MakeBlackThumbnail(black.data());
    ItemEntry e;
    e.index = 4;
    e.head = EntryHead{far, 2, kCpf};
    e.name = "kept";
    ASSERT_TRUE(t.CommitItem(e, black.data()));
    const auto old = test::ReadImageClusters(target, 0, kDirectoryClusters);
    t.Close();

    CSDCard image(nullptr);
    ASSERT_EQ(image.OpenPath(source), kOpenOk);
    ASSERT_TRUE(image.ReadDirectory());
    CSDCard tc(nullptr);
    CFaultDevice* fault = nullptr;
    test::OpenCard(tc, target, &fault);
    ASSERT_NE(fault, nullptr);
    fault->failWriteAt = fault->writes + 3;  // the directory cleared, one data write, then a failure
    CopyOptions options;
    options.chunkClusters = 1;
    const auto outs = RestoreImage(image, {&tc}, nullptr, options);
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_FALSE(outs[0].ok);
    EXPECT_TRUE(outs[0].targetTouched);
    EXPECT_FALSE(outs[0].directoryWritten);
    tc.Close();
    image.Close();
    CSDCard after(&op);
    ASSERT_EQ(after.OpenPath(target), kOpenOk);
    EXPECT_FALSE(after.ReadDirectory());
    RecoverOptions ro;
    ro.ask = false;
    EXPECT_EQ(RecoverCard(op, after, ro).result, OpResult::kDone);
    after.Close();
    EXPECT_EQ(test::ReadImageClusters(target, 0, kDirectoryClusters), old);
}

}  // namespace
}  // namespace rk

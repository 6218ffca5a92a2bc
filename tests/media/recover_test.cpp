// A card whose directory was lost gets it back: from the journal kept on the
// computer before every directory write, or by scanning the card for runs of
// frame slots. Only the directory is ever written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "card/directory_journal.h"
#include "media/recover.h"
#include "media/card_check.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "support/cli_run.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kCpf = 33;

// The image passes the card check (directory, runs, every slot's headers,
// free space) and the consistency check of a card pulled at any moment.
void ExpectCardSound(const std::string& image) {
    EXPECT_EQ(test::CheckCardConsistent(image), "");
    CScriptedOperator op;
    CSDCard card(&op);
    ASSERT_EQ(card.OpenPath(image), kOpenOk);
    const CheckReport report = CheckCard(op, card, CheckFrames::kNone);
    EXPECT_TRUE(report.Clean()) << CheckSummaryText(report) << ": "
                                << (report.findings.empty() ? std::string() : report.findings[0].text);
}

class RecoverTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir.File("card.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
        Open();
    }
    void Open(bool fault = false) {
        card.Close();
        card.SetOperator(&op);
        test::OpenCard(card, image, fault ? &this->fault : nullptr);
    }
    void AddVideo(const std::string& name, int frames) {
        const std::string src = dir.File(name + ".kavq1");
        ASSERT_TRUE(test::WriteSyntheticKAVQ1(src, 0, frames));
        ASSERT_EQ(AddVideoFromPath(op, card, LowestFreeVideoSlot(card.Directory()), src, ImportOptions{}).result,
                  OpResult::kDone);
    }
    // A still at its fixed place, committed as every item is.
    void AddStill(int s) {
        const uint32_t at = card.Regions().StillCluster(s);
        auto slot = test::SyntheticSlot(0, 0);
        ASSERT_TRUE(card.WriteClusters(at, slot.data(), kCpf));
        std::vector<uint8_t> black(kThumbBlockBytes);
        MakeBlackThumbnail(black.data());
        ItemEntry e;
        e.kind = CardItem::kStill;
        e.index = s;
        e.head = EntryHead{at, 1, kCpf};
        ASSERT_TRUE(card.CommitItem(e, black.data()));
    }
    // Three videos, a still and a playlist of two of the videos.
    void FillCard() {
        AddVideo("One", 3);
        AddVideo("Two", 2);
        AddVideo("Three", 4);
        AddStill(1);
        // The playlist's title card goes first, as every playlist edit writes it.
        auto title = test::SyntheticSlot(0, 0);
        ASSERT_TRUE(card.WriteClusters(card.Regions().TitleCluster(0), title.data(), kCpf));
        CardDirectory before = card.Directory();
        card.Directory().SetClipCount(0, 2);
        card.Directory().SetClip(0, 0, 2);
        card.Directory().SetClip(0, 1, 0);
        ASSERT_TRUE(card.CommitDirectory(before));
    }
    std::vector<uint8_t> DirectoryBytes() { return test::ReadImageClusters(image, 0, kDirectoryClusters); }
    // The image behind the directory block.
    std::vector<uint8_t> Behind() {
        auto all = test::ReadFileBytes(image);
        return std::vector<uint8_t>(all.begin() + kDirectorySize, all.end());
    }
    void PutDirectoryBytes(const std::vector<uint8_t>& bytes) {
        int fd = ::open(image.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        ::close(fd);
    }
    RecoverOutcome Recover(bool scan, bool force) {
        RecoverOptions o;
        o.scan = scan;
        o.force = force;
        return RecoverCard(op, card, o);
    }

    test::TempDir dir;
    std::string image;
    CScriptedOperator op;
    CSDCard card;
    CFaultDevice* fault = nullptr;
};

TEST_F(RecoverTest, FormatOfTheWrongCardIsUndoneFromTheJournal) {
    FillCard();
    const auto full = DirectoryBytes();
    ASSERT_TRUE(card.Format(0));
    const auto formatted = DirectoryBytes();
    const auto behind = Behind();

    // A valid directory is left alone unless asked.
    EXPECT_EQ(Recover(false, false).cause, kRecoverDirectoryValid);
    EXPECT_EQ(DirectoryBytes(), formatted);

    // No to the question writes nothing.
    op.answers.push_back(kResultNo);
    const RecoverOutcome no = Recover(false, true);
    EXPECT_EQ(no.result, OpResult::kRefused);
    EXPECT_TRUE(no.cause.empty()) << no.cause;
    EXPECT_EQ(DirectoryBytes(), formatted);

    RecoverOutcome r = Recover(false, true);
    ASSERT_EQ(r.result, OpResult::kDone) << r.summary;
    EXPECT_NE(r.summary.find("3 videos, 1 stills"), std::string::npos) << r.summary;
    EXPECT_EQ(DirectoryBytes(), full);  // playlists and names as they were
    EXPECT_EQ(Behind(), behind);        // nothing but the directory written
    card.Close();
    ExpectCardSound(image);
}

TEST_F(RecoverTest, AJournalWhoseItemsAreNotOnTheCardIsNotUsed) {
    FillCard();
    const EntryHead first = card.Directory().Video(0);
    ASSERT_TRUE(card.Format(0));
    // Another card's data now lies where the first video's first frame was:
    // every directory kept names that video.
    std::vector<uint8_t> zeros(size_t(kCpf) * kClusterSize);
    ASSERT_TRUE(card.WriteClusters(first.startCluster, zeros.data(), kCpf));
    const auto formatted = DirectoryBytes();
    op.messages.clear();
    EXPECT_EQ(Recover(false, true).cause, kRecoverNothingFound);
    EXPECT_EQ(DirectoryBytes(), formatted);
    ASSERT_FALSE(op.messages.empty());
    EXPECT_EQ(op.messages.back().detail, "video 1: no frame at cluster " + std::to_string(first.startCluster));
    // The journal of a card holding nothing at all finds nothing either.
    PutDirectoryBytes(std::vector<uint8_t>(kDirectorySize, 0));
    Open();
    EXPECT_FALSE(card.IsDirectoryValid());
}

// A card at the same path that is not the journalled one gets nothing,
// whatever kind of item the journalled directory names, and the message
// names what is missing.
TEST_F(RecoverTest, AnotherCardAtTheSamePathIsNotGivenTheJournalledDirectory) {
    struct Case {
        CardItem kind;
        int index;
        const char* missing;
    };
    const Case cases[] = {
        {CardItem::kEffect, 2, "effect 3: no frame at cluster "},
        {CardItem::kLogo, 4, "logo 5: no frame at cluster "},
        {CardItem::kVideo, 6, "video 7: no frame at cluster "},
    };
    for (const Case& c : cases) {
        card.Close();
        ::unlink(image.c_str());
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
        Open();
        const uint32_t at = card.FirstItemCluster() + 70;
        for (uint32_t f = 0; f < 2; ++f) {
            auto slot = test::SyntheticSlot(0, f);
            ASSERT_TRUE(card.WriteClusters(at + f * kCpf, slot.data(), kCpf));
        }
        std::vector<uint8_t> black(kThumbBlockBytes);
        MakeBlackThumbnail(black.data());
        ItemEntry e;
        e.kind = c.kind;
        e.index = c.index;
        e.head = EntryHead{at, 2, kCpf};
        ASSERT_TRUE(card.CommitItem(e, black.data()));
        card.Close();
        // Another, blank card of the same size takes the image's place.
        ::unlink(image.c_str());
        ASSERT_TRUE(test::MakeFormattedImage(image, 40, 0));
        PutDirectoryBytes(std::vector<uint8_t>(kDirectorySize, 0));
        Open();
        op.messages.clear();
        EXPECT_EQ(Recover(false, false).cause, kRecoverNothingFound) << c.missing;
        EXPECT_EQ(DirectoryBytes(), std::vector<uint8_t>(kDirectorySize, 0)) << c.missing;
        ASSERT_FALSE(op.messages.empty());
        EXPECT_EQ(op.messages.back().detail, c.missing + std::to_string(at));
    }
}

// A mistaken format followed by one more write: the directory from before
// the format is still kept, and it is the newest whose items are in place
// (the formatted one in between holds none).
TEST_F(RecoverTest, ADirectoryTwoWritesOldIsStillOffered) {
    FillCard();
    const auto full = DirectoryBytes();
    ASSERT_TRUE(card.Format(0));
    AddStill(5);
    RecoverOutcome r = Recover(false, true);
    ASSERT_EQ(r.result, OpResult::kDone) << r.summary;
    EXPECT_EQ(DirectoryBytes(), full);
    card.Close();
    ExpectCardSound(image);
}

TEST_F(RecoverTest, ScanRebuildsVideosAndStillsWithoutPlaylists) {
    FillCard();
    const CardDirectory had = card.Directory();
    // The directory block is lost altogether: the mode is learnt from the slots.
    PutDirectoryBytes(std::vector<uint8_t>(kDirectorySize, 0));
    Open();
    ASSERT_FALSE(card.IsDirectoryValid());
    const auto behind = Behind();
    RecoverOutcome r = Recover(true, false);
    ASSERT_EQ(r.result, OpResult::kDone) << r.summary;
    EXPECT_NE(r.summary.find("3 videos, 1 stills"), std::string::npos) << r.summary;
    EXPECT_NE(r.summary.find("Playlists"), std::string::npos) << r.summary;
    const CardDirectory& got = card.Directory();
    for (int v = 0; v < 3; ++v) {
        EXPECT_EQ(got.Video(v), had.Video(v)) << v;
        EXPECT_EQ(got.VideoNameUtf8(v), "Recovered " + std::to_string(v + 1));
    }
    EXPECT_FALSE(got.Video(3).Used());
    EXPECT_EQ(got.Still(1), had.Still(1));
    EXPECT_FALSE(got.Still(0).Used());
    EXPECT_EQ(got.ClipCount(0), 0);
    EXPECT_EQ(card.VideoMode(), 0);
    EXPECT_EQ(Behind(), behind);
    card.Close();
    ExpectCardSound(image);
}

TEST_F(RecoverTest, ScanOfAFormattedCardNeedsForceAndABlankCardFindsNothing) {
    FillCard();
    ASSERT_TRUE(card.Format(0));
    EXPECT_EQ(Recover(true, false).cause, kRecoverDirectoryValid);
    EXPECT_EQ(Recover(true, true).result, OpResult::kDone);
    EXPECT_EQ(card.VideoCount(), 3);

    test::TempDir other;
    const std::string blank = other.File("blank.img");
    int error = 0;
    ASSERT_TRUE(CreateCardImage(blank, 40 << 20, error));
    card.Close();
    ASSERT_EQ(card.OpenPath(blank), kOpenOk);
    EXPECT_EQ(Recover(true, false).cause, kRecoverNothingFound);
    EXPECT_EQ(Recover(false, false).cause, kRecoverNothingFound);
    EXPECT_EQ(test::ReadImageClusters(blank, 0, 3), std::vector<uint8_t>(kDirectorySize, 0));
}

// A power cut tears the directory write of an add after any sector: the card
// reads as not formatted, and the journal gives it the new directory back.
TEST_F(RecoverTest, DirectoryWriteTornAtEverySectorIsRecoveredFromTheJournal) {
    AddVideo("One", 2);
    AddVideo("Two", 3);
    const auto original = DirectoryBytes();
    const std::string third = dir.File("Three.kavq1");
    ASSERT_TRUE(test::WriteSyntheticKAVQ1(third, 0, 2));
    int recovered = 0, unchanged = 0;
    for (uint32_t sectors = 1; sectors < kDirectorySize / kSectorSize; ++sectors) {
        SCOPED_TRACE(sectors);
        PutDirectoryBytes(original);
        Open(true);
        ASSERT_TRUE(card.IsDirectoryValid());
        fault->tearAtOffset = 0;
        fault->tearBytes = size_t(sectors) * kSectorSize;
        EXPECT_EQ(AddVideoFromPath(op, card, 2, third, ImportOptions{}).result, OpResult::kFailed);
        ASSERT_TRUE(fault->crashed);

        Open();
        if (card.IsDirectoryValid()) {
            // Torn before the first sector that changes: the old directory
            // stands, without the third video, and is left alone.
            EXPECT_EQ(DirectoryBytes(), original);
            EXPECT_EQ(Recover(false, false).cause, kRecoverDirectoryValid);
            ++unchanged;
            continue;
        }
        RecoverOutcome r = Recover(false, false);
        ASSERT_EQ(r.result, OpResult::kDone) << r.summary;
        EXPECT_EQ(card.VideoCount(), 3);
        EXPECT_EQ(card.Directory().VideoNameUtf8(2), "Three");
        card.Close();
        ExpectCardSound(image);
        ++recovered;
    }
    EXPECT_EQ(recovered + unchanged, int(kDirectorySize / kSectorSize) - 1);
    EXPECT_GT(recovered, 40);  // the third video's entry lies in sector 21, the checksum in the last
}

// Hostile card contents: slot heads in noise, a head with no frame behind it,
// runs cut off by the card's end. The scan reads them without harm and
// whatever it rebuilds passes the card's checks.
TEST_F(RecoverTest, ScanOfNoiseAndCutRunsStaysSound) {
    PutDirectoryBytes(std::vector<uint8_t>(kDirectorySize, 0));
    Open();
    const int64_t total = card.TotalSectors() / kSectorsPerCluster;
    std::vector<uint8_t> noise(size_t(kCpf) * kClusterSize);
    uint32_t seed = 12345;
    for (auto& b : noise) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    for (uint32_t c = 1651; c + kCpf <= uint32_t(total); c += kCpf) ASSERT_TRUE(card.WriteClusters(c, noise.data(), kCpf));
    // A chunk header alone, a full slot head at a cluster that is not a slot
    // boundary, and a run whose last slot reaches the card's end.
    auto slot = test::SyntheticSlot(0, 0);
    ASSERT_TRUE(card.WriteCluster(1700, slot.data()));
    ASSERT_TRUE(card.WriteClusters(1801, slot.data(), 2));
    for (uint32_t f = 0; f < 2; ++f) {
        auto s = test::SyntheticSlot(0, f);
        ASSERT_TRUE(card.WriteClusters(uint32_t(total) - 2 * kCpf + f * kCpf, s.data(), kCpf));
    }
    RecoverOutcome r = Recover(true, false);
    if (r.result == OpResult::kDone) {
        card.Close();
        ExpectCardSound(image);
    } else {
        EXPECT_EQ(r.cause, kRecoverNothingFound);
    }
}

TEST_F(RecoverTest, AJournalThatCannotBeWrittenNeverFailsTheCardsWrite) {
    const char* old = std::getenv("XDG_STATE_HOME");
    const std::string keep = old ? old : "";
    ::setenv("XDG_STATE_HOME", "/proc/self/no-such-state-folder", 1);
    AddVideo("One", 2);
    EXPECT_TRUE(card.Format(0));
    ::setenv("XDG_STATE_HOME", keep.c_str(), 1);
    EXPECT_TRUE(card.IsDirectoryValid());
    // Nothing was journalled, so nothing can be recovered.
    EXPECT_EQ(Recover(false, true).cause, kRecoverNothingFound);
}

TEST_F(RecoverTest, JournalLivesInThePrivateStateFolderOfTheTests) {
    const char* state = std::getenv("XDG_STATE_HOME");
    ASSERT_NE(state, nullptr);
    const char* home = std::getenv("HOME");
    if (home) {
        EXPECT_NE(std::string(state).rfind(home, 0), 0u) << state;
    }
    EXPECT_EQ(DefaultJournalFolder(), std::string(state) + "/Korvix/Reelkeep/journal");
    AddVideo("One", 1);
    EXPECT_EQ(::access(CDirectoryJournal(DefaultJournalFolder()).RecordPath(card.Identity()).c_str(), R_OK), 0);
}

int Cli(const std::string& args) { return test::RunCli(args).status; }

TEST_F(RecoverTest, CommandLine) {
    FillCard();
    const auto full = DirectoryBytes();
    card.Close();
    const std::string img = "'" + image + "'";
    ASSERT_EQ(Cli("--yes format " + img + " --mode 0"), 0);
    const auto formatted = DirectoryBytes();
    EXPECT_EQ(Cli("recover " + img), 1);              // valid directory
    EXPECT_EQ(Cli("recover " + img + " --force"), 1);  // no terminal: the question is answered No
    EXPECT_EQ(DirectoryBytes(), formatted);
    EXPECT_EQ(Cli("recover " + img + " --force --yes"), 0);
    EXPECT_EQ(DirectoryBytes(), full);
    EXPECT_EQ(Cli("recover " + img + " --scan --force --yes --mode 0"), 0);
    ExpectCardSound(image);
    // A card whose block is gone, seen by a program that never saw it formatted.
    PutDirectoryBytes(std::vector<uint8_t>(kDirectorySize, 0));
    EXPECT_EQ(Cli("recover " + img + " --scan --yes"), 0);
    CSDCard again;
    ASSERT_EQ(again.OpenPath(image), kOpenOk);
    ASSERT_TRUE(again.ReadDirectory());
    EXPECT_EQ(again.VideoCount(), 3);
    EXPECT_EQ(again.StillCount(), 1);
    again.Close();
    ExpectCardSound(image);
}

}  // namespace
}  // namespace rk

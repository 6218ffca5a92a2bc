// The card check over a set of damaged cards: each damage is found once with
// its item named, clean cards give nothing but the summary, and the check
// never writes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "card/card_directory.h"
#include "codec/kavq1_slot.h"
#include "convert/tool_folder.h"
#include "media/card_check.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"
#include "support/cli_run.h"

namespace rk {
namespace {

constexpr int kCpf = 33;

using Result = test::CliResult;

Result Cli(const std::string& args) { return test::RunCli(args); }

void PutBytes(const std::string& path, uint64_t offset, const void* data, size_t size) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(offset));
    f.write(static_cast<const char*>(data), std::streamsize(size));
}

class CardCheckTest : public ::testing::Test {
protected:
    // One card with two really encoded videos, made once: 'Intro' (4
    // frames) in entry 0 and 'Second' (3 frames) in entry 1.
    static void SetUpTestSuite() {
        suiteDir = new test::TempDir("rk-check");
        const std::string kavq1 = suiteDir->File("enc.kavq1");
        ASSERT_TRUE(test::WriteEncodedKAVQ1(kavq1, 4));
        const std::string three = suiteDir->File("three.kavq1");
        {
            auto all = test::ReadFileBytes(kavq1);
            all.resize(size_t(3) * kCpf * kClusterSize);
            ASSERT_TRUE(test::WriteFileBytes(three, all));
        }
        base = suiteDir->File("base.img");
        ASSERT_TRUE(test::MakeFormattedImage(base, 40, 0));
        CSDCard card;
        CScriptedOperator op;
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, base));
        ASSERT_EQ(AddVideoFromPath(op, card, 0, kavq1, ImportOptions{}, "Intro").result, OpResult::kDone);
        ASSERT_EQ(AddVideoFromPath(op, card, 1, three, ImportOptions{}, "Second").result, OpResult::kDone);
    }
    static void TearDownTestSuite() {
        delete suiteDir;
        suiteDir = nullptr;
    }
    void SetUp() override {
        image = dir.File("card.img");
        ASSERT_TRUE(test::WriteFileBytes(image, test::ReadFileBytes(base)));
        dirBytes = test::ReadImageClusters(image, 0, 3);
        std::memcpy(directory.Bytes(), dirBytes.data(), kDirectorySize);
    }
    CheckReport Check(CheckFrames frames = CheckFrames::kAll) {
        CSDCard card;
        CScriptedOperator op;
        std::unique_ptr<ICardDevice> device;
        int error = 0;
        if (OpenCardDevice(image, device, error) != kOpenOk) return {};
        card.OpenDevice(std::move(device));
        const auto before = test::ReadFileBytes(image);
        CheckReport r = CheckCard(op, card, frames);
        card.Close();
        EXPECT_TRUE(test::ReadFileBytes(image) == before) << "the check wrote to the card";
        return r;
    }
    // Writes `directory` back with a fresh playlist table and checksum.
    void WriteDirectory() {
        directory.PrepareForWrite(0, kCpf);
        PutBytes(image, 0, directory.Bytes(), kDirectorySize);
    }
    uint64_t SlotOffset(int v, int frame) const {
        return (uint64_t(directory.Video(v).startCluster) + uint64_t(frame) * kCpf) * kClusterSize;
    }
    static std::string Texts(const CheckReport& r) {
        std::string s;
        for (const auto& f : r.findings) s += f.text + "\n";
        return s;
    }

    static test::TempDir* suiteDir;
    static std::string base;
    test::TempDir dir;
    std::string image;
    std::vector<uint8_t> dirBytes;
    CardDirectory directory;
};
test::TempDir* CardCheckTest::suiteDir = nullptr;
std::string CardCheckTest::base;

TEST_F(CardCheckTest, CleanCardDecodesEveryFrame) {
    CheckReport r = Check(CheckFrames::kAll);
    EXPECT_TRUE(r.Clean()) << Texts(r);
    EXPECT_EQ(r.items, 2);
    EXPECT_EQ(r.framesChecked, 7u);
    EXPECT_EQ(r.framesDecoded, 7u);
    EXPECT_EQ(r.freeClusters, 1762 - (4 * kCpf + 2) - (3 * kCpf + 2));
    CheckReport s = Check(CheckFrames::kSample);
    EXPECT_TRUE(s.Clean());
    EXPECT_EQ(s.framesDecoded, 6u);  // first, middle and last of each
    EXPECT_EQ(Check(CheckFrames::kNone).framesDecoded, 0u);
}

TEST_F(CardCheckTest, DamagedFrameHeaderAndAudioChunk) {
    PutBytes(image, SlotOffset(0, 2) + kClusterSize, "KVQ2", 4);
    const uint8_t badLength[2] = {0x12, 0x34};
    PutBytes(image, SlotOffset(1, 1) + 12, badLength, 2);
    CheckReport r = Check(CheckFrames::kNone);
    ASSERT_EQ(r.findings.size(), 2u) << Texts(r);
    EXPECT_EQ(r.findings[0].text, "video 1 'Intro': frame 2 has a damaged frame header (no KVQ1 magic)");
    EXPECT_EQ(r.findings[0].item, "video 1 'Intro'");
    EXPECT_NE(r.findings[1].text.find("video 2 'Second': frame 1 has a damaged audio chunk (length"), std::string::npos)
        << r.findings[1].text;
}

TEST_F(CardCheckTest, DataThatNoLongerDecodesIsFoundByTheFullDecode) {
    std::vector<uint8_t> junk(64 * 1024, 0xFF);
    PutBytes(image, SlotOffset(0, 1) + kClusterSize + 32, junk.data(), junk.size());
    CheckReport all = Check(CheckFrames::kAll);
    ASSERT_EQ(all.findings.size(), 1u) << Texts(all);
    EXPECT_EQ(all.findings[0].text.rfind("video 1 'Intro': frame 1 does not decode", 0), 0u) << all.findings[0].text;
    // Frame 1 of 4 is not among the sampled frames; headers are intact.
    EXPECT_TRUE(Check(CheckFrames::kSample).Clean());
}

TEST_F(CardCheckTest, OverlappingEntryAndThumbnailPastTheCard) {
    {
        EntryHead h = directory.Video(1);
        h.startCluster = directory.Video(0).startCluster + kCpf;  // inside Intro
        directory.SetVideo(1, h);
        WriteDirectory();
        CheckReport r = Check(CheckFrames::kNone);
        ASSERT_GE(r.findings.size(), 1u);
        EXPECT_EQ(r.findings[0].code, "overlap");
        EXPECT_NE(r.findings[0].text.find("video 1 'Intro'"), std::string::npos) << Texts(r);
        EXPECT_NE(r.findings[0].text.find("video 2 'Second'"), std::string::npos) << Texts(r);
    }
    {
        // Second moved (frames and all) to the end, so that its frames fit
        // but its thumbnail block reaches past the last Cluster.
        std::memcpy(directory.Bytes(), dirBytes.data(), kDirectorySize);
        EntryHead h = directory.Video(1);
        auto frames = test::ReadImageClusters(image, h.startCluster, h.FrameClusters());
        const uint64_t total = 40ull * 1048576 / kClusterSize;
        h.startCluster = uint32_t(total - h.FrameClusters() - 1);
        PutBytes(image, uint64_t(h.startCluster) * kClusterSize, frames.data(), frames.size());
        directory.SetVideo(1, h);
        WriteDirectory();
        CheckReport r = Check(CheckFrames::kAll);
        ASSERT_EQ(r.findings.size(), 1u) << Texts(r);
        EXPECT_EQ(r.findings[0].code, "thumbnail");
        EXPECT_EQ(r.findings[0].text.rfind("video 2 'Second': thumbnail at cluster", 0), 0u) << Texts(r);
    }
}

TEST_F(CardCheckTest, PlaylistRecordsAndTable) {
    directory.SetClipCount(0, 2);
    directory.SetClip(0, 0, 0);
    directory.SetClip(0, 1, 5);  // a free entry
    directory.SetClipCount(3, 16);
    WriteDirectory();
    CheckReport r = Check(CheckFrames::kNone);
    // The records were edited by hand, so playlist 1 has no title card either.
    ASSERT_EQ(r.findings.size(), 3u) << Texts(r);
    EXPECT_EQ(r.findings[0].text, "playlist 1: clip 2 refers to free video 6");
    EXPECT_EQ(r.findings[1].text, "playlist 4: clip count 16 is not 0 to 15");
    EXPECT_EQ(r.findings[2].text, "playlist 1: title card at cluster 3 has a damaged frame header (no KVQ1 magic)");

    // A table row that no longer matches its record.
    SetUp();
    directory.SetClipCount(1, 1);
    directory.SetClip(1, 0, 1);
    directory.PrepareForWrite(0, kCpf);
    directory.PutU16(kOffPlaylistTable + 1 * kPlaylistRowSize + 8 + 4, 99);  // clip 1's frame count
    directory.StoreChecksum();
    PutBytes(image, 0, directory.Bytes(), kDirectorySize);
    r = Check(CheckFrames::kNone);
    ASSERT_EQ(r.findings.size(), 2u) << Texts(r);
    EXPECT_EQ(r.findings[0].text, "playlist 2: the device's playlist table differs from the playlist record");
    EXPECT_EQ(r.findings[1].code, "title-card");
}

TEST_F(CardCheckTest, BadChecksumStillChecksTheRest) {
    directory.PrepareForWrite(0, kCpf);
    directory.Bytes()[kOffSpare + 10] ^= 0x40;  // the checksum is not renewed
    PutBytes(image, 0, directory.Bytes(), kDirectorySize);
    PutBytes(image, SlotOffset(1, 0) + kClusterSize, "XXXX", 4);
    CheckReport r = Check(CheckFrames::kNone);
    ASSERT_EQ(r.findings.size(), 2u) << Texts(r);
    EXPECT_EQ(r.findings[0].code, "checksum");
    EXPECT_EQ(r.findings[0].text.rfind("directory: checksum is 0x", 0), 0u);
    EXPECT_EQ(r.findings[1].item, "video 2 'Second'");
}

TEST_F(CardCheckTest, TruncatedImages) {
    // Cut inside Second's frames: its run reaches past the card's end.
    const EntryHead h = directory.Video(1);
    ASSERT_EQ(::truncate(image.c_str(), off_t((uint64_t(h.startCluster) + 2 * kCpf) * kClusterSize)), 0);
    CheckReport r = Check(CheckFrames::kAll);
    ASSERT_EQ(r.findings.size(), 1u) << Texts(r);
    EXPECT_EQ(r.findings[0].code, "past-end");
    EXPECT_EQ(r.findings[0].item, "video 2 'Second'");
    EXPECT_EQ(r.framesDecoded, 4u + 2u);  // the frames still on the card are checked

    // Shorter than the directory: the card cannot be read at all.
    ASSERT_EQ(::truncate(image.c_str(), 20000), 0);
    r = Check();
    EXPECT_FALSE(r.readable);
    EXPECT_FALSE(r.Clean());
    EXPECT_EQ(Cli("check '" + image + "'").status, 8);
}

TEST_F(CardCheckTest, NotFormattedAndStop) {
    CheckReport r;
    {
        std::vector<uint8_t> zero(kDirectorySize, 0);
        test::TempDir d2;
        std::string blank = d2.File("blank.img");
        ASSERT_TRUE(test::WriteFileBytes(blank, std::vector<uint8_t>(1 << 20, 0)));
        std::swap(image, blank);
        r = Check();
        std::swap(image, blank);
    }
    EXPECT_TRUE(r.readable);
    EXPECT_FALSE(r.formatted);
    ASSERT_EQ(r.findings.size(), 1u);
    EXPECT_EQ(r.findings[0].code, "magic");

    CSDCard card;
    CScriptedOperator op;
    op.stopAtPump = 3;
    ASSERT_TRUE(test::OpenCard(card, image));
    CheckReport s = CheckCard(op, card, CheckFrames::kAll);
    EXPECT_TRUE(s.stopped);
    EXPECT_EQ(s.framesChecked, 2u);
    EXPECT_EQ(op.ends, op.begins);
    EXPECT_EQ(op.progressUnit, ProgressUnit::kFrames);
}

TEST_F(CardCheckTest, CliSecondRunOnACleanCardPrintsOnlyTheSummary) {
    Result first = Cli("check '" + image + "' --frames all");
    Result second = Cli("check '" + image + "'");
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, "check: 2 items, 7 frames (6 decoded), " +
                              std::to_string(1762 - 4 * kCpf - 2 - 3 * kCpf - 2) + " of 1762 clusters free: clean\n");

    PutBytes(image, SlotOffset(0, 3) + kClusterSize, "KVQ2", 4);
    Result bad = Cli("check '" + image + "' --json --frames none");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out.rfind("{\"item\":\"video 1 'Intro'\",\"problem\":\"frame\",\"text\":\"video 1 'Intro': frame 3 "
                            "has a damaged frame header (no KVQ1 magic)\"}\n{\"summary\":{",
                            0),
              0u)
        << bad.out;
    // The keys are spelt as in every other --json listing.
    EXPECT_NE(bad.out.find("\"freeClusters\":"), std::string::npos) << bad.out;
    EXPECT_NE(bad.out.find("\"problems\":1}}\n"), std::string::npos) << bad.out;
    EXPECT_EQ(Cli("check '" + image + "' --frames most").status, 2);
}

// A card of synthetic slots (headers right, pictures not decodable) as the
// add tests make them: clean when the frames are not decoded.
TEST_F(CardCheckTest, SyntheticCardOfTheAddTestsHasSoundHeaders) {
    std::string img = dir.File("synthetic.img");
    const std::string src = dir.File("synthetic.kavq1");
    ASSERT_TRUE(test::MakeFormattedImage(img, 40, 0));
    ASSERT_TRUE(test::WriteSyntheticKAVQ1(src, 0, 5));
    {
        CSDCard card;
        CScriptedOperator op;
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, img));
        ASSERT_EQ(AddVideoFromPath(op, card, 3, src, ImportOptions{}).result, OpResult::kDone);
    }
    std::swap(image, img);
    CheckReport r = Check(CheckFrames::kNone);
    std::swap(image, img);
    EXPECT_TRUE(r.Clean()) << Texts(r);
    EXPECT_EQ(r.framesChecked, 5u);
}

}  // namespace
}  // namespace rk

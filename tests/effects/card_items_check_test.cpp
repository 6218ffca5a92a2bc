// The card check and the scan recovery over cards holding every kind of
// item: videos, a still, a playlist with its title card, effects of both
// families and a logo. A clean card gives no findings; damaged effect marks,
// logo frames and title cards are found with their items; a scan tells
// effects and logos from videos and gives back a card that passes the check.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "media/recover.h"
#include "card/video_modes.h"
#include "codec/kavq1_slot.h"
#include "convert/tool_folder.h"
#include "effects/effect_format.h"
#include "effects/effect_ops.h"
#include "effects/logo_file.h"
#include "effects/logo_ops.h"
#include "media/card_check.h"
#include "media/playlist_ops.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"
#include "media/media_fixture.h"
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

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part) { out.insert(out.end(), part.begin(), part.end()); }

std::vector<uint8_t> BlackThumbnail() {
    std::vector<uint8_t> t(kThumbBlockBytes);
    MakeBlackThumbnail(t.data());
    return t;
}

// An ".effect" file of `frames` really encoded frames of transition `kind`
// at the card's rate `rate`, marks as the effect maker writes them.
bool WriteEffectFile(const std::string& path, int frames, int kind, int rate) {
    EffectFileHeader h;
    h.frames = uint16_t(frames);
    h.switchByte = EffectSwitchOf(kind);
    h.hue = kind >= 2 ? 40 : 0;
    std::vector<uint8_t> file(kEffectFileHeaderBytes);
    WriteEffectFileHeader(h, file.data());
    for (int i = 0; i < frames; ++i) {
        auto slot = test::EncodedSlot(uint32_t(i), rate);
        if (slot.empty()) return false;
        WriteAudioChunkHeader(slot.data(), uint32_t(i), AudioShareBytes(50, uint32_t(i)));
        EffectMarks m;
        m.kind = kind;
        if (IsKeyframedEffectKind(kind)) {
            m.position = i + 1 == frames ? 2047 : i * 500;
            m.fade = 100 + i;
        }
        m.framesAfter = frames - 1 - i;
        PutEffectMarks(slot.data() + kVideoAreaOffset, m);
        Append(file, slot);
    }
    Append(file, BlackThumbnail());
    return test::WriteFileBytes(path, file);
}

bool WriteAnimLogoFile(const std::string& path, int frames, int cpf) {
    EntryHead head{0, uint16_t(frames), uint16_t(cpf)};
    std::vector<uint8_t> file = MakeAnimLogoHeader(head);
    for (int i = 0; i < frames; ++i) {
        auto slot = test::LogoSlot(uint32_t(i));
        if (slot.empty()) return false;
        slot.resize(size_t(cpf) * kClusterSize, 0);
        Append(file, slot);
    }
    Append(file, BlackThumbnail());
    return test::WriteFileBytes(path, file);
}

class CardItemsCheckTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        mode = GetParam();
        image = dir.File("card.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 48, mode));
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image));
        const int rate = VideoModeAt(mode).frameRate;
        // Videos.
        const std::string v1 = dir.File("v1.kavq1"), v2 = dir.File("v2.kavq1");
        ASSERT_TRUE(test::WriteEncodedKAVQ1(v1, 3, rate));
        ASSERT_TRUE(test::WriteEncodedKAVQ1(v2, 2, rate));
        ASSERT_EQ(AddVideoFromPath(op, card, 0, v1, ImportOptions{}, "Intro").result, OpResult::kDone);
        // An effect of each family, then the logo, then another video, so
        // that runs of every kind lie next to each other.
        const std::string wipe = dir.File("wipe.effect"), slide = dir.File("slide.effect");
        ASSERT_TRUE(WriteEffectFile(wipe, 4, 1, rate));
        ASSERT_TRUE(WriteEffectFile(slide, 3, 2, rate));
        ASSERT_EQ(AddEffectFromEffectFile(op, card, 0, wipe).result, OpResult::kDone);
        ASSERT_EQ(AddEffectFromEffectFile(op, card, 1, slide).result, OpResult::kDone);
        const std::string logo = dir.File("l.animlogo");
        ASSERT_TRUE(WriteAnimLogoFile(logo, 2, kCpf));
        ASSERT_EQ(AddLogoFromPath(op, card, 0, logo, LogoOptions{}).result, OpResult::kDone);
        ASSERT_EQ(AddVideoFromPath(op, card, 1, v2, ImportOptions{}, "Outro").result, OpResult::kDone);
        // A still at its place.
        {
            const uint32_t at = card.Regions().StillCluster(0);
            auto slot = test::EncodedSlot(0, rate);
            ASSERT_TRUE(card.WriteClusters(at, slot.data(), kCpf));
            ItemEntry e;
            e.kind = CardItem::kStill;
            e.index = 0;
            e.head = EntryHead{at, 1, kCpf};
            ASSERT_TRUE(card.CommitItem(e, BlackThumbnail().data()));
        }
        // A playlist: its title card made by the tools, or a frame of the
        // mode put in its place where the tools are missing.
        if (test::ToolsAvailable()) {
            ASSERT_TRUE(AddClip(op, card, 0, 1).done);
            ASSERT_TRUE(AddClip(op, card, 0, 0).done);
        } else {
            auto slot = test::EncodedSlot(0, rate);
            ASSERT_TRUE(card.WriteClusters(card.Regions().TitleCluster(0), slot.data(), kCpf));
            CardDirectory before = card.Directory();
            card.Directory().SetClipCount(0, 2);
            card.Directory().SetClip(0, 0, 1);
            card.Directory().SetClip(0, 1, 0);
            ASSERT_TRUE(card.CommitDirectory(before));
        }
        had = card.Directory();
        card.Close();
    }
    CheckReport Check(CheckFrames frames = CheckFrames::kAll) {
        CScriptedOperator checkOp;
        CSDCard c(&checkOp);
        if (c.OpenPath(image) != kOpenOk) return {};
        return CheckCard(checkOp, c, frames);
    }
    uint64_t SlotOffset(const EntryHead& h, int frame) const {
        return (uint64_t(h.startCluster) + uint64_t(frame) * h.clustersPerFrame) * kClusterSize;
    }
    static std::string Texts(const CheckReport& r) {
        std::string s;
        for (const auto& f : r.findings) s += f.text + "\n";
        return s;
    }

    int mode = 0;
    test::TempDir dir{"rk-items-check"};
    std::string image;
    CScriptedOperator op;
    CSDCard card;
    CardDirectory had;
};

TEST_P(CardItemsCheckTest, CleanCardOfEveryKindGivesNoFindings) {
    CheckReport r = Check(CheckFrames::kAll);
    EXPECT_TRUE(r.Clean()) << Texts(r);
    EXPECT_EQ(r.items, 2 + 2 + 1 + 1);
    EXPECT_EQ(r.framesChecked, uint64_t(3 + 2 + 4 + 3 + 2 + 1 + 1));  // title card included
    EXPECT_EQ(r.framesDecoded, r.framesChecked);
    const std::string q = "'" + image + "'";
    EXPECT_EQ(Cli("check " + q + " --frames all").status, 0);
    Result second = Cli("check " + q);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out.find('\n'), second.out.size() - 1) << second.out;
    EXPECT_EQ(second.out.rfind("check: 6 items,", 0), 0u) << second.out;
}

TEST_P(CardItemsCheckTest, DamagedEffectMarksLogoFramesAndTitleCardsAreNamed) {
    const EntryHead wipe = had.Effect(0), slide = had.Effect(1), logo = had.Logo(0);
    const uint64_t header = kClusterSize;  // the frame header's place in a slot
    const uint8_t zero = 0, one = 1, rate25 = 25;
    PutBytes(image, SlotOffset(wipe, 1) + header + 12, &zero, 1);     // no mark byte
    PutBytes(image, SlotOffset(wipe, 2) + header + 19, &zero, 1);     // frames after: 1 expected
    PutBytes(image, SlotOffset(wipe, 3) + header + 15, &zero, 1);     // last position no longer 2047
    PutBytes(image, SlotOffset(slide, 0) + header + 17, &one, 1);     // a fade on an animated wipe
    PutBytes(image, SlotOffset(slide, 2) + header + 18, &one, 1);     // another kind than the entry's
    PutBytes(image, SlotOffset(logo, 1) + header + 5, &rate25, 1);    // rate code 25
    const uint64_t title = uint64_t(card.Regions().TitleCluster(0)) * kClusterSize;
    PutBytes(image, title + header, "KVQX", 4);
    CheckReport r = Check(CheckFrames::kNone);
    const std::string t = Texts(r);
    ASSERT_EQ(r.findings.size(), 7u) << t;
    EXPECT_NE(t.find("effect 1: frame 1 has damaged effect marks (byte 12 is not 0x40)\n"), std::string::npos) << t;
    EXPECT_NE(t.find("effect 1: frame 2 has damaged effect marks (frames after it disagree"), std::string::npos) << t;
    EXPECT_NE(t.find("effect 1: frame 3 has damaged effect marks (the last frame's position is not 2047)"),
              std::string::npos)
        << t;
    EXPECT_NE(t.find("effect 2: frame 0 has damaged effect marks (an animated wipe with a position or fade)"),
              std::string::npos)
        << t;
    EXPECT_NE(t.find("effect 2: frame 2 has damaged effect marks (another transition kind"), std::string::npos) << t;
    EXPECT_NE(t.find("logo 1: frame 1 has a damaged frame header (rate code 25, expected 50)"), std::string::npos) << t;
    EXPECT_NE(t.find("playlist 1: title card at cluster " + std::to_string(card.Regions().TitleCluster(0)) +
                     " has a damaged frame header (no KVQ1 magic)"),
              std::string::npos)
        << t;
    for (const auto& f : r.findings) EXPECT_EQ(f.text.rfind(f.item + ": ", 0), 0u) << f.text;
}

TEST_P(CardItemsCheckTest, TitleCardWhoseDataNoLongerDecodes) {
    std::vector<uint8_t> junk(64 * 1024, 0xFF);
    PutBytes(image, uint64_t(card.Regions().TitleCluster(0)) * kClusterSize + kClusterSize + 32, junk.data(),
             junk.size());
    CheckReport r = Check(CheckFrames::kSample);
    ASSERT_EQ(r.findings.size(), 1u) << Texts(r);
    EXPECT_EQ(r.findings[0].code, "title-card");
    EXPECT_NE(r.findings[0].text.find("playlist 1: title card at cluster"), std::string::npos);
    EXPECT_NE(r.findings[0].text.find("does not decode"), std::string::npos) << r.findings[0].text;
}

// A format of the wrong card, then a scan: videos, effects (with their
// switch) and the logo come back at their places, the playlist does not,
// and the card passes the check.
TEST_P(CardItemsCheckTest, ScanTellsEffectsAndLogosFromVideos) {
    const auto before = test::ReadFileBytes(image);
    ASSERT_TRUE(test::OpenCard(card, image));
    ASSERT_TRUE(card.Format(mode));
    RecoverOptions o;
    o.scan = true;
    o.force = true;
    o.ask = false;
    RecoverOutcome out = RecoverCard(op, card, o);
    ASSERT_EQ(out.result, OpResult::kDone) << out.summary;
    EXPECT_NE(out.summary.find("2 videos, 1 stills, 2 effects, 1 logos"), std::string::npos) << out.summary;
    const CardDirectory& got = card.Directory();
    EXPECT_EQ(got.Video(0), had.Video(0));
    EXPECT_EQ(got.Video(1), had.Video(1));
    EXPECT_FALSE(got.Video(2).Used());
    EXPECT_EQ(got.Effect(0), had.Effect(0));
    EXPECT_EQ(got.Effect(1), had.Effect(1));
    EXPECT_EQ(got.EffectSwitch(0), 1);
    EXPECT_EQ(got.EffectSwitch(1), 2);
    EXPECT_EQ(got.Logo(0), had.Logo(0));
    EXPECT_FALSE(got.Logo(1).Used());
    EXPECT_EQ(got.Still(0), had.Still(0));
    EXPECT_EQ(got.ClipCount(0), 0);
    card.Close();
    // Only the directory was written.
    const auto after = test::ReadFileBytes(image);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(after.begin() + kDirectorySize, after.end(), before.begin() + kDirectorySize));
    CheckReport r = Check(CheckFrames::kAll);
    EXPECT_TRUE(r.Clean()) << Texts(r);

    // The mode is learnt from the slots too, logos aside, when the
    // directory block is gone altogether.
    std::vector<uint8_t> zero(kDirectorySize, 0);
    PutBytes(image, 0, zero.data(), zero.size());
    ASSERT_FALSE(test::OpenCard(card, image) && card.IsDirectoryValid());
    o.force = false;
    out = RecoverCard(op, card, o);
    ASSERT_EQ(out.result, OpResult::kDone) << out.summary;
    EXPECT_EQ(card.VideoMode(), mode);
    EXPECT_EQ(card.Directory().Logo(0), had.Logo(0));
    EXPECT_EQ(card.Directory().Effect(1), had.Effect(1));
}

// HD 50 (a logo looks like a video but for its layout) and HD 60 (a logo's
// rate code differs from the card's).
INSTANTIATE_TEST_SUITE_P(Modes, CardItemsCheckTest, ::testing::Values(0, 3));

}  // namespace
}  // namespace rk

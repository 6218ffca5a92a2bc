// reelkeep-cli render: a two-clip playlist becomes a file with every frame
// of its clips in order, close to the card's decoded frames, and with their
// sound; ProRes keeps the sound exactly, effects and logos their alpha.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <cstdio>
#include <string>
#include <vector>

#include "card/card_item.h"
#include "convert/tool_folder.h"
#include "media/item_frames.h"
#include "media/item_render.h"
#include "media_fixture.h"
#include "support/cli_run.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

// A tool beside the test programs, its standard output captured.
std::string Tool(const std::string& name, const std::string& args) {
    std::string out;
    FILE* p = ::popen(("'" + test::ProgramBeside(name) + "' " + args + " 2>/dev/null </dev/null").c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

double Psnr(const std::vector<uint8_t>& a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

class CliRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg is not beside the tests";
        image = dir.File("c.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 64, 0));
        // Video 1: pictures 0..2, video 2: pictures 4, 5; playlist 1 plays
        // video 2 then video 1.
        ASSERT_TRUE(test::WriteEncodedKAVQ1WithSound(dir.File("a.kavq1"), 3, 0));
        ASSERT_TRUE(test::WriteEncodedKAVQ1WithSound(dir.File("b.kavq1"), 2, 4));
        for (const char* f : {"a.kavq1", "b.kavq1"})
            ASSERT_EQ(test::RunCli("--yes add-video '" + image + "' '" + dir.File(f) + "'").status, 0);
        CSDCard card;
        ASSERT_TRUE(test::OpenCard(card, image));
        card.Directory().SetClipCount(0, 2);
        card.Directory().SetClip(0, 0, 1);
        card.Directory().SetClip(0, 1, 0);
        ASSERT_TRUE(card.WriteDirectory());
    }
    // The card's frames of playlist 1 and their sound, as the player reads them.
    void CardFrames(std::vector<YCbCrFrame>& frames, std::vector<int32_t>& sound) {
        CSDCard card;
        ASSERT_TRUE(test::OpenCard(card, image));
        auto f = CItemFrames::Open(card, {PlayKind::kPlaylist, 0});
        ASSERT_TRUE(f);
        frames.resize(size_t(f->FrameCount()));
        std::vector<int32_t> one;
        for (int64_t n = 0; n < f->FrameCount(); ++n) {
            ASSERT_EQ(f->ReadYCbCr(n, frames[size_t(n)]), FrameStatus::kOk);
            f->ReadSound(n, one);
            sound.insert(sound.end(), one.begin(), one.end());
        }
    }
    // The file's pictures as yuv420p and its sound as s32le.
    std::string Pictures(const std::string& file) {
        return Tool("ffmpeg", "-v error -i '" + file + "' -f rawvideo -pix_fmt yuv420p -");
    }
    std::vector<int32_t> Sound(const std::string& file) {
        const std::string raw = Tool("ffmpeg", "-v error -i '" + file + "' -f s32le -ac 2 -ar 48000 -");
        std::vector<int32_t> s(raw.size() / 4);
        std::memcpy(s.data(), raw.data(), s.size() * 4);
        return s;
    }

    test::TempDir dir;
    std::string image;
};

TEST_F(CliRenderTest, PlaylistRendersItsClipsInOrderCloseToTheCardsFrames) {
    const std::string out = dir.File("review copy.mp4");
    ASSERT_EQ(test::RunCli("render '" + image + "' playlist 1 '" + out + "'").status, 0);
    EXPECT_EQ(Tool("ffprobe", "-v error -select_streams v:0 -count_frames -show_entries "
                              "stream=nb_read_frames,codec_name,color_space,color_range -of csv=p=0 '" + out + "'"),
              "h264,tv,bt709,5\n");
    std::vector<YCbCrFrame> want;
    std::vector<int32_t> sound;
    CardFrames(want, sound);
    const std::string got = Pictures(out);
    const size_t frameBytes = 1920 * 1080 * 3 / 2;
    ASSERT_EQ(got.size(), 5 * frameBytes);
    for (size_t n = 0; n < 5; ++n) {
        std::vector<uint8_t> planes = want[n].y;
        planes.insert(planes.end(), want[n].cb.begin(), want[n].cb.end());
        planes.insert(planes.end(), want[n].cr.begin(), want[n].cr.end());
        EXPECT_GE(Psnr(planes, reinterpret_cast<const uint8_t*>(got.data()) + n * frameBytes, frameBytes), 40.0) << n;
    }
    // AAC keeps the tones: the same energy and a correlation near 1 where
    // both have sound (its coding delay is trimmed by the container).
    const std::vector<int32_t> heard = Sound(out);
    ASSERT_GE(heard.size(), sound.size() - 4096);
    double dot = 0, e1 = 0, e2 = 0;
    for (size_t i = 2048; i + 2048 < sound.size() && i < heard.size(); ++i) {
        dot += double(sound[i]) * double(heard[i]);
        e1 += double(sound[i]) * double(sound[i]);
        e2 += double(heard[i]) * double(heard[i]);
    }
    EXPECT_GT(dot / std::sqrt(e1 * e2), 0.99);
    EXPECT_NEAR(e2 / e1, 1.0, 0.05);
}

TEST_F(CliRenderTest, ProResKeepsTheSoundExactlyAndRefusesTheCard) {
    const std::string out = dir.File("copy.mov");
    ASSERT_EQ(test::RunCli("render '" + image + "' playlist 1 '" + out + "' --prores").status, 0);
    EXPECT_EQ(Tool("ffprobe", "-v error -select_streams v:0 -count_frames -show_entries "
                              "stream=nb_read_frames,codec_name,profile -of csv=p=0 '" + out + "'"),
              "prores,HQ,5\n");
    std::vector<YCbCrFrame> want;
    std::vector<int32_t> sound;
    CardFrames(want, sound);
    EXPECT_EQ(Sound(out), sound);
    // A video by its list number; the card itself is never an output.
    EXPECT_EQ(test::RunCli("--yes render '" + image + "' video 2 '" + image + "'").status, 1);
    EXPECT_EQ(test::RunCli("render '" + image + "' video 3 '" + dir.File("x.mp4") + "'").status, 1);
    EXPECT_EQ(test::RunCli("render '" + image + "' logo 9 '" + dir.File("x.mp4") + "'").status, 2);
    EXPECT_EQ(test::RunCli("render '" + image + "' logo 1 '" + dir.File("x.mp4") + "'").status, 1);
    EXPECT_FALSE(test::FileExists(dir.File("x.mp4")));
}

TEST_F(CliRenderTest, LogoKeepsItsAlphaInProResAndGoesOverBlackInMp4) {
    {
        CSDCard card;
        ASSERT_TRUE(test::OpenCard(card, image));
        const auto slot = test::LogoSlot(0);
        const uint32_t at = uint32_t(card.FirstItemCluster() + 1200);
        ASSERT_TRUE(card.WriteClusters(at, slot.data(), 33));
        ItemEntry e;
        e.kind = CardItem::kLogo;
        e.index = 0;
        e.head = EntryHead{at, 1, 33};
        ASSERT_TRUE(card.CommitItem(e, nullptr));
    }
    const std::string mov = dir.File("logo.mov"), mp4 = dir.File("logo.mp4");
    ASSERT_EQ(test::RunCli("render '" + image + "' logo 1 '" + mov + "' --prores").status, 0);
    const std::string fmt = Tool("ffprobe", "-v error -show_entries stream=pix_fmt,width,height -of csv=p=0 '" + mov + "'");
    EXPECT_EQ(fmt.substr(0, 13), "960,540,yuva4") << fmt;
    ASSERT_EQ(test::RunCli("render '" + image + "' logo 1 '" + mp4 + "'").status, 0);
    const std::string got = Pictures(mp4);
    ASSERT_EQ(got.size(), 960u * 540 * 3 / 2);
    EXPECT_NEAR(uint8_t(got[10 * 960 + 10]), 16, 2);      // outside the disc: black
    EXPECT_GT(uint8_t(got[270 * 960 + 480]), 100);        // the disc's colour
}

TEST_F(CliRenderTest, StopLeavesAShorterFileAndNoToolOrFolderAndDamagedFramesGoOutBlack) {
    CScriptedOperator op;
    CSDCard card(&op);
    ASSERT_TRUE(test::OpenCard(card, image));
    // Frame 1 of video 1 (the playlist's frame 3) claims the other size class.
    std::vector<uint8_t> cluster(kClusterSize);
    const uint32_t at = card.Directory().Video(0).startCluster + 33 + 1;
    ASSERT_TRUE(card.ReadCluster(at, cluster.data()));
    cluster[4] = 2;
    ASSERT_TRUE(card.WriteCluster(at, cluster.data()));

    // The sound pass pumps once a frame (5), then each picture once: Stop
    // comes before the fourth picture.
    op.stopAtPump = 9;
    RenderOptions options;
    options.outputPath = dir.File("part.mp4");
    RenderOutcome r = RenderItem(op, card, {PlayKind::kPlaylist, 0}, options);
    EXPECT_EQ(r.result, OpResult::kStopped);
    EXPECT_EQ(r.frames, 3);
    EXPECT_EQ(op.TextsWithIcon(kIconWarning), std::vector<std::string>{"Operation aborted."});
    EXPECT_EQ(Tool("ffprobe", "-v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames "
                              "-of csv=p=0 '" +
                                  options.outputPath + "'"),
              "3\n");
    const std::string mine = "reelkeep-" + std::to_string(::getpid()) + "-";
    for (const auto& e : std::filesystem::directory_iterator(TempFolder()))
        EXPECT_NE(e.path().filename().string().rfind(mine, 0), 0u) << e.path();

    op = CScriptedOperator();
    options.outputPath = dir.File("whole.mp4");
    r = RenderItem(op, card, {PlayKind::kPlaylist, 0}, options);
    EXPECT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(r.frames, 5);
    EXPECT_EQ(r.damaged, 1);
    ASSERT_EQ(op.TextsWithIcon(kIconWarning), std::vector<std::string>{"1 damaged frame rendered black"});
    for (const Message& m : op.messages) {
        if (m.icon == kIconWarning) {
            EXPECT_EQ(m.detail, "video 1 'a': frame 1 has a damaged frame header");
        }
    }
    const std::string got = Pictures(options.outputPath);
    ASSERT_EQ(got.size(), 5u * 1920 * 1080 * 3 / 2);
    EXPECT_NEAR(uint8_t(got[3 * 1920 * 1080 * 3 / 2 + 540 * 1920 + 960]), 16, 2);
}

}  // namespace
}  // namespace rk

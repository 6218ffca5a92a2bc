// End to end with the real tools: an H.264 source with sound imported onto
// a card image, read back as KAVQ1 and as ProRes, and added again.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "card/card_directory.h"
#include "codec/kavq1_slot.h"
#include "convert/tool_folder.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kCpf = 33;

std::string RunCommand(const std::string& cmd) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

class VideoEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are not beside the test programs";
        image = dir.File("card.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 64, 0));
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image));
        // 0.4 s at 25 frames per second with a tone: 20 frames at the card's 50.
        source = dir.File("source clip.mp4");
        std::string cmd = "'" + ProgramFile(kToolFfmpeg) +
                          "' -v error -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i sine=frequency=440 "
                          "-t 0.4 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest -y '" + source + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::vector<uint8_t> CardSlots(int v) {
        EntryHead h = card.Directory().Video(v);
        return test::ReadImageClusters(image, h.startCluster, h.FrameClusters());
    }
    std::string Probe(const std::string& file, const std::string& entries) {
        return RunCommand("'" + ProgramFile(kToolFfprobe) + "' -v error -show_entries " + entries + " -of default=nw=1 '" +
                   file + "'");
    }

    test::TempDir dir;
    std::string image, source;
    CScriptedOperator op;
    CSDCard card;
};

TEST_F(VideoEndToEnd, ImportReadBackAndAddAgain) {
    ImportOptions options;
    options.deinterlace = false;
    AddVideoOutcome r = AddVideoFromPath(op, card, 0, source, options);
    ASSERT_EQ(r.result, OpResult::kDone) << (op.messages.empty() ? "" : op.messages.back().text);
    ASSERT_GT(r.framesWritten, 15);
    EXPECT_EQ(r.framesWritten, r.frameCount);
    EXPECT_EQ(card.Directory().VideoNameUtf8(0), "source clip");
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Write completed."});
    const EntryHead h = card.Directory().Video(0);
    const int n = h.numFrames;

    // Every slot carries its frame and its share of the tone.
    auto slots = CardSlots(0);
    int withSound = 0;
    for (int f = 0; f < n; ++f) {
        const uint8_t* slot = slots.data() + size_t(f) * kCpf * kClusterSize;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot + kClusterSize), 4), "KVQ1") << f;
        EXPECT_EQ(AudioChunkBytes(slot), 5760) << f;
        bool loud = false;
        for (int i = 32; i < 32 + 5760 && !loud; ++i) loud = slot[i] != 0;
        withSound += loud;
    }
    EXPECT_GE(withSound, n - 2);

    // The thumbnail is the one made from frame n / 2.
    EXPECT_TRUE(r.thumbnailFromFrame);
    CThumbnailMaker maker(1);
    std::vector<uint8_t> want(kThumbBlockBytes);
    ASSERT_TRUE(maker.Make(slots.data() + size_t(n / 2) * kCpf * kClusterSize, kCpf, want.data()));
    EXPECT_EQ(test::ReadImageClusters(image, h.ThumbnailCluster(), 2), want);
    EXPECT_EQ(test::CheckCardConsistent(image), "");

    // Back as KAVQ1: the card's slots, byte for byte.
    std::string kavq1 = dir.File("back.kavq1");
    ASSERT_EQ(ReadVideoToFile(op, card, 0, kavq1).result, OpResult::kDone);
    EXPECT_EQ(test::ReadFileBytes(kavq1), slots);

    // Back as ProRes: complete when "Read completed." is shown.
    std::string mov = dir.File("back.MOV");
    op.messages.clear();
    ASSERT_EQ(ReadVideoToFile(op, card, 0, mov).result, OpResult::kDone);
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Read completed."});
    std::string video = Probe(mov, "stream=codec_name,width,height,nb_frames -select_streams v:0");
    EXPECT_NE(video.find("codec_name=prores"), std::string::npos) << video;
    EXPECT_NE(video.find("width=1920"), std::string::npos) << video;
    EXPECT_NE(video.find("height=1080"), std::string::npos) << video;
    EXPECT_NE(video.find("nb_frames=" + std::to_string(n)), std::string::npos) << video;
    std::string audio = Probe(mov, "stream=codec_name,sample_rate,channels -select_streams a:0");
    EXPECT_NE(audio.find("codec_name=pcm_s24le"), std::string::npos) << audio;
    EXPECT_NE(audio.find("sample_rate=48000"), std::string::npos) << audio;
    EXPECT_NE(audio.find("channels=2"), std::string::npos) << audio;

    // Added again from the KAVQ1 file: the same frames, frame for frame.
    AddVideoOutcome again = AddVideoFromPath(op, card, 1, kavq1, {});
    ASSERT_EQ(again.result, OpResult::kDone);
    EXPECT_EQ(CardSlots(1), slots);
    EXPECT_EQ(test::ReadImageClusters(image, card.Directory().Video(1).ThumbnailCluster(), 2), want);
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(VideoEndToEnd, StopDuringTheSoundPassPushesNoFrame) {
    std::string src = dir.File("a.kavq1");
    ASSERT_TRUE(test::WriteEncodedKAVQ1(src, 3));
    ASSERT_EQ(AddVideoFromPath(op, card, 0, src, {}).result, OpResult::kDone);
    op = CScriptedOperator();
    op.stopAtPump = 1;
    ReadVideoOutcome r = ReadVideoToFile(op, card, 0, dir.File("stopped.mov"));
    EXPECT_EQ(r.result, OpResult::kStopped);
    EXPECT_EQ(r.framesRead, 0);
    EXPECT_EQ(op.TextsWithIcon(kIconWarning), std::vector<std::string>{"Operation aborted."});
}

TEST_F(VideoEndToEnd, StoppedImportKeepsACompleteShorterVideo) {
    op.stopAtPump = 6;  // after three frames
    op.answers = {kResultYes, kResultYes};
    AddVideoOutcome r = AddVideoFromPath(op, card, 0, source, {});
    EXPECT_EQ(r.result, OpResult::kKeptPartial);
    EXPECT_EQ(r.framesWritten, 3);
    EXPECT_EQ(card.Directory().Video(0).numFrames, 3);
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

}  // namespace
}  // namespace rk

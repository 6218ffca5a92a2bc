// Stills and title cards with the real tools: ffmpeg, ImageMagick and the
// import encoder. The pictures are decoded back from the card and compared
// region by region with the frames they were made from.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "card/card_directory.h"
#include "card/video_modes.h"
#include "convert/app_launch.h"
#include "convert/kavq1_file_encoder.h"
#include "convert/pipe_folder.h"
#include "convert/tool_folder.h"
#include "media/frame_picture.h"
#include "media/playlist_ops.h"
#include "media/still_ops.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

struct Rgb {
    std::vector<uint8_t> px;
    int w = 0, h = 0;
};

// Mean absolute difference of two pictures over [x0, x1) x [y0, y1).
double MeanDiff(const Rgb& a, const Rgb& b, int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c) {
                size_t i = (size_t(y) * a.w + x) * 3 + c;
                sum += std::abs(int(a.px[i]) - int(b.px[i]));
            }
    return sum / (double(x1 - x0) * (y1 - y0) * 3);
}

// How many entries the system's temporary folder has that we made.
int WorkFolders() {
    int n = 0;
    if (DIR* d = opendir(TempFolder().c_str())) {
        while (dirent* e = readdir(d))
            if (std::strncmp(e->d_name, "reelkeep-", 9) == 0) ++n;
        closedir(d);
    }
    return n;
}

class CatalogueEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
        // A private temporary folder: the working folders made here are counted.
        setenv("TMPDIR", dir.Path().c_str(), 1);
    }
    void TearDown() override { unsetenv("TMPDIR"); }
    void Open(int mode, uint64_t mib) {
        image = dir.File("card" + std::to_string(mode) + ".img");
        ASSERT_TRUE(test::MakeFormattedImage(image, mib, mode));
        card.Close();
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image));
    }
    std::string Picture(const std::string& size) {
        std::string path = dir.File("pic" + size + ".png");
        std::string cmd = "'" + ProgramFile("ffmpeg") + "' -v error -f lavfi -i smptebars=size=" + size +
                          " -frames:v 1 -y '" + path + "' </dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return path;
    }
    Rgb SlotPicture(uint32_t cluster) {
        Rgb r;
        const int cpf = card.ClustersPerFrame();
        std::vector<uint8_t> slot(size_t(cpf) * kClusterSize);
        EXPECT_TRUE(card.ReadClusters(cluster, slot.data(), cpf));
        EXPECT_TRUE(DecodeSlotToRGB(slot.data(), cpf, cpf == 33 ? 1 : 2, r.px, r.w, r.h));
        return r;
    }
    Rgb Title(int p) { return SlotPicture(card.Regions().TitleCluster(p)); }
    Rgb Frame(int v, int f) {
        EntryHead h = card.Directory().Video(v);
        return SlotPicture(h.startCluster + uint32_t(f) * h.clustersPerFrame);
    }
    int AddEncoded(int frames) {
        std::string path = dir.File("v" + std::to_string(frames) + ".kavq1");
        EXPECT_TRUE(test::WriteEncodedKAVQ1(path, frames));
        return AddVideoFromPath(op, card, LowestFreeVideoSlot(card.Directory()), path, ImportOptions{}).slot;
    }

    test::TempDir dir;
    std::string image;
    CScriptedOperator op;
    CSDCard card;
};

TEST_F(CatalogueEndToEnd, StillsLieAtTheirFixedPlacesAndReadBackFullSize) {
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        Open(mode, mode == 0 ? 40 : 80);
        const int cpf = card.ClustersPerFrame();
        // Stills 0 and 2 used: the add fills slot 1.
        for (int s : {0, 2}) card.Directory().SetStill(s, EntryHead{card.Regions().StillCluster(s), 1, uint16_t(cpf)});
        ASSERT_TRUE(card.WriteDirectory());
        const std::string pic = Picture(mode == 0 ? "1920x1080" : "3840x2160");
        OpOutcome r = AddStillFromPath(op, card, LowestFreeStillSlot(card.Directory()), pic, ImportOptions{});
        ASSERT_EQ(r.result, OpResult::kDone);
        EXPECT_EQ(r.slot, 1);
        const EntryHead h = card.Directory().Still(1);
        EXPECT_EQ(h.startCluster, uint32_t(3 + 16 * cpf + 1 * (cpf + 2)));
        EXPECT_EQ(h.numFrames, 1);
        EXPECT_EQ(h.clustersPerFrame, cpf);

        op.messages.clear();
        const std::string out = dir.File("back.png");
        ASSERT_EQ(ReadStillToFile(op, card, 1, out).result, OpResult::kDone);
        EXPECT_TRUE(op.Showed("Read completed."));
        auto png = test::ReadFileBytes(out);
        ASSERT_GT(png.size(), 24u);
        const int w = (png[18] << 8) | png[19], hgt = (png[22] << 8) | png[23];
        EXPECT_EQ(w, mode == 0 ? 1920 : 3840);
        EXPECT_EQ(hgt, mode == 0 ? 1080 : 2160);

        // A read back that cannot write its picture says so.
        op.messages.clear();
        EXPECT_EQ(ReadStillToFile(op, card, 1, dir.File("no/such/folder.png")).result, OpResult::kFailed);
        EXPECT_TRUE(op.Showed("Error writing file!"));
        // A picture the encoder cannot open.
        op.messages.clear();
        EXPECT_EQ(AddStillFromPath(op, card, 3, dir.File("missing.png"), ImportOptions{}).result, OpResult::kFailed);
        EXPECT_TRUE(op.Showed("Error opening image file!"));
        EXPECT_FALSE(card.Directory().Still(3).Used());
    }
    EXPECT_EQ(WorkFolders(), 0);
}

TEST_F(CatalogueEndToEnd, TitleCardDrawsBandNumberDurationAndTheLoopMarkOnlyWhenRepeating) {
    Open(0, 40);
    const int nine = AddEncoded(9), one = AddEncoded(1);
    ASSERT_GE(one, 0);
    PlaylistEdit e = AddClip(op, card, 0, nine);
    ASSERT_TRUE(e.done && e.written);
    ASSERT_EQ(e.titleCardFailures, 0);
    const Rgb stop = Title(0);
    // The source frame is the middle one: frame 4 of 9.
    const double d4 = MeanDiff(stop, Frame(nine, 4), 0, 300, 180, 800);
    EXPECT_LT(d4, MeanDiff(stop, Frame(nine, 3), 0, 300, 180, 800));
    EXPECT_LT(d4, MeanDiff(stop, Frame(nine, 5), 0, 300, 180, 800));
    EXPECT_LT(d4, 14.0);  // the card's range conversion shifts the levels a little
    // The band (with the duration) and the number square differ from the frame.
    EXPECT_GT(MeanDiff(stop, Frame(nine, 4), 200, 840, 1720, 1060), 15.0);
    EXPECT_GT(MeanDiff(stop, Frame(nine, 4), 200, 20, 420, 220), 15.0);

    ASSERT_TRUE(SetEndMode(op, card, 0, true).done);
    const Rgb repeat = Title(0);
    EXPECT_GT(MeanDiff(repeat, stop, 1578, 944, 1660, 1030), 10.0);  // the loop mark
    EXPECT_LT(MeanDiff(repeat, stop, 0, 0, 1500, 1080), 2.0);        // nothing else

    // One frame: frame 0 is the source.
    AddClip(op, card, 1, one);
    EXPECT_LT(MeanDiff(Title(1), Frame(one, 0), 0, 300, 180, 800), 14.0);
    EXPECT_EQ(WorkFolders(), 0);
}

// The title card as the tools' own steps make it: the frame to 1.png by
// ffmpeg, ImageMagick drawing over it into 2.png at zlib level 1, and the
// import encoder probing that picture like any other. The card's title card
// must be this slot byte for byte, whatever road it took.
std::vector<uint8_t> ToolStepsTitleCard(CSDCard& card, int p) {
    const CardDirectory& d = card.Directory();
    const EntryHead head = d.Video(d.Clip(p, 0));
    const VideoMode& mode = VideoModeAt(card.VideoMode());
    const int cpf = card.ClustersPerFrame();
    std::vector<uint8_t> slot(size_t(cpf) * kClusterSize);
    const uint32_t at = head.startCluster + uint32_t(head.clustersPerFrame) * TitleCardSourceFrame(head.numFrames);
    if (!card.ReadClusters(at, slot.data(), head.clustersPerFrame)) return {};
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (!DecodeSlotToRGB(slot.data(), head.clustersPerFrame, mode.sizeClass, rgb, w, h)) return {};
    CPipeFolder folder;
    if (!folder.Create()) return {};
    if (!RawToPictureFile(folder, rgb, w, h, folder.AddFile("1.png"), {"-compression_level", "1"})) return {};
    if (!folder.Link(kLoopPicture, ProgramFile(kLoopPicture)) || !folder.Link(kTitleFont, ProgramFile(kTitleFont)))
        return {};
    std::vector<std::string> words;
    if (!TitleCardWords(w == 1920, PlaylistDurationText(d, p, card.DisplayRate()), p + 1, d.Loops(p), "1.png", 1,
                        "2.png", words))
        return {};
    const std::string out = folder.AddFile("2.png");
    {
        CAppLaunch convert(kToolImgConvert, words, false, folder.Path());
        if (!convert.started || !convert.Wait(-1)) return {};
    }
    KAVQ1FileEncoder encoder(out, mode.sizeClass, (cpf - 1) * int(kSectorsPerCluster), mode.frameRate, true, false);
    if (!encoder.IsOpened()) return {};
    std::fill(slot.begin(), slot.end(), 0);
    if (!encoder.GetNextFrame(slot.data())) return {};
    return slot;
}

TEST_F(CatalogueEndToEnd, TitleCardIsByteForByteWhatTheToolStepsMake) {
    // ImageMagick writes a grey, a palette or an RGBA PNG as the picture
    // allows, and ffmpeg converts each of them its own way: gradients, colour
    // bars, a black and a flat red clip, stopping and repeating, on both
    // sizes.
    // The gradients' colours are ffmpeg's random choice, and close colours
    // leave too few for the bare RGBA road: either road may be taken there,
    // and the bytes must be equal whichever it is.
    enum Road { kPng, kRgba, kEither };
    struct Case {
        int mode;
        const char* source;
        Road road;
    };
    for (const Case c : {Case{0, "gradients", kEither}, Case{0, "smptebars", kPng}, Case{0, "color=black", kPng},
                         Case{0, "color=red", kPng}, Case{1, "testsrc2", kRgba}}) {
        SCOPED_TRACE(std::string(c.source) + " mode " + std::to_string(c.mode));
        card.Close();
        std::filesystem::remove(dir.File("card" + std::to_string(c.mode) + ".img"));
        Open(c.mode, c.mode == 0 ? 40 : 80);
        const std::string size = c.mode == 0 ? "1920x1080" : "3840x2160";
        const std::string pic = dir.File("clip.png");
        const std::string cmd = "'" + ProgramFile("ffmpeg") + "' -v error -f lavfi -i " + c.source +
                                (std::strchr(c.source, '=') ? ":size=" : "=size=") + size +
                                " -frames:v 1 -y '" + pic + "' </dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const int v = AddVideoFromPath(op, card, 0, pic, ImportOptions{}).slot;
        ASSERT_EQ(v, 0);
        const int cpf = card.ClustersPerFrame();
        for (bool repeat : {false, true}) {
            SCOPED_TRACE(repeat ? "repeat" : "stop");
            PlaylistEdit e = repeat ? SetEndMode(op, card, 0, true) : AddClip(op, card, 0, v);
            ASSERT_TRUE(e.done && e.written);
            ASSERT_EQ(e.titleCardFailures, 0);
            std::vector<uint8_t> onCard(size_t(cpf) * kClusterSize);
            ASSERT_TRUE(card.ReadClusters(card.Regions().TitleCluster(0), onCard.data(), cpf));
            const std::vector<uint8_t> steps = ToolStepsTitleCard(card, 0);
            // Gradients and testsrc2 take the bare RGBA road; the bars (few colours
            // away from the drawing, an RGBA PNG all the same) and the flat
            // clips keep the PNG.
            Rgb frame = Frame(v, 0);
            if (c.road != kEither) { EXPECT_EQ(TitleCardBecomesRgba(frame.px, frame.w, frame.h), c.road == kRgba); }
            ASSERT_EQ(steps.size(), onCard.size());
            EXPECT_TRUE(steps == onCard);
            if (c.mode == 1) break;  // one 4K case is enough for the time it takes
        }
    }
    EXPECT_EQ(WorkFolders(), 0);
}

TEST_F(CatalogueEndToEnd, SwappingPlaylistsOneAndFiveRedrawsBothTitleCards) {
    Open(0, 40);
    const int v = AddEncoded(1);
    AddClip(op, card, 0, v);
    AddClip(op, card, 4, v);
    AddClip(op, card, 4, v);
    const Rgb one = Title(0), five = Title(4);
    // Same frame, other number: the squares differ.
    EXPECT_GT(MeanDiff(one, five, 200, 20, 420, 220), 5.0);
    PlaylistEdit e = SwapPlaylists(op, card, 0, 4);
    ASSERT_TRUE(e.done && e.written);
    EXPECT_EQ(e.titleCardFailures, 0);
    const Rgb newOne = Title(0), newFive = Title(4);
    // The numbers stay with the positions, the durations move with the records.
    EXPECT_LT(MeanDiff(newOne, one, 200, 20, 420, 220), 1.0);
    EXPECT_LT(MeanDiff(newFive, five, 200, 20, 420, 220), 1.0);
    EXPECT_LT(MeanDiff(newOne, five, 200, 840, 1720, 1060), 1.0);
    EXPECT_LT(MeanDiff(newFive, one, 200, 840, 1720, 1060), 1.0);
    EXPECT_GT(MeanDiff(newOne, one, 200, 840, 1720, 1060), 2.0);
}

TEST_F(CatalogueEndToEnd, StillAddInterruptedAtEveryWriteLeavesNoEntryOnAHalfPicture) {
    Open(0, 40);
    card.Close();
    const std::string pristine = dir.File("pristine.img");
    std::filesystem::copy_file(image, pristine);
    const std::string pic = Picture("1920x1080");
    int crashes = 0;
    for (uint64_t n = 1; n < 50; ++n) {
        std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
        CFaultDevice* fault = nullptr;
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image, &fault));
        fault->crashAtEvent = n;
        AddStillFromPath(op, card, 0, pic, ImportOptions{});
        const bool crashed = fault->crashed;
        card.Close();
        ASSERT_TRUE(test::OpenCard(card, image));
        if (card.Directory().Still(0).Used()) {
            // The entry is there only with its whole picture and thumbnail.
            std::vector<uint8_t> slot(33 * size_t(kClusterSize));
            ASSERT_TRUE(card.ReadClusters(card.Regions().StillCluster(0), slot.data(), 33));
            Rgb r;
            EXPECT_TRUE(DecodeSlotToRGB(slot.data(), 33, 1, r.px, r.w, r.h)) << n;
        }
        if (!crashed) {
            EXPECT_TRUE(card.Directory().Still(0).Used());
            break;
        }
        ++crashes;
        card.Close();
    }
    EXPECT_GE(crashes, 4);
}

}  // namespace
}  // namespace rk

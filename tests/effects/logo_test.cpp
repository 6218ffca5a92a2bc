// Logos: the .animlogo header, the picture sequence, adding from pictures
// with the real tools (frame layout, speeds, thumbnail, equality with the
// three tool steps and the import encoder), files read back and added
// again on both card sizes, failing tools and interrupted writes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <cstring>
#include <string>
#include <vector>

#include "card/card_directory.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"
#include "convert/kavq1_file_encoder.h"
#include "convert/tool_folder.h"
#include "effects/logo_file.h"
#include "effects/logo_ops.h"
#include "effects/logo_sequence.h"
#include "effects/logo_source.h"
#include "media/picture.h"
#include "media/thumbnail.h"
#include "media/media_fixture.h"
#include "ui/scripted_operator.h"
#include "support/cli_run.h"
#include "support/picture_files.h"

namespace rk {
namespace {

constexpr int kHdMode = 0;   // 1920 x 1080, 33 Clusters a frame
constexpr int k4kMode = 1;   // 3840 x 2160, 65 Clusters a frame
constexpr size_t kSlot33 = 33 * size_t(kClusterSize);

// ---- The header and the sequence: no tools needed ----

TEST(AnimLogoHeader, ReadsWhatItWritesAndRefusesDamage) {
    EntryHead h;
    h.numFrames = 7;
    h.clustersPerFrame = 65;
    std::vector<uint8_t> bytes = MakeAnimLogoHeader(h);
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ANML");
    EXPECT_EQ(bytes[4] | bytes[5] << 8, 1920);
    EXPECT_EQ(bytes[6] | bytes[7] << 8, 1080);
    for (size_t i = 12; i < 32; ++i) EXPECT_EQ(bytes[i], 0) << i;
    AnimLogoHeader got;
    ASSERT_EQ(ParseAnimLogoHeader(bytes.data(), bytes.size(), got), AnimLogoCheck::kOk);
    EXPECT_EQ(got.numFrames, 7);
    EXPECT_EQ(got.clustersPerFrame, 65);
    EXPECT_EQ(CheckAnimLogoHeader(got, 65), AnimLogoCheck::kOk);
    // An HD file on a 4K card and the other way round.
    EXPECT_EQ(CheckAnimLogoHeader(got, 33), AnimLogoCheck::kUnsupported);
    EXPECT_EQ(AnimLogoFileBytes(got), 32u + (7u * 65 + 2) * kClusterSize);

    // Short, another magic, no frames: invalid. Another size: unsupported.
    EXPECT_EQ(ParseAnimLogoHeader(bytes.data(), 31, got), AnimLogoCheck::kInvalid);
    EXPECT_EQ(ParseAnimLogoHeader(nullptr, 0, got), AnimLogoCheck::kInvalid);
    std::vector<uint8_t> bad = bytes;
    bad[0] = 'S';
    EXPECT_EQ(ParseAnimLogoHeader(bad.data(), bad.size(), got), AnimLogoCheck::kInvalid);
    bad = bytes;
    bad[8] = bad[9] = 0;
    EXPECT_EQ(ParseAnimLogoHeader(bad.data(), bad.size(), got), AnimLogoCheck::kInvalid);
    for (int at : {4, 6}) {
        bad = bytes;
        bad[size_t(at)] ^= 1;
        ASSERT_EQ(ParseAnimLogoHeader(bad.data(), bad.size(), got), AnimLogoCheck::kOk);
        EXPECT_EQ(CheckAnimLogoHeader(got, 65), AnimLogoCheck::kUnsupported) << at;
    }
}

TEST(LogoSequence, RunsFromTheChosenNumberToTheFirstGap) {
    test::TempDir dir;
    auto Touch = [&](const std::string& name) { ASSERT_TRUE(test::WriteFile(dir.File(name), "x")); };
    for (const char* n : {"logo.png", "a_0008.png", "a_0009.png", "a_0010.png", "a_0012.png", "b9.png", "b10.png"}) Touch(n);
    ASSERT_EQ(::mkdir(dir.File("set 2024").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.File("set 2025").c_str(), 0700), 0);
    Touch("set 2024/still.png");
    Touch("set 2025/still.png");

    LogoPictures one = FindLogoPictures(dir.File("logo.png"), 1000);
    EXPECT_FALSE(one.numbered);
    EXPECT_EQ(one.paths, std::vector<std::string>{dir.File("logo.png")});

    LogoPictures run = FindLogoPictures(dir.File("a_0008.png"), 1000);
    EXPECT_TRUE(run.numbered);
    EXPECT_EQ(run.paths, (std::vector<std::string>{dir.File("a_0008.png"), dir.File("a_0009.png"), dir.File("a_0010.png")}));
    EXPECT_EQ(run.width, 4);
    EXPECT_EQ(run.first, 8);
    EXPECT_EQ(FindLogoPictures(dir.File("a_0008.png"), 2).paths.size(), 2u);
    // At least the chosen number's digits: 9 is followed by 10.
    EXPECT_EQ(FindLogoPictures(dir.File("b9.png"), 1000).paths.size(), 2u);
    // Digits of a folder never make a sequence.
    LogoPictures folder = FindLogoPictures(dir.File("set 2024/still.png"), 1000);
    EXPECT_FALSE(folder.numbered);
    EXPECT_EQ(folder.paths.size(), 1u);
    EXPECT_EQ(EscapePercent("50%_%d"), "50%%_%%d");
}

// ---- With the real tools ----

class LogoTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder("");
        if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg and img_convert are needed";
    }
    void TearDown() override {
        card.Close();
        SetProgramFolder("");
    }
    void MakeCard(int mode, uint64_t mib = 64) {
        image = dir.File(mode == kHdMode ? "hd.img" : "uhd.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, mib, mode));
        Open();
    }
    void Open(bool withFault = false) {
        card.Close();
        card.SetOperator(&op);
        ASSERT_TRUE(test::OpenCard(card, image, withFault ? &fault : nullptr));
    }
    // ImageMagick from the program folder makes the test pictures.
    void Magick(const std::string& args) {
        const std::string cmd = "'" + ProgramFile(kToolImgConvert) + "' " + args + " 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    std::string Solid(const std::string& name, const std::string& colour, int w = 300, int h = 200) {
        std::string p = dir.File(name);
        Magick("-size " + std::to_string(w) + "x" + std::to_string(h) + " xc:'" + colour + "' PNG32:'" + p + "'");
        return p;
    }
    AddLogoOutcome Add(const std::string& path, int speed = 0, bool limited = false) {
        op.optionAnswers.clear();
        op.optionAnswers.push_back(speed);
        LogoOptions o;
        o.limitedRange = limited;
        return AddLogoFromPath(op, card, LowestFreeLogoSlot(card.Directory()), path, o);
    }
    std::vector<uint8_t> Slot(int logo, int frame) {
        EntryHead h = card.Directory().Logo(logo);
        return test::ReadImageClusters(image, h.startCluster + uint64_t(frame) * h.clustersPerFrame, 33);
    }
    // The frame decoded: luma 1920 x 1088, then Cb and Cr.
    std::vector<uint8_t> Decode(const std::vector<uint8_t>& slot) {
        std::vector<uint8_t> planes(1920 * 1088 * 3);
        KVQ1Decoder d;
        EXPECT_TRUE(d.Decode(slot.data() + kClusterSize, slot.size() - kClusterSize, planes.data(),
                             planes.data() + 1920 * 1088, planes.data() + 1920 * 1088 * 2));
        return planes;
    }
    static int Luma(const std::vector<uint8_t>& p, int x, int y) { return p[size_t(y) * 1920 + size_t(x)]; }

    test::TempDir dir;
    std::string image;
    CScriptedOperator op;
    CSDCard card;
    CFaultDevice* fault = nullptr;
};

// Slot bytes apart from the two frame indexes.
std::vector<uint8_t> WithoutIndex(std::vector<uint8_t> s) {
    std::memset(s.data() + 8, 0, 4);
    std::memset(s.data() + kClusterSize + 8, 0, 4);
    return s;
}

TEST_F(LogoTest, SlowSpeedsRepeatEachPictureWithRunningFrameIndexes) {
    MakeCard(kHdMode);
    // One picture without digits, "Slow x3": three identical frames 0, 1, 2.
    AddLogoOutcome r = Add(Solid("logo.png", "rgba(200,40,40,1)"), 2);
    ASSERT_EQ(r.result, OpResult::kDone);
    ASSERT_EQ(op.optionChoices.size(), 1u);
    EXPECT_EQ(op.optionChoices[0].title, "Write logo?");
    EXPECT_EQ(op.optionChoices[0].options,
              (std::vector<std::string>{"Normal (50 fps)", "Slow x2", "Slow x3", "Slow x4", "Slow x5"}));
    EntryHead h = card.Directory().Logo(0);
    EXPECT_EQ(h.numFrames, 3);
    EXPECT_EQ(h.clustersPerFrame, 33);
    for (int f = 0; f < 3; ++f) {
        auto s = Slot(0, f);
        EXPECT_EQ(ReadBE32(s.data() + 8), uint32_t(f));
        EXPECT_EQ(ReadBE32(s.data() + kClusterSize + 8), uint32_t(f));
        EXPECT_EQ(WithoutIndex(s), WithoutIndex(Slot(0, 0))) << f;
    }
    EXPECT_EQ(op.TextsWithIcon(kIconInformation), std::vector<std::string>{"Write completed."});

    // Two pictures, "Slow x2": picture 0 as 0, 1 and picture 1 as 2, 3.
    Solid("two_01.png", "rgba(0,0,255,1)");
    Solid("two_02.png", "rgba(0,255,0,1)");
    r = Add(dir.File("two_01.png"), 1);
    ASSERT_EQ(r.result, OpResult::kDone);
    EXPECT_EQ(r.pictures, 2);
    EXPECT_EQ(card.Directory().Logo(1).numFrames, 4);
    for (int f = 0; f < 4; ++f) EXPECT_EQ(ReadBE32(Slot(1, f).data() + 8), uint32_t(f));
    EXPECT_EQ(WithoutIndex(Slot(1, 0)), WithoutIndex(Slot(1, 1)));
    EXPECT_EQ(WithoutIndex(Slot(1, 2)), WithoutIndex(Slot(1, 3)));
    EXPECT_NE(WithoutIndex(Slot(1, 1)), WithoutIndex(Slot(1, 2)));
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

TEST_F(LogoTest, ThumbnailComesFromPictureHalfWayAndShowsTheColourQuarter) {
    MakeCard(kHdMode);
    const char* colours[] = {"rgba(255,0,0,1)", "rgba(0,255,0,1)", "rgba(0,0,255,1)"};
    for (int i = 0; i < 3; ++i) Solid("t_" + std::to_string(i) + ".png", colours[i], 960, 540);
    // The colour the thumbnail's middle shows for 1, 2 and 3 pictures.
    auto MiddleOf = [&](int logo) {
        std::vector<uint8_t> block = test::ReadImageClusters(image, card.Directory().Logo(logo).ThumbnailCluster(), 2);
        CPicture p;
        EXPECT_TRUE(ThumbnailFromBlock(block.data(), p));
        return p.Pixel(60, 30) & 0xFFFFFF;
    };
    auto Dominant = [](uint32_t bgr) {
        int r = (bgr >> 16) & 255, g = (bgr >> 8) & 255, b = bgr & 255;
        return r > 150 && g < 100 && b < 100 ? 0 : g > 150 && r < 100 && b < 100 ? 1 : b > 150 && r < 100 && g < 100 ? 2 : -1;
    };
    // One picture: picture 0 (a run of one: t_0 then no t_1 yet... so copy aside).
    std::string single = Solid("single.png", colours[0], 960, 540);
    ASSERT_EQ(Add(single).result, OpResult::kDone);
    EXPECT_EQ(Dominant(MiddleOf(0)), 0);
    // Two pictures (u_0, u_1) and three (t_0..t_2): picture 1 both times.
    Solid("u_0.png", colours[0], 960, 540);
    Solid("u_1.png", colours[1], 960, 540);
    ASSERT_EQ(Add(dir.File("u_0.png")).result, OpResult::kDone);
    EXPECT_EQ(Dominant(MiddleOf(1)), 1);
    ASSERT_EQ(Add(dir.File("t_0.png")).result, OpResult::kDone);
    EXPECT_EQ(card.Directory().Logo(2).numFrames, 3);
    EXPECT_EQ(Dominant(MiddleOf(2)), 1);
}

// A run of 100 pictures without number 50: the sequence rule ends at the
// gap, and the picture tool sees those 49 pictures only (it would look past
// a gap in the operator's numbering and stop with an error).
TEST_F(LogoTest, SequenceWithAGapGivesThePicturesBeforeIt) {
    const std::string cmd = "cd '" + dir.Path() + "' && '" + ProgramFile(kToolFfmpeg) +
                            "' -v error -nostdin -f lavfi -i color=c=navy:s=64x36 -frames:v 100 -start_number 1 "
                            "gap_%03d.png </dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_EQ(std::remove(dir.File("gap_050.png").c_str()), 0);
    for (int mode : {kHdMode, k4kMode}) {
        SCOPED_TRACE(mode);
        MakeCard(mode, mode == kHdMode ? 64 : 128);
        const AddLogoOutcome r = Add(dir.File("gap_001.png"));
        ASSERT_EQ(r.result, OpResult::kDone);
        EXPECT_EQ(r.pictures, 49);
        EXPECT_EQ(card.Directory().Logo(0).numFrames, 49);
        card.Close();
        EXPECT_EQ(test::RunCli("check '" + image + "' --frames all").status, 0);
    }
}

TEST_F(LogoTest, SmallPictureSitsTopLeftAndLargeOneIsCut) {
    MakeCard(kHdMode);
    // 200 x 100 opaque white: colour and alpha only in that corner of each quarter.
    ASSERT_EQ(Add(Solid("small.png", "rgba(255,255,255,1)", 200, 100)).result, OpResult::kDone);
    auto p = Decode(Slot(0, 0));
    EXPECT_GT(Luma(p, 100, 50), 230);
    EXPECT_GT(Luma(p, 960 + 100, 50), 230);
    EXPECT_LT(Luma(p, 300, 50), 20);
    EXPECT_LT(Luma(p, 100, 200), 20);
    EXPECT_LT(Luma(p, 960 + 300, 50), 20);
    EXPECT_LT(Luma(p, 960 + 100, 200), 20);
    EXPECT_LT(Luma(p, 500, 800), 20);

    // 1920 x 1080: white top-left 960 x 540, black elsewhere, all opaque: the
    // colour quarter is all white, the alpha quarter all white.
    std::string big = dir.File("big.png");
    Magick("-size 1920x1080 xc:black -fill white -draw 'rectangle 0,0 959,539' PNG32:'" + big + "'");
    ASSERT_EQ(Add(big).result, OpResult::kDone);
    p = Decode(Slot(1, 0));
    for (int y : {0, 270, 535})
        for (int x : {0, 480, 955}) {
            EXPECT_GT(Luma(p, x, y), 230) << x << "," << y;
            EXPECT_GT(Luma(p, 960 + x, y), 230) << x << "," << y;
        }
    EXPECT_LT(Luma(p, 480, 800), 20);
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) se += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    if (se == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / se);
}

// A soft alpha: the frame equals what the three tool steps and the import
// encoder make of the picture, and matches ImageMagick's own colour and
// alpha extraction of it.
TEST_F(LogoTest, SoftAlphaFrameEqualsTheToolStepsAndMatchesImageMagick) {
    MakeCard(kHdMode);
    std::string pic = dir.File("soft.png");
    Magick("-size 700x400 gradient:'rgb(250,120,20)'-'rgb(20,60,230)' \\( -size 700x400 radial-gradient:white-black \\) "
           "-alpha off -compose CopyOpacity -composite PNG32:'" + pic + "'");
    ASSERT_EQ(Add(pic).result, OpResult::kDone);
    std::vector<uint8_t> mine = Slot(0, 0);

    // The three tool steps in a folder of their own, then the import encoder on 3.png.
    test::TempDir work;
    const std::string ff = "cd '" + work.Path() + "' && '" + ProgramFile(kToolFfmpeg) + "' -v quiet -i '" + pic +
                           "' -filter:v \"scale,format=rgba,pad='max(960,iw)':'max(540,ih)':0:0:color=black@0,"
                           "crop=960:540:0:0\" -an -y 1.png";
    ASSERT_EQ(std::system(ff.c_str()), 0);
    Magick("'" + work.File("1.png") + "' -alpha extract '" + work.File("2.png") + "'");
    Magick("-size 1920x1080 canvas:black '" + work.File("1.png") + "' -geometry '960x540+0+0>' -alpha off -composite '" +
           work.File("2.png") + "' -geometry '960x540+960+0>' -composite -depth 8 '" + work.File("3.png") + "'");
    KAVQ1FileEncoder enc(work.File("3.png"), 1, 768, 50, false, false);
    ASSERT_TRUE(enc.IsOpened());
    std::vector<uint8_t> theirs(size_t(enc.SlotBytes()), 0);
    ASSERT_TRUE(enc.GetNextFrame(theirs.data()));
    theirs.resize(kSlot33, 0);
    // 3.png is a truecolour picture here: the same samples reach the same
    // encoder, so the frames agree byte for byte.
    EXPECT_EQ(WithoutIndex(mine), WithoutIndex(theirs));

    // Against ImageMagick's colour (alpha dropped) and alpha of the picture.
    Magick("'" + pic + "' -alpha off -background black -extent 960x540 -colorspace gray -depth 8 gray:'" +
           work.File("colour.y") + "'");
    Magick("'" + pic + "' -alpha extract -background black -extent 960x540 -depth 8 gray:'" + work.File("alpha.y") + "'");
    auto colour = test::ReadFileBytes(work.File("colour.y"));
    auto alpha = test::ReadFileBytes(work.File("alpha.y"));
    ASSERT_EQ(colour.size(), 960u * 540);
    ASSERT_EQ(alpha.size(), 960u * 540);
    auto p = Decode(mine);
    std::vector<uint8_t> left(960 * 540), right(960 * 540);
    for (int y = 0; y < 540; ++y)
        for (int x = 0; x < 960; ++x) {
            left[size_t(y) * 960 + x] = uint8_t(Luma(p, x, y));
            right[size_t(y) * 960 + x] = uint8_t(Luma(p, 960 + x, y));
        }
    EXPECT_GE(Psnr(right, alpha), 35.0);
    // Luma against ImageMagick's grey: both weigh the colour the same way
    // (Rec. 601), so the colour quarter matches it too.
    EXPECT_GE(Psnr(left, colour), 30.0);
}

// The frames made here from RGBA pictures, decoded here or by the tool, are
// byte for byte the coded frames of the tool's whole-frame conversion
// (LogoFilterGraph), in both ranges, for one run over unlike pictures:
// 960 x 540, smaller and larger (the seams at x = 960 and y = 540 carry
// colour), soft, hard and no alpha, 8-bit RGB and RGBA, a palette and 16
// bits a sample.
TEST_F(LogoTest, FramesConvertedHereEqualTheToolsWholeFrameConversion) {
    auto Ffmpeg = [&](const std::string& graph, const std::string& pixels, const char* name) {
        ASSERT_TRUE(test::RunFfmpeg("-filter_complex \"" + graph + "\" -frames:v 1 -pix_fmt " + pixels + " '" +
                                    dir.File(name) + "'"));
    };
    // The first two are decoded here, the rest come from the tool.
    Ffmpeg("testsrc2=s=960x540[c];gradients=s=960x540:c0=white:c1=black,format=gray,lut=y='if(lt(val,128),0,255)'[a];"
           "[c][a]alphamerge",
           "rgba", "mix_1.png");
    Ffmpeg("testsrc2=s=960x540,hflip", "rgb24", "mix_2.png");
    Magick("-size 700x400 gradient:'rgb(250,120,20)'-'rgb(20,60,230)' \\( -size 700x400 radial-gradient:white-black \\) "
           "-alpha off -compose CopyOpacity -composite PNG32:'" + dir.File("mix_3.png") + "'");
    Magick("-size 333x211 gradient:green-yellow -fill black -draw 'rectangle 100,50 200,150' "
           "-fill red -draw 'circle 300,180 330,200' -transparent black PNG8:'" + dir.File("mix_4.png") + "'");
    Ffmpeg("testsrc2=s=1281x719[c];gradients=s=1281x719:c0=white:c1=black:x0=0:y0=0:x1=1281:y1=719,format=gray[a];"
           "[c][a]alphamerge",
           "rgba64be", "mix_5.png");
    const LogoPictures pictures = FindLogoPictures(dir.File("mix_1.png"), 1000);
    ASSERT_EQ(pictures.paths.size(), 5u);
    for (bool limited : {false, true}) {
        SCOPED_TRACE(limited);
        std::vector<uint8_t> slots[2];
        for (int here : {0, 1}) {
            CLogoPictureSource source(pictures, 1, limited, nullptr);
            source.SetConvertHere(here);
            slots[here].resize(5 * kSlot33);
            for (size_t f = 0; f < 5; ++f) ASSERT_EQ(source.Next(&slots[here][f * kSlot33], kSlot33), 1) << source.Cause();
            EXPECT_EQ(source.Next(slots[here].data(), kSlot33), 0);
            EXPECT_EQ(source.ConvertsHere(), bool(here));
        }
        for (size_t f = 0; f < 5; ++f)
            EXPECT_TRUE(std::equal(slots[0].begin() + f * kSlot33, slots[0].begin() + (f + 1) * kSlot33,
                                   slots[1].begin() + f * kSlot33))
                << "picture " << f + 1;
        // The first two alone: decoded here, no tool at all, and its
        // folder gone with the last picture.
        LogoPictures two = pictures;
        two.paths.resize(2);
        CLogoPictureSource source(two, 1, limited, nullptr);
        std::vector<uint8_t> slot(kSlot33);
        for (size_t f = 0; f < 2; ++f) {
            ASSERT_EQ(source.Next(slot.data(), kSlot33), 1) << source.Cause();
            EXPECT_TRUE(std::equal(slot.begin(), slot.end(), slots[0].begin() + f * kSlot33)) << "picture " << f + 1;
            EXPECT_EQ(source.Pipe().ToolPid(), -1);
        }
        EXPECT_TRUE(source.Pipe().FolderPath().empty());
    }
}

// Read back to .animlogo, add the file again, compare Cluster for Cluster;
// on both card sizes. An HD file is refused on a 4K card.
TEST_F(LogoTest, ReadBackAndAddAgainOnBothCardSizes) {
    std::string pic = Solid("rt.png", "rgba(30,200,90,0.6)", 500, 300);
    std::string hdFile;
    for (int mode : {kHdMode, k4kMode}) {
        SCOPED_TRACE(mode);
        MakeCard(mode, mode == kHdMode ? 64 : 128);
        const int cpf = card.ClustersPerFrame();
        ASSERT_EQ(Add(pic, 1).result, OpResult::kDone);
        EntryHead h = card.Directory().Logo(0);
        EXPECT_EQ(h.numFrames, 2);
        EXPECT_EQ(h.clustersPerFrame, cpf);
        EXPECT_EQ(card.FreeClusters(), card.ItemAreaClusters() - (2 * cpf + 2));
        if (cpf == 65) {
            // Behind each 33-Cluster slot, zero Clusters up to the next frame.
            auto gap = test::ReadImageClusters(image, h.startCluster + 33, 32);
            EXPECT_EQ(gap, std::vector<uint8_t>(gap.size(), 0));
        }
        std::string file = dir.File(mode == kHdMode ? "hd.animlogo" : "uhd.animlogo");
        ASSERT_EQ(ReadLogoToFile(op, card, 0, file).result, OpResult::kDone);
        auto bytes = test::ReadFileBytes(file);
        ASSERT_EQ(bytes.size(), 32u + (2u * cpf + 2) * kClusterSize);
        AnimLogoHeader hd;
        ASSERT_EQ(ParseAnimLogoHeader(bytes.data(), bytes.size(), hd), AnimLogoCheck::kOk);
        EXPECT_EQ(hd.clustersPerFrame, cpf);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 32, bytes.end()),
                  test::ReadImageClusters(image, h.startCluster, h.RunClusters()));

        op.answers.push_back(kResultYes);
        ASSERT_EQ(Add(file).result, OpResult::kDone);
        EntryHead again = card.Directory().Logo(1);
        EXPECT_EQ(again.numFrames, 2);
        EXPECT_EQ(again.clustersPerFrame, cpf);
        EXPECT_EQ(test::ReadImageClusters(image, again.startCluster, again.RunClusters()),
                  test::ReadImageClusters(image, h.startCluster, h.RunClusters()));
        EXPECT_EQ(test::CheckCardConsistent(image), "");
        if (mode == kHdMode) {
            hdFile = file;
        } else {
            op.messages.clear();
            EXPECT_EQ(Add(hdFile).result, OpResult::kFailed);
            EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"This file is not supported!"});
            EXPECT_FALSE(card.Directory().Logo(2).Used());
        }
    }
}

TEST_F(LogoTest, DamagedAnimLogoFilesAreRefusedBeforeAnythingIsWritten) {
    MakeCard(kHdMode);
    EntryHead h;
    h.numFrames = 2;
    h.clustersPerFrame = 33;
    auto header = MakeAnimLogoHeader(h);
    struct Case {
        std::string name;
        std::vector<uint8_t> bytes;
        std::string text;
        std::string cause;  // how the detail goes on after the file's name
    } cases[] = {
        {"short.animlogo", std::vector<uint8_t>(header.begin(), header.begin() + 20), "Invalid file format!",
         "no logo file header"},
        {"magic.animlogo", header, "Invalid file format!", "no logo file header"},
        {"cut.animlogo", header, "Invalid file format!", "the file ends inside its frames"},
        {"wide.animlogo", header, "This file is not supported!", "the header says 1921 x 1080, not 1920 x 1080"},
        {"random.animlogo", header, "Error reading video file!", "frame 1 of 2: no sound chunk in the head cluster"},
    };
    cases[1].bytes[1] = 'X';
    cases[2].bytes.resize(32 + 40 * kClusterSize);  // frames cut short
    cases[3].bytes[4] = 0x81;
    for (auto& c : cases) {
        if (c.name != "cut.animlogo" && c.name != "short.animlogo") c.bytes.resize(32 + 68 * kClusterSize);
        if (c.name == "random.animlogo")
            for (size_t i = 32; i < c.bytes.size(); ++i) c.bytes[i] = uint8_t((i * 2654435761u) >> 13);
        ASSERT_TRUE(test::WriteFileBytes(dir.File(c.name), c.bytes));
        op.messages.clear();
        EXPECT_EQ(Add(dir.File(c.name)).result, OpResult::kFailed) << c.name;
        EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{c.text}) << c.name;
        ASSERT_EQ(op.messages.size(), 1u) << c.name;  // refused before the question
        EXPECT_EQ(op.messages[0].detail.rfind(dir.File(c.name) + ": " + c.cause, 0), 0u) << op.messages[0].detail;
    }
    op.messages.clear();
    EXPECT_EQ(Add(dir.File("missing.animlogo")).result, OpResult::kFailed);
    EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Error opening file!"});
    EXPECT_FALSE(card.Directory().Logo(0).Used());
}

// A tool that dies half-way or stalls ends the add with "Error reading video
// file!", leaves no entry and no working folder.
TEST_F(LogoTest, DyingOrStalledToolEndsTheAddAndRemovesItsFolder) {
    MakeCard(kHdMode);
    std::string pic = Solid("d.png", "rgba(10,10,10,1)");
    test::TempDir tools;
    for (const char* kind : {"dies", "stalls"}) {
        SCOPED_TRACE(kind);
        // The tool also tells where it ran and how private that folder is.
        const std::string script = std::string("#!/bin/sh\nfor last; do :; done\n") +
                                   "echo \"$(pwd) $(stat -c %a .)\" > \"$0.where\"\n" +
                                   (std::string(kind) == "dies" ? "head -c 1000000 /dev/zero > \"$last\"; exit 1\n"
                                                                : "exec 3>\"$last\"; exec sleep 3\n");
        ASSERT_TRUE(test::WriteFile(tools.File("ffmpeg"), script));
        ::chmod(tools.File("ffmpeg").c_str(), 0755);
        SetProgramFolder(tools.Path() + "/");
        LogoPictures pictures = FindLogoPictures(pic, 10);
        uint8_t block[kThumbBlockBytes] = {};
        CLogoPictureSource source(pictures, 1, false, block);
        source.Pipe().SetStallLimitMs(500);
        std::vector<uint8_t> slot(kSlot33);
        EXPECT_EQ(source.Next(slot.data(), slot.size()), -1);
        EXPECT_FALSE(source.Cause().empty());
        EXPECT_EQ(source.Pipe().ToolPid(), -1);
        EXPECT_TRUE(source.Pipe().FolderPath().empty());
        std::string where;
        ASSERT_TRUE(test::ReadFile(tools.File("ffmpeg.where"), where));
        EXPECT_EQ(where.rfind(TempFolder() + "/reelkeep-", 0), 0u) << where;
        EXPECT_NE(where.find(" 700"), std::string::npos) << where;

        op.messages.clear();
        EXPECT_EQ(Add(pic).result, OpResult::kFailed);
        EXPECT_EQ(op.TextsWithIcon(kIconError), std::vector<std::string>{"Error reading video file!"});
        EXPECT_FALSE(card.Directory().Logo(0).Used());
    }
    SetProgramFolder("");
}

// The card pulled at every write of an add from pictures: the directory is
// valid and holds either no logo or the whole one.
TEST_F(LogoTest, CrashAtEveryWriteLeavesAValidCard) {
    MakeCard(kHdMode);
    card.Close();
    std::string pic = Solid("c.png", "rgba(100,150,200,0.5)");
    const std::vector<uint8_t> pristine = test::ReadFileBytes(image);
    for (auto mode : {CFaultDevice::LostWrites::kDropAll, CFaultDevice::LostWrites::kKeepAll}) {
        for (uint64_t at = 1;; ++at) {
            ASSERT_TRUE(test::WriteFileBytes(image, pristine));
            op = CScriptedOperator();
            Open(true);
            fault->crashAtWrite = fault->writes + at;
            fault->lostWrites = mode;
            AddLogoOutcome r = Add(pic, 1);
            const bool crashed = fault->crashed;
            card.Close();
            EXPECT_EQ(test::CheckCardConsistent(image), "") << at;
            CSDCard again;
            ASSERT_TRUE(test::OpenCard(again, image)) << at;
            EntryHead h = again.Directory().Logo(0);
            if (crashed) {
                EXPECT_NE(r.result, OpResult::kDone) << at;
                EXPECT_FALSE(h.Used()) << at;
            } else {
                EXPECT_EQ(r.result, OpResult::kDone);
                EXPECT_EQ(h.numFrames, 2);
                break;
            }
            ASSERT_LT(at, 30u);
        }
    }
}

}  // namespace
}  // namespace rk

namespace rk {
namespace {

// Stop during an add from pictures: "Operation aborted." and no entry.
TEST_F(LogoTest, StopIsReportedAndLeavesNoEntry) {
    MakeCard(kHdMode);
    Solid("s_1.png", "rgba(1,2,3,1)");
    Solid("s_2.png", "rgba(4,5,6,1)");
    Solid("s_3.png", "rgba(7,8,9,1)");
    op.stopAtPump = 2;
    EXPECT_EQ(Add(dir.File("s_1.png"), 1).result, OpResult::kStopped);
    EXPECT_EQ(op.TextsWithIcon(kIconWarning), std::vector<std::string>{"Operation aborted."});
    EXPECT_FALSE(card.Directory().Logo(0).Used());
    EXPECT_EQ(test::CheckCardConsistent(image), "");
}

test::CliResult Cli(const std::string& args) { return test::RunCli(args); }

// The commands number logos from 1; without --speed or --yes and without
// a terminal nothing is written.
TEST_F(LogoTest, CommandLineAddsListsAndReadsLogosNumberedFromOne) {
    MakeCard(kHdMode);
    card.Close();
    const std::string img = "'" + image + "'";
    std::string pic = Solid("cli.png", "rgba(90,90,200,0.8)");
    EXPECT_EQ(Cli("add-logo " + img + " '" + pic + "'").status, 1);
    EXPECT_EQ(Cli("logos " + img).out, "");
    EXPECT_EQ(Cli("add-logo " + img + " '" + pic + "' --speed 3 --range limited").status, 0);
    test::CliResult list = Cli("logos " + img);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.substr(0, 4), "1\t3\t");
    const std::string out = dir.File("out.animlogo");
    EXPECT_EQ(Cli("read-logo " + img + " 1 '" + out + "'").status, 0);
    EXPECT_EQ(test::ReadFileBytes(out).size(), 32u + (3u * 33 + 2) * kClusterSize);
    EXPECT_EQ(Cli("read-logo " + img + " 2 '" + dir.File("none.animlogo") + "'").status, 1);
    EXPECT_EQ(Cli("add-logo " + img + " '" + out + "' --yes").status, 0);
    EXPECT_EQ(Cli("logos " + img).out.substr(list.out.size(), 4), "2\t3\t");
    EXPECT_EQ(Cli("add-logo " + img + " '" + pic + "' --speed 6").status, 2);
}

}  // namespace
}  // namespace rk

// Pictures as the operator hands them over, through reelkeep-cli with the
// real tools: numbered runs imported as videos (a pattern, or --sequence
// with the first picture; at the card's rate or another, with sound), runs
// that end at a FIFO or a folder saying so for videos, logos and effects
// alike, stills of another shape kept on black bars, and pictures the tools
// cannot read refused with the file and the cause, the card untouched.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "convert/picture_header.h"
#include "media_fixture.h"
#include "support/cli_run.h"
#include "support/picture_files.h"

namespace rk {
namespace {

using test::CliResult;
using test::RunCli;
using test::Stderr;
using test::TempDir;

std::string Q(const std::string& s) { return "'" + s + "'"; }

// A card image of 48 MiB formatted for `mode`.
std::string MakeCard(const TempDir& dir, const char* name, int mode) {
    const std::string img = Q(dir.File(name));
    if (RunCli("create-image " + img + " --size 48M").status != 0) return {};
    if (RunCli("--yes format " + img + " --mode " + std::to_string(mode)).status != 0) return {};
    return img;
}

// Pictures name_01.png ... name_NN.png of 64 x 36 flat colours.
bool MakeRun(const TempDir& dir, const std::string& name, int count) {
    for (int i = 1; i <= count; ++i) {
        char file[64];
        std::snprintf(file, sizeof file, "%s_%02d.png", name.c_str(), i);
        if (!test::RunFfmpeg("-f lavfi -i color=c=0x" + std::to_string(100000 + i * 7) + ":s=64x36 -frames:v 1 " +
                             Q(dir.File(file))))
            return false;
    }
    return true;
}

// The frames column of video N (from 1) in the `videos` listing.
int VideoFrames(const std::string& img, int n) {
    const std::string out = RunCli("videos " + img).out;
    size_t at = 0;
    for (int i = 1; i < n && at != std::string::npos; ++i) at = out.find('\n', at) + 1;
    const size_t end = out.find('\n', at);
    const std::string line = out.substr(at, end - at);
    return std::atoi(line.substr(line.rfind('\t') + 1).c_str());
}

TEST(PictureImport, NumberedRunsBecomeVideosAtTheCardsRate) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    TempDir dir("rk-seq");
    const std::string img = MakeCard(dir, "c.img", 0);  // 1080p50
    ASSERT_FALSE(img.empty());
    ASSERT_TRUE(MakeRun(dir, "seq", 10));
    ASSERT_TRUE(test::RunFfmpeg("-f lavfi -i sine=f=440:d=1 " + Q(dir.File("tone.wav"))));
    struct Row {
        std::string args;
        int frames;
    } rows[] = {
        {Q(dir.File("seq_%02d.png")), 10},                   // one picture a frame
        {Q(dir.File("seq_01.png")) + " --sequence", 10},     // the same run from its first picture
        {Q(dir.File("seq_%02d.png")) + " --rate 25 --sound " + Q(dir.File("tone.wav")), 20},  // each shown twice
        {Q(dir.File("seq_01.png")) + " --sequence --rate 100", 5},
        {Q(dir.File("seq_01.png")), 1},                      // without --sequence: the picture alone
    };
    int n = 0;
    for (const Row& r : rows) {
        CliResult add = RunCli("add-video " + img + " " + r.args + " --yes", Stderr::kApart);
        ASSERT_EQ(add.status, 0) << r.args << "\n" << add.err;
        EXPECT_EQ(VideoFrames(img, ++n), r.frames) << r.args;
    }
    EXPECT_NE(RunCli("videos " + img).out.find("\tseq_01\t"), std::string::npos) << "named after the first picture";
    // The sound is on the card: the samples behind the sound chunk's
    // header of video 3's second frame are not silence.
    const std::string kavq1 = dir.File("v3.kavq1");
    ASSERT_EQ(RunCli("read-video " + img + " 3 " + Q(kavq1) + " --yes").status, 0);
    const std::vector<uint8_t> slots = test::ReadFileBytes(kavq1);
    const size_t slot = 33 * 12288;  // 1080p50: 33 Clusters a frame
    ASSERT_EQ(slots.size(), 20 * slot);
    EXPECT_NE(std::count(slots.begin() + long(slot + 32), slots.begin() + long(slot + 32 + 5760), uint8_t(0)), 5760);
    EXPECT_EQ(RunCli("check " + img + " --frames all").status, 0);
    // Run options without a run are wrong usage.
    EXPECT_EQ(RunCli("add-video " + img + " " + Q(dir.File("seq_01.png")) + " --rate 25 --yes").status, 2);
}

TEST(PictureImport, ARunEndingAtAFifoOrAFolderSaysSoForEveryKind) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    for (const bool fifo : {true, false}) {
        TempDir dir("rk-seq");
        const std::string img = MakeCard(dir, "c.img", 0);
        ASSERT_FALSE(img.empty());
        ASSERT_TRUE(MakeRun(dir, "s", 6));
        const std::string fifth = dir.File("s_05.png");
        ASSERT_EQ(std::remove(fifth.c_str()), 0);
        ASSERT_EQ(fifo ? ::mkfifo(fifth.c_str(), 0600) : ::mkdir(fifth.c_str(), 0700), 0);
        struct Row {
            std::string command;
            std::string done;  // the note of the item made
        } rows[] = {
            {"add-video " + img + " " + Q(dir.File("s_%02d.png")), "video 1 (entry 0), 4 frames"},
            {"add-video " + img + " " + Q(dir.File("s_01.png")) + " --sequence", "video 2 (entry 1), 4 frames"},
            {"add-logo " + img + " " + Q(dir.File("s_01.png")), "logo 1, 4 frames"},
            {"add-effect " + img + " " + Q(dir.File("s_01.png")) + " --type cut", "effect 1, 4 frames"},
        };
        for (const Row& r : rows) {
            // A folder ends the run as a FIFO does (picture_run_test): the video alone shows it here.
            if (!fifo && r.command.rfind("add-video", 0) != 0) continue;
            CliResult add = RunCli(r.command + " --yes", Stderr::kApart);
            EXPECT_EQ(add.status, 0) << r.command << "\n" << add.err;
            EXPECT_NE(add.err.find("warning: The picture sequence ends at picture 4: s_05.png is not a picture file. (" +
                                   fifth + (fifo ? ": a FIFO)" : ": a folder)")),
                      std::string::npos)
                << r.command << "\n" << add.err;
            EXPECT_NE(add.err.find(r.done), std::string::npos) << r.command << "\n" << add.err;
        }
        EXPECT_EQ(RunCli("check " + img + " --frames all").status, 0);
    }
}

TEST(PictureImport, PaddedStillsKeepTheirShapeOnBlack) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    TempDir dir("rk-fit");
    const std::string img = MakeCard(dir, "c.img", 0);
    ASSERT_FALSE(img.empty());
    // A flat colour; where a column or row is bar, it reads back black.
    const int colour[3] = {200, 100, 50};
    struct Row {
        const char* size;
        int barX, barY;  // a point in a bar, or -1 when there is none
    } rows[] = {{"800x600", 100, 540}, {"600x800", 400, 540}, {"1280x720", -1, -1}};
    int still = 0;
    for (const Row& r : rows) {
        const std::string pic = dir.File(std::string(r.size) + ".png");
        ASSERT_TRUE(test::RunFfmpeg("-f lavfi -i color=c=0xC86432:s=" + std::string(r.size) + " -frames:v 1 " + Q(pic)));
        ASSERT_EQ(RunCli("add-still " + img + " " + Q(pic) + " --fit pad --range limited --yes").status, 0) << r.size;
        ASSERT_EQ(RunCli("add-still " + img + " " + Q(pic) + " --range limited --yes").status, 0) << r.size;
        still += 2;
        std::vector<std::vector<uint8_t>> back;
        for (int s : {still - 1, still}) {
            const std::string out = dir.File("back" + std::to_string(s) + ".png");
            ASSERT_EQ(RunCli("read-still " + img + " " + std::to_string(s) + " " + Q(out)).status, 0);
            back.push_back(test::ReadPictureRgb(out, 1920, 1080));
            ASSERT_EQ(back.back().size(), size_t(1920 * 1080 * 3));
        }
        auto at = [](const std::vector<uint8_t>& rgb, int x, int y, int c) { return int(rgb[(size_t(y) * 1920 + x) * 3 + c]); };
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(at(back[0], 960, 540, c), colour[c], 4) << r.size << " padded, middle";
            EXPECT_NEAR(at(back[1], 960, 540, c), colour[c], 4) << r.size << " stretched, middle";
            if (r.barX >= 0) {
                EXPECT_NEAR(at(back[0], r.barX, r.barY, c), 0, 4) << r.size << " padded, bar";
                EXPECT_NEAR(at(back[1], r.barX, r.barY, c), colour[c], 4) << r.size << " stretched over the bar";
            }
        }
        if (r.barX < 0) {
            EXPECT_EQ(back[0], back[1]) << "a 16:9 picture padded is the stretched one";
        }
    }
    // 16:9 padded is stretched byte for byte on the card too.
    const std::vector<uint8_t> card = test::ReadFileBytes(dir.File("c.img"));
    const std::string stills = RunCli("stills " + img).out;
    std::vector<size_t> starts;
    for (size_t at = 0; at < stills.size(); at = stills.find('\n', at) + 1)
        starts.push_back(size_t(std::atol(stills.c_str() + stills.find('\t', at) + 1)));
    ASSERT_EQ(starts.size(), 6u);
    const size_t slot = 33 * 12288;  // 1080p50: 33 Clusters a frame
    EXPECT_TRUE(std::equal(card.begin() + long(starts[4] * 12288), card.begin() + long(starts[4] * 12288 + slot),
                           card.begin() + long(starts[5] * 12288)));
    EXPECT_EQ(RunCli("check " + img + " --frames all").status, 0);
}

TEST(PictureImport, PicturesTheToolsCannotReadAreRefusedWithFileAndCause) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    TempDir dir("rk-bad");
    const std::string img = MakeCard(dir, "c.img", 0);
    ASSERT_FALSE(img.empty());
    // PNG headers declaring a size, with no rows behind them.
    auto header = [](uint32_t w, uint32_t h) {
        std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
        for (uint32_t v : {w, h})
            for (int s = 24; s >= 0; s -= 8) png += char((v >> s) & 0xFF);
        png += std::string("\x08\x02\0\0\0", 5) + std::string(4, '\0');
        return png;
    };
    ASSERT_TRUE(test::WriteFile(dir.File("zero.png"), header(0, 0)));
    ASSERT_TRUE(test::WriteFile(dir.File("huge.png"), header(20000, 20000)));
    ASSERT_TRUE(test::WriteFile(dir.File("notes.png"), "a text file\nwith a picture's name\n"));
    ASSERT_EQ(::mkfifo(dir.File("pipe.png").c_str(), 0600), 0);
    struct Row {
        const char* file;
        const char* cause;
    } rows[] = {
        {"zero.png", "a picture of 0 x 0 pixels"},
        {"huge.png", "a picture of 20000 x 20000 pixels, more than ffmpeg decodes"},
        {"notes.png", "it holds text, not a picture"},
        {"pipe.png", "is a FIFO, not a regular file"},
    };
    const std::vector<uint8_t> before = test::ReadFileBytes(dir.File("c.img"));
    for (const Row& r : rows) {
        CliResult add = RunCli("add-still " + img + " " + Q(dir.File(r.file)) + " --yes", Stderr::kApart);
        EXPECT_EQ(add.status, 1) << r.file;
        EXPECT_NE(add.err.find("error: Error opening image file! (" + dir.File(r.file) + ": " + r.cause),
                  std::string::npos)
            << add.err;
    }
    EXPECT_EQ(test::ReadFileBytes(dir.File("c.img")), before) << "the card is as it was";
    // The smallest picture there is goes in: a picture has no fields to deinterlace.
    ASSERT_TRUE(test::RunFfmpeg("-f lavfi -i color=c=red:size=2x2 -frames:v 1 " + Q(dir.File("dot.png"))));
    EXPECT_EQ(RunCli("add-still " + img + " " + Q(dir.File("dot.png")) + " --yes").status, 0);
}

}  // namespace
}  // namespace rk

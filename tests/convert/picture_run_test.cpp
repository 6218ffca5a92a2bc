// Numbered runs of pictures and where a picture of another shape lies in
// the frame: the pattern's number found from the folder's lowest, the run
// ending at a gap or at something that is not a picture file (and saying
// which), and the fitted sizes of letterbox and pillarbox.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "convert/picture_filter.h"
#include "convert/picture_run.h"
#include "support/test_files.h"

namespace rk {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(PictureRun, PatternsFindTheirRunFromTheLowestNumber) {
    TempDir dir("rk-run");
    for (const char* name : {"shot_1001.png", "shot_1002.png", "shot_1003.png", "shot_1005.png", "f7.tif", "f8.tif",
                             "f9.tif", "f10.tif", "f011.tif", "100%_0.png", "100%_1.png", "take2_0001.png"})
        ASSERT_TRUE(WriteFile(dir.File(name), "x"));
    struct Row {
        const char* pattern;
        std::vector<std::string> names;  // empty: no run
    } rows[] = {
        {"shot_%04d.png", {"shot_1001.png", "shot_1002.png", "shot_1003.png"}},  // up to the gap
        {"f%d.tif", {"f7.tif", "f8.tif", "f9.tif", "f10.tif"}},                  // no padding: f011 is not one
        {"100%%_%d.png", {"100%_0.png", "100%_1.png"}},                          // %% is a percent sign
        {"take2_%04d.png", {"take2_0001.png"}},                                  // other digits stay
        {"shot_%03d.png", {"shot_1001.png", "shot_1002.png", "shot_1003.png"}},  // a width is at least
        {"shot_%05d.png", {}},                                                   // 01001 is not there
        {"none_%04d.png", {}},
        {"shot_%04d_%d.png", {}},  // two numbers: not a pattern
    };
    for (const Row& r : rows) {
        std::vector<std::string> got;
        std::string cause;
        PictureRunEnd end;
        const bool found = PatternPictures(dir.File(r.pattern), 1000, got, &end, cause);
        EXPECT_EQ(found, !r.names.empty()) << r.pattern << ": " << cause;
        std::vector<std::string> want;
        for (const std::string& n : r.names) want.push_back(dir.File(n));
        EXPECT_EQ(got, want) << r.pattern;
        EXPECT_TRUE(end.path.empty()) << r.pattern;
        if (!found) {
            EXPECT_NE(cause.find(dir.File(r.pattern)), std::string::npos) << cause;
        }
    }
    EXPECT_TRUE(IsPicturePattern("a/b_%04d.png"));
    EXPECT_FALSE(IsPicturePattern("a%d/b.png")) << "only the file name counts";
    EXPECT_FALSE(IsPicturePattern("100%.png"));
}

TEST(PictureRun, ARunEndsAtWhatIsNotAPictureFileAndSaysWhich) {
    for (const char* kind : {"fifo", "folder"}) {
        TempDir dir("rk-run");
        for (int i = 1; i <= 6; ++i) {
            if (i != 5) {
                ASSERT_TRUE(WriteFile(dir.File("s_0" + std::to_string(i) + ".png"), "x"));
            }
        }
        const std::string fifth = dir.File("s_05.png");
        ASSERT_EQ(std::string(kind) == "fifo" ? ::mkfifo(fifth.c_str(), 0600) : ::mkdir(fifth.c_str(), 0700), 0);
        const std::string what = std::string(kind) == "fifo" ? "a FIFO" : "a folder";

        PictureRunEnd end;
        EXPECT_EQ(NumberedPictures(dir.File("s_01.png"), 100, &end).size(), 4u) << kind;
        EXPECT_EQ(end.path, fifth);
        EXPECT_EQ(end.what, what);

        std::vector<std::string> got;
        std::string cause;
        ASSERT_TRUE(PatternPictures(dir.File("s_%02d.png"), 100, got, &end, cause)) << cause;
        EXPECT_EQ(got.size(), 4u);
        EXPECT_EQ(end.path, fifth);
        EXPECT_EQ(end.what, what);

        // A gap or the limit is an ordinary end: nothing to say.
        EXPECT_EQ(NumberedPictures(dir.File("s_06.png"), 100, &end).size(), 1u);
        EXPECT_TRUE(end.path.empty());
        EXPECT_EQ(NumberedPictures(dir.File("s_01.png"), 2, &end).size(), 2u);
        EXPECT_TRUE(end.path.empty());
    }
}

TEST(PictureFit, PaddedPicturesKeepTheirShapeOnEvenSizes) {
    struct Row {
        int width, height, frameWidth, frameHeight;
        PictureFit fit;
        int fittedWidth, fittedHeight;
    } rows[] = {
        {800, 600, 1920, 1080, PictureFit::kPad, 1440, 1080},      // 4:3: pillarbox
        {600, 800, 1920, 1080, PictureFit::kPad, 810, 1080},       // portrait, rounded to even
        {1080, 1920, 3840, 2160, PictureFit::kPad, 1216, 2160},
        {2000, 500, 1920, 1080, PictureFit::kPad, 1920, 480},      // wider: letterbox
        {1280, 720, 1920, 1080, PictureFit::kPad, 1920, 1080},     // 16:9 fills the frame
        {1921, 1080, 1920, 1080, PictureFit::kPad, 1920, 1080},    // within a pixel: whole
        {20000, 1, 1920, 1080, PictureFit::kPad, 1920, 2},         // never below two lines
        {800, 600, 1920, 1080, PictureFit::kStretch, 1920, 1080},  // the default stretches
        {0, 0, 1920, 1080, PictureFit::kPad, 1920, 1080},
    };
    for (const Row& r : rows) {
        int w = 0, h = 0;
        FittedSize(r.width, r.height, r.frameWidth, r.frameHeight, r.fit, w, h);
        EXPECT_EQ(w, r.fittedWidth) << r.width << "x" << r.height;
        EXPECT_EQ(h, r.fittedHeight) << r.width << "x" << r.height;
    }
}

}  // namespace
}  // namespace rk

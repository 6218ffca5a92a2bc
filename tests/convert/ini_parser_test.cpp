// The probe-output parser: first section only, exact keys, and damaged or
// hostile files.
#include <gtest/gtest.h>

#include "convert/ini_parser.h"
#include "convert/test_util.h"

namespace rk {
namespace {

const char* kProbe =
    "[STREAM]\n"
    "index=0\n"
    "codec_name=h264\n"
    "width=1920\n"
    "height=1080\n"
    "duration_ts=900000\n"
    "duration=10.000000\n"
    "TAG:NUMBER_OF_FRAMES=250\n"
    "[/STREAM]\n"
    "[STREAM]\n"
    "index=1\n"
    "width=640\n"
    "channels=2\n"
    "[/STREAM]\n"
    "[FORMAT]\n"
    "duration=12.5\n"
    "[/FORMAT]\n";

TEST(CINIParser, ReadsTheFirstSectionOfANameOnly) {
    test::TempDir dir;
    test::WriteFile(dir.File("p.txt"), kProbe);
    CINIParser p(dir.File("p.txt"));
    ASSERT_TRUE(p.IsOpen());
    EXPECT_STREQ(p.GetValue("STREAM", "width"), "1920\n");  // the line end stays
    EXPECT_EQ(p.GetInteger("STREAM", "width"), 1920);
    EXPECT_EQ(p.GetInteger("STREAM", "height"), 1080);
    // "duration" is not "duration_ts", though that line comes first.
    EXPECT_DOUBLE_EQ(p.GetDouble("STREAM", "duration"), 10.0);
    EXPECT_EQ(p.GetInteger("STREAM", "TAG:NUMBER_OF_FRAMES"), 250);
    // The second STREAM section is never searched.
    EXPECT_STREQ(p.GetValue("STREAM", "channels"), "");
    EXPECT_DOUBLE_EQ(p.GetDouble("FORMAT", "duration"), 12.5);
    EXPECT_STREQ(p.GetValue("FORMAT", "width"), "");
    EXPECT_STREQ(p.GetValue("NOSUCH", "width"), "");
    EXPECT_STREQ(p.GetValue("STREAM", "nosuch"), "");
    // Values are read again on every call (the file is rewound).
    EXPECT_EQ(p.GetInteger("STREAM", "width"), 1920);
}

TEST(CINIParser, ASelectedBlockIsReadWholeAndAloneOthersAsBefore) {
    // One probe of every stream: the sound first, then a rotated picture
    // with its side data, then a second picture, then a cut-off answer.
    const std::string probe =
        "[STREAM]\nindex=0\ncodec_type=audio\nchannels=6\n[/STREAM]\n"
        "[STREAM]\nindex=1\ncodec_type=video\nwidth=1920\n[SIDE_DATA]\n"
        "side_data_type=Display Matrix\n[/SIDE_DATA]\n[/STREAM]\n"
        "[STREAM]\nindex=2\ncodec_type=video\nwidth=640\n[/STREAM]\n"
        "[FORMAT]\nduration=7.5\n[/FORMAT]\n"
        "[STREAM]\ncodec_type=subtitle\nwidth=12";
    test::TempDir dir;
    test::WriteFile(dir.File("p.txt"), probe);
    CINIParser p(dir.File("p.txt"));
    ASSERT_TRUE(p.SelectBlock("STREAM", "codec_type", "video"));
    EXPECT_EQ(p.GetInteger("STREAM", "width"), 1920);
    EXPECT_EQ(p.GetInteger("STREAM", "index"), 1);
    EXPECT_STREQ(p.GetValue("STREAM", "channels"), "");  // the sound's block is not read
    EXPECT_TRUE(p.HasLine("side_data_type=Display Matrix"));
    EXPECT_FALSE(p.HasLine("channels="));
    EXPECT_DOUBLE_EQ(p.GetDouble("FORMAT", "duration"), 7.5);

    ASSERT_TRUE(p.SelectBlock("STREAM", "codec_type", "audio"));
    EXPECT_EQ(p.GetInteger("STREAM", "channels"), 6);
    EXPECT_STREQ(p.GetValue("STREAM", "width"), "");
    EXPECT_FALSE(p.HasLine("side_data_type="));  // the picture's side data is not the sound's

    ASSERT_TRUE(p.SelectBlock("STREAM", "codec_type", "subtitle"));  // ends where the answer ends
    EXPECT_EQ(p.GetInteger("STREAM", "width"), 12);
    // "codec_type=vid" is not "codec_type=video"; nothing matches, nothing is read.
    EXPECT_FALSE(p.SelectBlock("STREAM", "codec_type", "vid"));
    EXPECT_STREQ(p.GetValue("STREAM", "width"), "");
    EXPECT_FALSE(p.HasLine("width="));
}

TEST(CINIParser, MissingEmptyAndNonNumericValues) {
    test::TempDir dir;
    CINIParser missing(dir.File("absent.txt"));
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_STREQ(missing.GetValue("STREAM", "width"), "");
    EXPECT_EQ(missing.GetInteger("STREAM", "width"), 0);

    test::WriteFile(dir.File("empty.txt"), "");
    CINIParser empty(dir.File("empty.txt"));
    EXPECT_TRUE(empty.IsOpen());
    EXPECT_STREQ(empty.GetValue("STREAM", "width"), "");

    test::WriteFile(dir.File("na.txt"), "[STREAM]\nwidth=\nduration=N/A\nheight=nan\n[FORMAT]\nduration=-5");
    CINIParser na(dir.File("na.txt"));
    EXPECT_EQ(na.GetInteger("STREAM", "width"), 0);
    EXPECT_DOUBLE_EQ(na.GetDouble("STREAM", "duration"), 0.0);
    EXPECT_DOUBLE_EQ(na.GetDouble("STREAM", "height"), 0.0);
    EXPECT_STREQ(na.GetValue("FORMAT", "duration"), "-5");  // last line without its end
}

TEST(CINIParser, LongLinesAreNeverSplitIntoFalseLines) {
    test::TempDir dir;
    // A tag value long enough that a fixed 256-byte line reader would see
    // its tail as a line of its own, starting with "[" or "width=".
    std::string pad(255 - 10, 'x');
    std::string text = "[STREAM]\nTAG:title=" + pad + "width=666\nTAG:comment=" + std::string(243, 'y') +
                       "[FORMAT]\nheight=720\n" + "TAG:long=" + std::string(1000, 'z') + "\nwidth=1280\n";
    test::WriteFile(dir.File("long.txt"), text);
    CINIParser p(dir.File("long.txt"));
    EXPECT_EQ(p.GetInteger("STREAM", "width"), 1280);
    EXPECT_EQ(p.GetInteger("STREAM", "height"), 720);
    // The value of an over-long line is cut to 255 characters.
    EXPECT_EQ(std::string(p.GetValue("STREAM", "TAG:long")).size(), 255u);
}

TEST(CINIParser, GarbageDoesNotConfuseIt) {
    test::TempDir dir;
    std::string junk;
    for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 7919) % 256);
    test::WriteFile(dir.File("junk.bin"), junk + "\n[STREAM]\nwidth=42\n" + junk);
    CINIParser p(dir.File("junk.bin"));
    EXPECT_EQ(p.GetInteger("STREAM", "width"), 42);
    EXPECT_STREQ(p.GetValue(nullptr, "width"), "");
}

}  // namespace
}  // namespace rk

// The effect model: keys, interpolation, the default cut, the keyframe file
// (also damaged and hostile ones), hues and the animated wipe measurement.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "effects/stinger.h"
#include "support/test_files.h"

namespace rk {
namespace {

CStinger Keyed(int frames) {
    CStinger s("/nonexistent/wipe_0001.png");
    s.SetFrameCount(frames);
    return s;
}

TEST(StingerKeys, WorkedExamples) {
    // Keys 0 at frame 0 and 2046 at frame 10: 2046 / 10 x 6 = 1227.6, truncated.
    CStinger s("x_01.png");
    s.SetFrameCount(11);
    s.SetPositionKey(0, 0);
    s.SetPositionKey(10, 2046);
    EXPECT_EQ(s.PositionAt(6, false), 1227);
    EXPECT_EQ(s.PositionAt(10, false), 2046);
    EXPECT_EQ(s.PositionAt(10, true), 2047);  // the last frame rule
    EXPECT_EQ(s.PositionAt(9, true), 1841);

    // Frame 0 without a key ramps from 0 to the first key (1000 at frame 4:
    // 0, 250, 500, 750); after the last key the value holds.
    CStinger r("r_01.png");
    r.SetFrameCount(7);
    r.SetPositionKey(4, 1000);
    EXPECT_EQ(r.PositionAt(0, true), 0);
    EXPECT_EQ(r.PositionAt(1, true), 250);
    EXPECT_EQ(r.PositionAt(2, true), 500);
    EXPECT_EQ(r.PositionAt(3, true), 750);
    EXPECT_EQ(r.PositionAt(4, true), 1000);
    EXPECT_EQ(r.PositionAt(5, true), 1000);
    EXPECT_EQ(r.PositionAt(6, false), 1000);
    EXPECT_EQ(r.PositionAt(6, true), 2047);

    // Without keys every frame is 0; a key only before f stays flat after it.
    CStinger none("n_01.png");
    none.SetFrameCount(4);
    EXPECT_EQ(none.FadeAt(2), 0);
    EXPECT_EQ(none.PositionAt(3, false), 0);
    none.SetFadeKey(1, 200);
    EXPECT_EQ(none.FadeAt(0), 0);   // no key before: from 0 at frame 0
    EXPECT_EQ(none.FadeAt(3), 200);
    none.SetFadeKey(2, 999);        // limited
    EXPECT_EQ(none.FadeKey(2), 255);
    none.SetFadeKey(2, -1);         // removed
    EXPECT_EQ(none.FadeKey(2), -1);
    EXPECT_EQ(none.FadeAt(-1), 0);
    EXPECT_EQ(none.FadeAt(4), 0);
    // Falling ramps truncate toward zero.
    none.SetFadeKey(0, 10);
    none.SetFadeKey(3, 0);
    none.SetFadeKey(1, -1);
    EXPECT_EQ(none.FadeAt(1), 6);   // 10 - 3.33
    EXPECT_EQ(none.FadeAt(2), 3);
}

TEST(StingerKeys, ResetAndDefaultCut) {
    CStinger one = Keyed(1);
    one.ResetKeyframes();
    EXPECT_EQ(one.PositionKey(0), 2046);  // the write to the last frame wins
    EXPECT_EQ(one.PositionKeys().size(), 1u);

    CStinger s = Keyed(25);
    s.SetFadeKey(3, 100);
    s.SetDefaultCut();
    // 25 / 2 = 12: 2046 at 12, 0 at 11 and 0, 2046 at 24; no fade keys.
    EXPECT_EQ(s.PositionKey(0), 0);
    EXPECT_EQ(s.PositionKey(11), 0);
    EXPECT_EQ(s.PositionKey(12), 2046);
    EXPECT_EQ(s.PositionKey(24), 2046);
    EXPECT_EQ(s.PositionKeys().size(), 4u);
    EXPECT_TRUE(s.FadeKeys().empty());
    // Type 0 marks: 0 up to the frame before the cut, 2046 from it, 2047 last.
    for (int f = 0; f < 25; ++f) {
        int want = f < 12 ? 0 : (f < 24 ? 2046 : 2047);
        EXPECT_EQ(s.PositionAt(f, true), want) << f;
    }
    // A cut already present stays where it is.
    CStinger kept = Keyed(10);
    kept.ResetKeyframes();
    kept.SetPositionKey(2, 0);
    kept.SetPositionKey(3, 2046);
    kept.SetDefaultCut();
    EXPECT_EQ(kept.PositionKey(3), 2046);
    EXPECT_EQ(kept.PositionKey(5), -1);
    // Two frames: cut at frame 1, 0 at frame 0.
    CStinger two = Keyed(2);
    two.SetDefaultCut();
    EXPECT_EQ(two.PositionKey(0), 0);
    EXPECT_EQ(two.PositionKey(1), 2046);
    // One frame: n / 2 = 0 gets 2046 and no 0 before it.
    one.SetDefaultCut();
    EXPECT_EQ(one.PositionKey(0), 2046);
}

TEST(TransitionKinds, TypeTable) {
    EXPECT_EQ(TransitionKindOfType(0), 1);
    EXPECT_EQ(TransitionKindOfType(1), 1);
    EXPECT_EQ(TransitionKindOfType(2), 0);
    EXPECT_EQ(TransitionKindOfType(3), 2);
    EXPECT_EQ(TransitionKindOfType(4), 3);
    EXPECT_EQ(TransitionKindOfType(5), -1);
    EXPECT_EQ(TransitionKindOfType(-1), -1);
}

TEST(KeyframeFile, WriteReadAndTheLineFormat) {
    test::TempDir dir("rk-keys");
    std::string picture = dir.File("wipe_0001.png");
    EXPECT_EQ(KeyframeFilePath(picture), dir.File("wipe_0001.txt"));
    EXPECT_EQ(KeyframeFilePath("a.b/noext"), "a.b/noext.txt");

    CStinger s(picture);
    ASSERT_FALSE(s.ReadKeyframes());  // no pictures
    ASSERT_TRUE(s.ReadKeyframesFor(3));  // no file: default keys
    EXPECT_EQ(s.PositionKey(0), 0);
    EXPECT_EQ(s.PositionKey(2), 2046);
    s.SetTransitionKind(1);
    s.SetPositionKey(1, 2100);  // limited to 2046
    s.SetFadeKey(1, 300);       // limited to 255
    s.SetPositionKey(2, -1);
    ASSERT_TRUE(s.WriteKeyframes());
    std::string text;
    ASSERT_TRUE(test::ReadFile(dir.File("wipe_0001.txt"), text));
    EXPECT_EQ(text, "   0; -1;   0;  0;1\r\n2046;255;   0;  0;1\r\n  -1; -1;   0;  0;1\r\n");

    // The line "2100;300;..." from a hand-edited file is limited the same way.
    ASSERT_TRUE(test::WriteFile(dir.File("wipe_0001.txt"), "2100;300;0;0;1\r\n-5;-9;0;0;0\r\n7;8;0;0;0\r\n"));
    CStinger t(picture);
    ASSERT_TRUE(t.ReadKeyframesFor(3));
    EXPECT_EQ(t.PositionKey(0), 2046);
    EXPECT_EQ(t.FadeKey(0), 255);
    EXPECT_EQ(t.PositionKey(1), -1);
    EXPECT_EQ(t.FadeKey(1), -1);
    EXPECT_EQ(t.PositionKey(2), 7);
    EXPECT_EQ(t.FadeKey(2), 8);
}

TEST(KeyframeFile, DamagedAndHostileFiles) {
    CStinger s = Keyed(4);
    // Malformed lines are skipped and do not count; missing lines mean no key.
    s.ParseKeyframes("garbage\n5;6;7\n1;2;3;4\n  10 ; 20;0;0;1\n10;20;0;0;1 trailing\n;;;;\n+5;-0;0;0;0");
    // "1;2;3;4" has four numbers and "  10 ; 20..." a space before ';': both
    // skipped, so frame 0 comes from "10;20;0;0;1 trailing", frame 1 from "+5;-0".
    EXPECT_EQ(s.PositionKey(0), 10);
    EXPECT_EQ(s.FadeKey(0), 20);
    EXPECT_EQ(s.PositionKey(1), 5);
    EXPECT_EQ(s.FadeKey(1), 0);
    EXPECT_EQ(s.PositionKey(2), -1);
    EXPECT_EQ(s.PositionKey(3), -1);

    // Huge numbers saturate and are limited; NUL bytes and binary do not count.
    CStinger h = Keyed(2);
    const char raw[] = "99999999999999999999;-99999999999999999999;0;0;0\n\0\xff;1;1;1;1\n1;1;1;1;1";
    h.ParseKeyframes(std::string(raw, sizeof raw - 1));
    EXPECT_EQ(h.PositionKey(0), 2046);
    EXPECT_EQ(h.FadeKey(0), -1);
    EXPECT_EQ(h.PositionKey(1), 1);

    // A line longer than 255 characters is read in pieces: the piece holding
    // the five numbers counts when it starts a piece.
    CStinger l = Keyed(2);
    std::string longLine(255, ' ');
    l.ParseKeyframes(longLine + "33;44;0;0;0\r\n55;66;0;0;0\r\n");
    EXPECT_EQ(l.PositionKey(0), 33);
    EXPECT_EQ(l.PositionKey(1), 55);

    // More lines than frames: the extra ones are ignored.
    CStinger few = Keyed(1);
    few.ParseKeyframes("1;1;0;0;0\n2;2;0;0;0\n");
    EXPECT_EQ(few.PositionKeys().size(), 1u);
    EXPECT_EQ(few.PositionKey(0), 1);

    // A keyframe file that is a folder or a FIFO is not waited on: defaults.
    test::TempDir dir("rk-keys");
    ASSERT_EQ(::mkfifo(dir.File("f_01.txt").c_str(), 0600), 0);
    CStinger fifo(dir.File("f_01.png"));
    ASSERT_TRUE(fifo.ReadKeyframesFor(3));
    EXPECT_EQ(fifo.PositionKey(2), 2046);
    EXPECT_FALSE(fifo.WriteKeyframes());  // and never written into
}

// The keyframe file is a new file renamed into place: a link standing at its
// name is replaced, never written through; pictures named ".txt" are never
// read as keys nor overwritten.
TEST(KeyframeFile, NeverWrittenThroughALinkOrOntoAPicture) {
    test::TempDir dir("rk-keys");
    const std::string victim = dir.File("victim.cfg");
    ASSERT_TRUE(test::WriteFile(victim, "someone else's file"));
    ASSERT_EQ(::symlink(victim.c_str(), dir.File("l_01.txt").c_str()), 0);
    CStinger linked(dir.File("l_01.png"));
    ASSERT_TRUE(linked.ReadKeyframesFor(2));
    ASSERT_TRUE(linked.WriteKeyframes());
    std::string text;
    ASSERT_TRUE(test::ReadFile(victim, text));
    EXPECT_EQ(text, "someone else's file");
    struct stat st {};
    ASSERT_EQ(::lstat(dir.File("l_01.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ASSERT_TRUE(test::ReadFile(dir.File("l_01.txt"), text));
    EXPECT_EQ(text, linked.KeyframeText());

    const std::string picture = dir.File("t_01.txt");
    ASSERT_TRUE(test::WriteFile(picture, "1;2;0;0;0\r\n9;9;0;0;0\r\n"));  // a picture that reads like keys
    CStinger pictures(picture);
    ASSERT_TRUE(pictures.ReadKeyframesFor(2));
    EXPECT_EQ(pictures.PositionKey(0), 0);  // the defaults, not the picture's bytes
    EXPECT_FALSE(pictures.WriteKeyframes());
    ASSERT_TRUE(test::ReadFile(picture, text));
    EXPECT_EQ(text, "1;2;0;0;0\r\n9;9;0;0;0\r\n");

    // Nothing but the keyframe files is left beside the pictures.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) entries += e.path().filename() != "";
    EXPECT_EQ(entries, 3);
}

TEST(Hue, ValuesAndBackgroundTest) {
    EXPECT_EQ(HueOf(0, 0, 0), 0);
    EXPECT_EQ(HueOf(40, 40, 40), 0);
    EXPECT_EQ(HueOf(255, 0, 0), 0);
    EXPECT_EQ(HueOf(0, 255, 0), 85);
    EXPECT_EQ(HueOf(0, 0, 255), 171);
    EXPECT_EQ(HueOf(255, 255, 0), 43);
    EXPECT_EQ(HueOf(255, 0, 255), -43);   // just below red: negative, unwrapped
    EXPECT_EQ(HueOf(255, 0, 1), 0);       // -43 / 255 truncates to 0
    EXPECT_EQ(HueOf(255, 0, 10), -1);
    EXPECT_EQ(HueOf(0, 255, 255), 128);

    CStinger s("w_01.png");
    for (int f = 0; f < 2; ++f) {
        CPicture& p = s.Pictures().AddNew();
        ASSERT_TRUE(p.Create(kPreviewWidth, kPreviewHeight));
        p.Clear();
    }
    // Frame 0: a green bar at columns 300..309, 30 rows tall; frame 1: a
    // blue column at x = 400 only 19 pixels tall (still background).
    for (int y = 0; y < 30; ++y)
        for (int x = 300; x < 310; ++x) s.Pictures().At(0)->SetPixel(x, y + 100, 0x0000FF00);
    for (int y = 0; y < 19; ++y) s.Pictures().At(1)->SetPixel(400, y, 0x000000FF);
    for (int y = 0; y < 25; ++y) s.Pictures().At(1)->SetPixel(20, y, 0x00FFFFFF);  // white: background
    EXPECT_FALSE(s.IsKeyColumn(0, 300));
    EXPECT_TRUE(s.IsKeyColumn(0, 310));
    EXPECT_TRUE(s.IsKeyColumn(1, 400));
    EXPECT_TRUE(s.IsKeyColumn(1, 20));
    EXPECT_FALSE(s.IsKeyColumn(2, 0));
    EXPECT_FALSE(s.IsKeyColumn(0, 640));
    EXPECT_TRUE(s.IsKeyRow(0, 100));   // 10 differing pixels: still background
    EXPECT_FALSE(s.IsKeyRow(0, 700));
}

TEST(WipeMeasure, HalfExtents) {
    CStinger s("w_01.png");
    CPicture& p = s.Pictures().AddNew();
    ASSERT_TRUE(p.Create(kPreviewWidth, kPreviewHeight));
    p.Clear();
    // A blue block over columns 250..399 and rows 150..219.
    for (int y = 150; y < 220; ++y)
        for (int x = 250; x < 400; ++x) p.SetPixel(x, y, 0x000000FF);
    EXPECT_EQ(s.GetWipeWidth(), 79);   // right 399 - 320, left 320 - 250 = 70
    EXPECT_EQ(s.GetWipeHeight(), 39);  // bottom 219 - 180; top 180 - 150 = 30
    CStinger empty("e_01.png");
    EXPECT_EQ(empty.GetWipeWidth(), 0);
    EXPECT_EQ(empty.GetWipeHeight(), 0);
}

}  // namespace
}  // namespace rk

// CPicture: its drawing operations and the conversions with their rounding
// and clamping, and the PNG writer checked by a real decoder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "convert/tool_folder.h"
#include "media/picture.h"
#include "media/thumbnail.h"
#include "media_fixture.h"

namespace rk {
namespace {

uint32_t Px(uint8_t t, uint8_t r, uint8_t g, uint8_t b) { return uint32_t(t) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b; }

TEST(Picture, CreateClearAndReuse) {
    CPicture p;
    ASSERT_TRUE(p.Create(5, 3));
    EXPECT_EQ(p.Width(), 5);
    EXPECT_EQ(p.Height(), 3);
    p.Clear();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(p.Pixel(x, y), 0u);
    const uint8_t* before = p.Bits();
    ASSERT_TRUE(p.Create(3, 3));  // smaller: the buffer is kept
    EXPECT_EQ(p.Bits(), before);
    EXPECT_FALSE(p.Create(-1, 4));
    EXPECT_EQ(p.Width(), 0);
}

TEST(Picture, CheckerboardSquaresAndParity) {
    CPicture p;
    ASSERT_TRUE(p.Create(24, 17));
    p.Checkerboard();
    EXPECT_EQ(p.Pixel(0, 0), Px(0, 255, 255, 255));
    EXPECT_EQ(p.Pixel(7, 7), Px(0, 255, 255, 255));
    EXPECT_EQ(p.Pixel(8, 0), Px(0, 160, 160, 160));
    EXPECT_EQ(p.Pixel(0, 8), Px(0, 160, 160, 160));
    EXPECT_EQ(p.Pixel(8, 8), Px(0, 255, 255, 255));
    EXPECT_EQ(p.Pixel(23, 16), Px(0, 255, 255, 255));  // square (2, 2)
}

TEST(Picture, HalveAveragesEveryByteAndDropsOddEdges) {
    CPicture p;
    ASSERT_TRUE(p.Create(5, 3));
    std::mt19937 rng(7);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) p.SetPixel(x, y, rng());
    std::vector<uint32_t> src;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) src.push_back(p.Pixel(x, y));
    p.Halve();
    ASSERT_EQ(p.Width(), 2);
    ASSERT_EQ(p.Height(), 1);
    for (int x = 0; x < 2; ++x) {
        uint32_t a = src[2 * x], b = src[2 * x + 1], c = src[5 + 2 * x], d = src[5 + 2 * x + 1];
        uint32_t want = 0;
        for (int k = 0; k < 4; ++k) {
            uint32_t s = ((a >> 8 * k) & 255) + ((b >> 8 * k) & 255) + ((c >> 8 * k) & 255) + ((d >> 8 * k) & 255);
            want |= (s >> 2) << 8 * k;
        }
        EXPECT_EQ(p.Pixel(x, 0), want) << x;
    }
}

TEST(Picture, HalveInPlaceMatchesAFreshPicture) {
    // Repeated halving from a full HD picture ends at 120 x 67 and agrees
    // with a reference computed into separate buffers.
    CPicture p;
    ASSERT_TRUE(p.Create(1920, 1080));
    std::mt19937 rng(3);
    for (size_t i = 0; i < p.ByteSize(); ++i) p.Bits()[i] = uint8_t(rng());
    std::vector<uint8_t> ref(p.Bits(), p.Bits() + p.ByteSize());
    int w = 1920, h = 1080;
    while (w > 120) {
        std::vector<uint8_t> out(size_t(w / 2) * (h / 2) * 4);
        for (int y = 0; y < h / 2; ++y)
            for (int x = 0; x < w / 2; ++x)
                for (int k = 0; k < 4; ++k) {
                    auto at = [&](int xx, int yy) { return ref[(size_t(yy) * w + xx) * 4 + k]; };
                    out[(size_t(y) * (w / 2) + x) * 4 + k] =
                        uint8_t((at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1)) >> 2);
                }
        ref.swap(out);
        w /= 2;
        h /= 2;
        p.Halve();
    }
    ASSERT_EQ(p.Width(), 120);
    ASSERT_EQ(p.Height(), 67);
    EXPECT_EQ(std::vector<uint8_t>(p.Bits(), p.Bits() + p.ByteSize()), ref);
}

TEST(Picture, CompositeCopiesAndBlends) {
    CPicture dst, src;
    ASSERT_TRUE(dst.Create(4, 4));
    ASSERT_TRUE(src.Create(3, 5));
    dst.Clear();
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x) src.SetPixel(x, y, Px(0, 10, 20, 30));
    // Mode 0 over min(4, 3, 2) x min(4, 5, 4).
    dst.Composite(src, 2, 100, 0);
    EXPECT_EQ(dst.Pixel(1, 3), Px(0, 10, 20, 30));
    EXPECT_EQ(dst.Pixel(2, 0), 0u);

    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) dst.SetPixel(x, y, Px(50, 200, 200, 200));
    src.SetPixel(0, 0, Px(100, 100, 100, 100));  // half transparent: blended
    src.SetPixel(1, 0, Px(240, 0, 0, 0));        // nearly invisible: skipped
    src.SetPixel(2, 0, Px(0, 1, 2, 3));          // opaque: copied
    dst.Composite(src, 100, 1, 1);
    // l = min(100, 255 - 50) = 100, m = 155: (100 x 155 + 200 x 100) / 255 = 139.
    EXPECT_EQ(dst.Pixel(0, 0), Px(50, 139, 139, 139));
    EXPECT_EQ(dst.Pixel(1, 0), Px(50, 200, 200, 200));
    // l = min(0, 205) = 0: the source alone; T = min(50, 0).
    EXPECT_EQ(dst.Pixel(2, 0), Px(0, 1, 2, 3));
    EXPECT_EQ(dst.Pixel(0, 1), Px(50, 200, 200, 200));  // outside maxHeight
}

TEST(Picture, RgbToUyvyRoundsAndClamps) {
    UYVYDepth d8;
    uint8_t out[4], k0, k1;
    const uint8_t black[4] = {0, 0, 0, 0}, white[4] = {255, 255, 255, 0}, blue[4] = {255, 0, 0, 0};
    PairToUYVY(black, black, d8, out, &k0, &k1);
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[1], 16);
    EXPECT_EQ(out[2], 128);
    EXPECT_EQ(out[3], 16);
    EXPECT_EQ(k0, 255);
    PairToUYVY(white, white, d8, out, nullptr, nullptr);
    EXPECT_EQ(out[1], 235);  // 16 + 219.045
    EXPECT_EQ(out[0], 128);
    PairToUYVY(blue, blue, d8, out, nullptr, nullptr);
    EXPECT_EQ(out[1], 32);   // 16 + 15.81
    EXPECT_EQ(out[0], 240);  // 128 + 111.945 = 240
    EXPECT_EQ(out[2], 118);  // 128 - 10.2
    // Chroma is the rounded mean of the pair.
    PairToUYVY(blue, black, d8, out, nullptr, nullptr);
    EXPECT_EQ(out[0], 184);  // 128 + floor(55.97 + 0.5)
    EXPECT_EQ(out[3], 16);
    // Pure red drives Cr to its clamp: 128 + 111.9 = 240.
    const uint8_t red[4] = {0, 0, 255, 0};
    PairToUYVY(red, red, d8, out, nullptr, nullptr);
    EXPECT_EQ(out[2], 240);
}

TEST(Picture, ReducedAndWidenedDepths) {
    UYVYDepth d4{4, 4, 4};
    uint8_t out[4], k0, k1;
    const uint8_t white[4] = {255, 255, 255, 0}, black[4] = {0, 0, 0, 255};
    PairToUYVY(white, black, d4, out, &k0, &k1);
    EXPECT_EQ(out[1], 15);  // 235 / 16 + 0.5 = 15.19, floor 15
    EXPECT_EQ(out[3], 1);   // 16 / 16 + 0.5 = 1.5, floor 1
    EXPECT_EQ(out[0], 8);   // 128 / 16 + 0.5
    EXPECT_EQ(k0, 15);      // 255: the top value
    EXPECT_EQ(k1, 0);       // fully transparent
    // Widening: 0 stays 0, the top value is 255, the rest shifts up.
    uint8_t p0[4], p1[4];
    const uint8_t in[4] = {8, 15, 8, 1};
    UYVYToPair(in, d4, 15, 0, p0, p1);
    EXPECT_EQ(p0[3], 0);    // key 15 -> 255 -> T 0
    EXPECT_EQ(p1[3], 255);  // key 0 -> T 255
    EXPECT_EQ(p0[0], 255);  // Y 255: clamped white
    EXPECT_EQ(p1[2], 0);    // Y 16: black
}

TEST(Picture, UyvyToRgbFormulaAndRoundTrip) {
    UYVYDepth d8;
    uint8_t p0[4], p1[4];
    const uint8_t black[4] = {128, 16, 128, 16};
    UYVYToPair(black, d8, 0, 0, p0, p1);
    EXPECT_EQ(Px(p0[3], p0[2], p0[1], p0[0]), Px(255, 0, 0, 0));  // key 0: T 255
    // Cr 255 at Y 16: R = 1.793 x 127 = 227.7 -> 228; G negative -> 0.
    const uint8_t reddish[4] = {128, 16, 255, 16};
    UYVYToPair(reddish, d8, 255, 255, p0, p1);
    EXPECT_EQ(p0[2], 228);
    EXPECT_EQ(p0[1], 0);
    EXPECT_EQ(p0[3], 0);
    // Greys survive a round trip within one step.
    CPicture pic;
    ASSERT_TRUE(pic.Create(16, 2));
    for (int x = 0; x < 16; ++x) {
        uint8_t g = uint8_t(x * 17);
        pic.SetPixel(x, 0, Px(0, g, g, g));
        pic.SetPixel(x, 1, Px(0, g, g, g));
    }
    std::vector<uint8_t> uyvy(16 * 2 * 2);
    pic.ToUYVY(uyvy.data());
    CPicture back;
    ASSERT_TRUE(back.Create(16, 2));
    back.FromUYVY(uyvy.data());
    for (int x = 0; x < 16; ++x) {
        int g = x * 17;
        uint32_t v = back.Pixel(x, 0);
        EXPECT_NEAR(int(v & 255), g, 2) << x;
        EXPECT_NEAR(int((v >> 16) & 255), g, 2) << x;
    }
}

TEST(Picture, FrameToRgbAndToPictureShareOneFormula) {
    // A 4 x 4 frame: chroma 2 x 2, each sample serving a 2 x 2 block.
    std::vector<uint8_t> y = {16, 235, 255, 0, 16, 16, 16, 16, 126, 126, 126, 126, 126, 126, 126, 126};
    std::vector<uint8_t> cb = {128, 128, 255, 0};
    std::vector<uint8_t> cr = {128, 255, 128, 128};
    FramePlanes f{y.data(), cb.data(), cr.data(), 4, 4};
    std::vector<uint8_t> rgb(4 * 4 * 3);
    FrameToRGB24(f, rgb.data());
    auto at = [&](int x, int yy, int c) { return int(rgb[(size_t(yy) * 4 + x) * 3 + c]); };
    EXPECT_EQ(at(0, 0, 0), 0);
    EXPECT_EQ(at(1, 0, 1), 255);  // 1.164 x 219 = 254.9
    EXPECT_EQ(at(0, 1, 0), 0);
    // Pixel (2, 0) uses chroma (1, 0): Cr 255, Y 255 -> R clamps to 255, G = 278.2 - 68.3 = 209.9 -> 210.
    EXPECT_EQ(at(2, 0, 0), 255);
    EXPECT_EQ(at(2, 0, 1), 210);
    // Pixel (1, 3) uses chroma (0, 1): Cb 255 -> B = 128.04 + 268.6 clamps, R = 128.04 -> 128.
    EXPECT_EQ(at(1, 3, 2), 255);
    EXPECT_EQ(at(1, 3, 0), 128);
    // Pixel (3, 2) uses chroma (1, 1): Cb 0 -> B = 128.04 - 270.7 -> 0; G = 128.04 + 27.264 = 155.3 -> 155.
    EXPECT_EQ(at(3, 2, 2), 0);
    EXPECT_EQ(at(3, 2, 1), 155);

    CPicture pic;
    ASSERT_TRUE(FrameToPicture(f, pic));
    for (int yy = 0; yy < 4; ++yy)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pic.Pixel(x, yy), Px(0, uint8_t(at(x, yy, 0)), uint8_t(at(x, yy, 1)), uint8_t(at(x, yy, 2))));
}

TEST(PngWriter, RefusesWhatItCannotWrite) {
    test::TempDir dir;
    std::vector<uint8_t> rgb(3 * 4, 0);
    EXPECT_FALSE(WritePNG(dir.File("none/x.png"), 2, 2, rgb.data()));
    EXPECT_FALSE(WritePNG(dir.File("x.png"), 0, 2, rgb.data()));
    EXPECT_FALSE(WritePNG(dir.File("x.png"), 2, 2, nullptr));
    CPicture empty;
    EXPECT_FALSE(WritePicturePNG(dir.File("y.png"), empty));
}

TEST(PngWriter, RealDecoderReadsBackTheSamePixels) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "ffmpeg is not beside the test programs";
    test::TempDir dir;
    // Wide enough for more than one stored deflate block.
    const int w = 300, h = 80;
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    std::mt19937 rng(11);
    for (auto& b : rgb) b = uint8_t(rng());
    ASSERT_TRUE(WritePNG(dir.File("a.png"), w, h, rgb.data()));
    std::string cmd = "'" + ProgramFile(kToolFfmpeg) + "' -v error -i '" + dir.File("a.png") +
                      "' -f rawvideo -pix_fmt rgb24 -y '" + dir.File("a.rgb") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.File("a.rgb")), rgb);
}

}  // namespace
}  // namespace rk

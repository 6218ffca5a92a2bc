// The colour step: the row functions give exactly the reference pixel's
// bytes for every Y', Cb, Cr, in every layout and at every row length, and
// the reference is the reading the still and title-card pictures were made
// with before it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "media/frame_rgb.h"
#include "media/picture.h"

namespace rk {
namespace {

// Every (Cb, Cr) pair as rows of all 256 luma values: 2^24 pixels.
TEST(FrameRgbTest, RowEqualsTheReferenceForEveryYCbCr) {
    std::vector<uint8_t> y(256), cb(128), cr(128), fast(256 * 4), narrow(256 * 4), slow(256 * 4);
    for (int v = 0; v < 256; ++v) y[size_t(v)] = uint8_t(v);
    int differing = 0;
    for (int b = 0; b < 256; ++b)
        for (int r = 0; r < 256; ++r) {
            std::memset(cb.data(), b, cb.size());
            std::memset(cr.data(), r, cr.size());
            YCbCrRowToRgb(y.data(), cb.data(), cr.data(), 256, fast.data(), RgbLayout::kRgba);
            YCbCrRowToRgbSse2(y.data(), cb.data(), cr.data(), 256, narrow.data(), RgbLayout::kRgba);
            YCbCrRowToRgbScalar(y.data(), cb.data(), cr.data(), 256, slow.data(), RgbLayout::kRgba);
            if ((fast != slow || narrow != slow) && ++differing < 5) ADD_FAILURE() << "Cb " << b << " Cr " << r;
        }
    EXPECT_EQ(differing, 0) << "row body: " << RgbRowVariant();
}

// The reading before the row functions, as thumbnails and stills had it.
void OldReading(int y, int cb, int cr, uint8_t out[3]) {
    auto round = [](float x) {
        const int v = int(std::floor(x + 0.5f));
        return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    };
    const float yy = 1.164f * float(y - 16);
    const float rCr = 1.793f * float(cr - 128), gCb = 0.213f * float(cb - 128), gCr = 0.534f * float(cr - 128),
                bCb = 2.115f * float(cb - 128);
    out[0] = round(yy + rCr);
    out[1] = round(yy - gCb - gCr);
    out[2] = round(yy + bCb);
}

TEST(FrameRgbTest, ReferenceIsTheEarlierReading) {
    for (int y = 0; y < 256; ++y)
        for (int cb = 0; cb < 256; cb += 3)
            for (int cr = 1; cr < 256; cr += 3) {
                uint8_t want[3], r, g, b;
                OldReading(y, cb, cr, want);
                YCbCrToRgbPixel(y, cb, cr, r, g, b);
                ASSERT_TRUE(r == want[0] && g == want[1] && b == want[2]) << y << " " << cb << " " << cr;
            }
}

TEST(FrameRgbTest, EveryLayoutAndRowLengthEqualsTheReference) {
    std::mt19937 random(7);
    for (RgbLayout layout : {RgbLayout::kRgb24, RgbLayout::kRgba, RgbLayout::kBgrt})
        for (int width = 1; width <= 70; ++width) {
            std::vector<uint8_t> y(static_cast<size_t>(width)), cb(size_t(width / 2) + 1), cr(size_t(width / 2) + 1);
            for (auto* plane : {&y, &cb, &cr})
                for (auto& v : *plane) v = uint8_t(random());
            const size_t bpp = layout == RgbLayout::kRgb24 ? 3 : 4;
            // One guard byte behind the row: nothing is written past it.
            std::vector<uint8_t> fast(size_t(width) * bpp + 1, 0xAB), narrow(fast), slow(fast);
            YCbCrRowToRgb(y.data(), cb.data(), cr.data(), width, fast.data(), layout);
            YCbCrRowToRgbSse2(y.data(), cb.data(), cr.data(), width, narrow.data(), layout);
            YCbCrRowToRgbScalar(y.data(), cb.data(), cr.data(), width, slow.data(), layout);
            EXPECT_EQ(fast, slow) << "layout " << int(layout) << " width " << width;
            EXPECT_EQ(narrow, slow) << "layout " << int(layout) << " width " << width;
            EXPECT_EQ(fast.back(), 0xAB);
        }
}

TEST(FrameRgbTest, PicturesTakeTheSameBytes) {
    // A 34 x 4 frame through the RGB and the picture conversions.
    const int w = 34, h = 4;
    std::vector<uint8_t> y(size_t(w * h)), cb(size_t(w / 2 * h / 2)), cr(cb.size());
    for (size_t i = 0; i < y.size(); ++i) y[i] = uint8_t(i * 7);
    for (size_t i = 0; i < cb.size(); ++i) cb[i] = uint8_t(255 - i * 5), cr[i] = uint8_t(i * 9);
    const FramePlanes frame{y.data(), cb.data(), cr.data(), w, h};
    std::vector<uint8_t> rgb(size_t(w * h * 3));
    FrameToRGB24(frame, rgb.data());
    CPicture picture;
    ASSERT_TRUE(FrameToPicture(frame, picture));
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            uint8_t r, g, b;
            YCbCrToRgbPixel(y[size_t(row * w + x)], cb[size_t(row / 2 * w / 2 + x / 2)], cr[size_t(row / 2 * w / 2 + x / 2)],
                            r, g, b);
            const uint8_t* p = rgb.data() + (row * w + x) * 3;
            ASSERT_TRUE(p[0] == r && p[1] == g && p[2] == b) << row << " " << x;
            ASSERT_EQ(picture.Pixel(x, row), uint32_t(r) << 16 | uint32_t(g) << 8 | b);
        }
}

}  // namespace
}  // namespace rk

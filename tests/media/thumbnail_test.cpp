// The thumbnail maker, the black default and the reader of thumbnail blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "card/card_directory.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"
#include "media/thumbnail.h"
#include "media_fixture.h"

namespace rk {
namespace {

TEST(Thumbnail, BlackDefaultIsStudioBlackThenZero) {
    std::vector<uint8_t> block(kThumbBlockBytes, 0xAA);
    MakeBlackThumbnail(block.data());
    const size_t picture = 120 * 68 * 2;  // 16320 bytes
    for (size_t i = 0; i < picture; i += 4) {
        ASSERT_EQ(block[i], 128) << i;
        ASSERT_EQ(block[i + 1], 16) << i;
        ASSERT_EQ(block[i + 2], 128) << i;
        ASSERT_EQ(block[i + 3], 16) << i;
    }
    for (size_t i = picture; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
    CPicture p;
    ASSERT_TRUE(ThumbnailFromBlock(block.data(), p));
    EXPECT_EQ(p.Width(), 120);
    EXPECT_EQ(p.Height(), 68);
    EXPECT_EQ(p.Pixel(60, 67) & 0xFFFFFF, 0u);
}

TEST(Thumbnail, FullHdFrameGives120x67AndADarkGreenLastRow) {
    std::vector<uint8_t> slot = test::EncodedSlot(2);
    ASSERT_FALSE(slot.empty());
    std::vector<uint8_t> block(kThumbBlockBytes, 0xAA);
    CThumbnailMaker maker(1);
    ASSERT_TRUE(maker.Make(slot.data(), 33, block.data()));
    // Rows 0..66 carry the picture (luma at least 16), row 67 and the rest stay zero.
    for (int y = 0; y < 67; ++y) ASSERT_GE(block[size_t(y) * 240 + 1], 16) << y;
    for (size_t i = 67 * 240; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
    CPicture p;
    ASSERT_TRUE(ThumbnailFromBlock(block.data(), p));
    uint32_t last = p.Pixel(10, 67);
    int r = (last >> 16) & 255, g = (last >> 8) & 255, b = last & 255;
    EXPECT_GT(g, r);
    EXPECT_GT(g, b);
    EXPECT_GT(g, 40);
    // The encoded picture has a red-tinted left half and a brighter right side.
    uint32_t left = p.Pixel(10, 30), right = p.Pixel(110, 30);
    EXPECT_GT(int((left >> 16) & 255), int(left & 255));
    EXPECT_GT(int((right >> 8) & 255), int((p.Pixel(70, 30) >> 8) & 255));
}

TEST(Thumbnail, MakerAgreesWithDecodeConvertHalve) {
    std::vector<uint8_t> slot = test::EncodedSlot(1);
    ASSERT_FALSE(slot.empty());
    const KVQ1Geometry g = KVQ1GeometryFor(1);
    std::vector<uint8_t> y(g.LumaBytes()), cb(g.ChromaBytes()), cr(g.ChromaBytes());
    KVQ1Decoder dec;
    ASSERT_TRUE(dec.Decode(slot.data() + kClusterSize, 32 * kClusterSize, y.data(), cb.data(), cr.data()));
    CPicture pic;
    ASSERT_TRUE(FrameToPicture(FramePlanes{y.data(), cb.data(), cr.data(), 1920, 1080}, pic));
    for (int i = 0; i < 4; ++i) pic.Halve();
    std::vector<uint8_t> want(kThumbBlockBytes, 0);
    pic.ToUYVY(want.data());
    std::vector<uint8_t> block(kThumbBlockBytes);
    CThumbnailMaker maker(1);
    ASSERT_TRUE(maker.Make(slot.data(), 33, block.data()));
    EXPECT_EQ(block, want);
}

TEST(Thumbnail, UltraHdPicturesEndAt120x67) {
    std::vector<uint8_t> y(3840 * 2160, 120), c(1920 * 1080, 128);
    std::vector<uint8_t> block(kThumbBlockBytes, 0xAA);
    CThumbnailMaker maker(2);
    ASSERT_TRUE(maker.MakeFromFrame(FramePlanes{y.data(), c.data(), c.data(), 3840, 2160}, block.data()));
    EXPECT_EQ(block[1], 120);  // Y 120 -> RGB 121 -> Y 16 + 0.859 x 121 = 119.9
    for (size_t i = 67 * 240; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
}

TEST(Thumbnail, DamagedSlotsFailWithAClearBlock) {
    CThumbnailMaker maker(1);
    std::vector<uint8_t> block(kThumbBlockBytes, 0xAA);
    // Zeros, random bytes, a good header over random slices, and a frame of
    // the other size class: none may be taken as a picture.
    std::vector<uint8_t> slot(33 * kClusterSize, 0);
    EXPECT_FALSE(maker.Make(slot.data(), 33, block.data()));
    EXPECT_EQ(block, std::vector<uint8_t>(kThumbBlockBytes, 0));
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        for (auto& b : slot) b = uint8_t(rng());
        if (round % 2) {
            std::memcpy(slot.data() + kClusterSize, "KVQ1", 4);
            slot[kClusterSize + 4] = 1;
        }
        bool made = maker.Make(slot.data(), 33, block.data());
        if (!made) {
            EXPECT_EQ(block, std::vector<uint8_t>(kThumbBlockBytes, 0));
        }
    }
    std::vector<uint8_t> good = test::EncodedSlot(0);
    ASSERT_FALSE(good.empty());
    CThumbnailMaker other(2);
    EXPECT_FALSE(other.Make(good.data(), 33, block.data()));
    EXPECT_FALSE(maker.Make(good.data(), 1, block.data()));  // no room for a frame
}

TEST(Thumbnail, ReaderKeepsTheOldPictureWhenTheReadFails) {
    test::TempDir dir;
    const std::string image = dir.File("card.img");
    ASSERT_TRUE(test::MakeFormattedImage(image, 24, 0));
    CSDCard card;
    CFaultDevice* fault = nullptr;
    ASSERT_TRUE(test::OpenCard(card, image, &fault));
    std::vector<uint8_t> black(kThumbBlockBytes);
    MakeBlackThumbnail(black.data());
    ASSERT_TRUE(card.WriteThumbnailBlock(1651, black.data()));
    std::vector<uint8_t> block(kThumbBlockBytes);
    CPicture p;
    ASSERT_TRUE(ReadThumbnail(card, 1651, block.data(), p));
    EXPECT_EQ(p.Pixel(0, 0) & 0xFFFFFF, 0u);
    p.SetPixel(0, 0, 0x00123456);
    fault->failReadAt = fault->reads + 1;
    EXPECT_FALSE(ReadThumbnail(card, 1651, block.data(), p));
    EXPECT_EQ(p.Pixel(0, 0), 0x00123456u);
}

}  // namespace
}  // namespace rk

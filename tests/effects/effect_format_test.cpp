// Effects on the card and in files: the marks of every frame, the entry
// bytes, the ".effect" header (also hostile ones) and the picture sequence.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_format.h"
#include "effects/effect_format.h"
#include "effects/stinger.h"

namespace rk {
namespace {

TEST(EffectMarks, TypeZeroEffectAndTheBytes) {
    // A type 0 (simple cut) effect of 6 frames: 0, 0, 0, 2046, 2046, 2047.
    CStinger s("cut_01.png");
    s.SetFrameCount(6);
    s.SetDefaultCut();
    s.SetTransitionKind(TransitionKindOfType(0));
    const int want[6] = {0, 0, 0, 2046, 2046, 2047};
    for (int i = 0; i < 6; ++i) {
        uint8_t h[32] = {};
        EffectMarks m = MarksOfFrame(s, i, 6);
        PutEffectMarks(h, m);
        EXPECT_EQ(h[12], 0x40);
        EXPECT_EQ(h[13] | h[14], 0);
        EXPECT_EQ(h[15], want[i] & 0xFF) << i;
        EXPECT_EQ(h[16], (want[i] >> 3) & 0xE0) << i;
        EXPECT_EQ(h[17], 0);
        EXPECT_EQ(h[18], 1);
        EXPECT_EQ(h[19], 5 - i);
        EffectMarks back;
        ASSERT_TRUE(GetEffectMarks(h, back));
        EXPECT_EQ(back.position, want[i]);
        EXPECT_EQ(back.framesAfter, 5 - i);
    }
    // 2047 is 0xFF in byte 15 and 0xE0 in byte 16.
    uint8_t h[32] = {};
    PutEffectMarks(h, EffectMarks{1, 2047, 128, 300});
    EXPECT_EQ(h[15], 0xFF);
    EXPECT_EQ(h[16], 0xE0);
    EXPECT_EQ(h[17], 128);
    EXPECT_EQ(h[19], 255);  // frames after, limited
    // Animated wipes carry neither position nor fade.
    PutEffectMarks(h, EffectMarks{3, 1000, 99, 0});
    EXPECT_EQ(h[15] | h[16] | h[17], 0);
    EXPECT_EQ(h[18], 3);
    h[18] = 4;
    EffectMarks m;
    EXPECT_FALSE(GetEffectMarks(h, m));
}

TEST(EffectMarks, EntryBytes) {
    EXPECT_EQ(EffectSwitchOf(0), 1);
    EXPECT_EQ(EffectSwitchOf(1), 1);
    EXPECT_EQ(EffectSwitchOf(2), 2);
    EXPECT_EQ(EffectSwitchOf(3), 3);
    EXPECT_EQ(EffectHueOf(1, 77), 0);
    EXPECT_EQ(EffectHueOf(2, 300), 300 & 0xFF);  // only the low 8 bits fit
    EXPECT_EQ(EffectHueOf(3, 180), 180);
}

TEST(EffectMarks, SlotCheck) {
    std::vector<uint8_t> slot(kVideoAreaOffset + 64, 0);
    WriteAudioChunkHeader(slot.data(), 2, kEffectAudioBytes);
    std::memcpy(slot.data() + kVideoAreaOffset, kKVQ1Magic, 4);
    WriteBE32(slot.data() + kVideoAreaOffset + 8, 2);
    PutEffectMarks(slot.data() + kVideoAreaOffset, EffectMarks{1, 10, 0, 2});
    EXPECT_EQ(ReadBE16(slot.data() + 12), 1448);  // the chunk length of every effect frame
    EXPECT_TRUE(IsEffectFrameSlot(slot.data(), slot.size(), 2, 5));
    EXPECT_FALSE(IsEffectFrameSlot(slot.data(), slot.size(), 2, 6));  // frame count disagrees
    EXPECT_FALSE(IsEffectFrameSlot(slot.data(), slot.size(), 3, 6));  // frame number disagrees
    EXPECT_FALSE(IsEffectFrameSlot(slot.data(), 100, 2, 5));
    slot[kVideoAreaOffset + 12] = 0;  // a video frame: no marks
    EXPECT_FALSE(IsEffectFrameSlot(slot.data(), slot.size(), 2, 5));
}

TEST(EffectFile, HeaderRoundTripLengthAndHostileHeaders) {
    EXPECT_EQ(EffectFileBytes(3, 33), 32u + 12288u * (3 * 33 + 2));
    EffectFileHeader h;
    h.frames = 3;
    h.switchByte = 1;
    uint8_t raw[32];
    WriteEffectFileHeader(h, raw);
    EXPECT_EQ(std::memcmp(raw, "STND", 4), 0);
    EXPECT_EQ(raw[4] | raw[5] << 8, 1920);
    EXPECT_EQ(raw[6] | raw[7] << 8, 1080);
    EXPECT_EQ(raw[8], 3);
    EXPECT_EQ(raw[10], 33);
    for (int i = 14; i < 32; ++i) EXPECT_EQ(raw[i], 0);
    const uint64_t len = EffectFileBytes(3, 33);
    EffectFileHeader back;
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, len, 33, back), EffectHeaderCheck::kOk);
    EXPECT_EQ(back.frames, 3);
    EXPECT_EQ(back.switchByte, 1);

    EXPECT_EQ(ReadEffectFileHeader(raw, 31, len, 33, back), EffectHeaderCheck::kInvalid);
    // Ends inside its frames: refused. Cut inside its thumbnail block, or
    // with bytes behind it: taken as far as its frames go.
    const uint64_t slots = EffectFileSlotBytes(3, 33);
    EXPECT_EQ(slots, len - 2 * 12288);
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, slots - 1, 33, back), EffectHeaderCheck::kBadLength);
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, slots, 33, back), EffectHeaderCheck::kOk);
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, len - 1, 33, back), EffectHeaderCheck::kOk);
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, len + 12288 * 33, 33, back), EffectHeaderCheck::kOk);
    // 65 clusters a frame on an HD card.
    EffectFileHeader uhd = h;
    uhd.clustersPerFrame = 65;
    WriteEffectFileHeader(uhd, raw);
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, EffectFileBytes(3, 65), 33, back), EffectHeaderCheck::kNotSupported);
    EffectFileHeader small = h;
    small.width = 1280;
    WriteEffectFileHeader(small, raw);
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, len, 33, back), EffectHeaderCheck::kNotSupported);
    EffectFileHeader none = h;
    none.frames = 0;
    WriteEffectFileHeader(none, raw);
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, EffectFileBytes(0, 33), 33, back), EffectHeaderCheck::kBadLength);
    EffectFileHeader sw = h;
    sw.switchByte = 9;
    WriteEffectFileHeader(sw, raw);
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, len, 33, back), EffectHeaderCheck::kNotSupported);
    WriteEffectFileHeader(h, raw);
    raw[0] = 'X';
    EXPECT_EQ(ReadEffectFileHeader(raw, 32, len, 33, back), EffectHeaderCheck::kInvalid);
}

TEST(PictureSequence, TheSequenceRule) {
    std::set<std::string> files;
    for (int i = 1; i <= 12; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/p/sting_%03d.png", i);
        files.insert(name);
    }
    auto exists = [&](const std::string& p) { return files.count(p) != 0; };
    auto seq = PictureSequence("/p/sting_007.png", exists);
    ASSERT_EQ(seq.size(), 6u);
    EXPECT_EQ(seq.front(), "/p/sting_007.png");
    EXPECT_EQ(seq.back(), "/p/sting_012.png");

    // 300 pictures give 250.
    std::set<std::string> many;
    for (int i = 0; i < 300; ++i) many.insert("/q/f" + std::to_string(1000 + i) + ".png");
    EXPECT_EQ(PictureSequence("/q/f1000.png", [&](const std::string& p) { return many.count(p) != 0; }).size(),
              250u);

    // Wider numbers continue past the run's width.
    std::set<std::string> wide = {"frame_98.png", "frame_99.png", "frame_100.png", "frame_101.png"};
    auto w = PictureSequence("frame_98.png", [&](const std::string& p) { return wide.count(p) != 0; });
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[2], "frame_100.png");

    // No digits before the last three characters: nothing.
    auto all = [](const std::string&) { return true; };
    EXPECT_TRUE(PictureSequence("/x/clip.mp4", all).empty());
    EXPECT_TRUE(PictureSequence("ab", all).empty());
    // Digits in a folder name are not a numbering.
    EXPECT_TRUE(PictureSequence("/take2/clip.png", all).empty());
    // A numbering longer than any integer still counts up.
    std::set<std::string> longer = {"n99999999999999999999999.png", "n100000000000000000000000.png"};
    EXPECT_EQ(PictureSequence("n99999999999999999999999.png",
                              [&](const std::string& p) { return longer.count(p) != 0; })
                  .size(),
              2u);
    // The chosen file itself must exist.
    EXPECT_TRUE(PictureSequence("/p/sting_013.png", exists).empty());
}

}  // namespace
}  // namespace rk

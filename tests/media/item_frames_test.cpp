// The player's frames: every kind of item read from a real card image as the
// decoder and the one colour step give it, its sound as the card holds it,
// playlists in order with their end mode, damaged slots named and passed,
// and the read-ahead queue: forwards and backwards, and on a machine too
// slow for the rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "card/card_item.h"
#include "codec/effect_marks.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "media/frame_prefetch.h"
#include "media/frame_rgb.h"
#include "media/item_frames.h"
#include "media/item_render.h"
#include "media/video_ops.h"
#include "media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kCpf = 33;

// The decoder's picture of a slot through the reference pixel step, cut to
// `width` x `height` from the coded frame's top-left.
std::vector<uint8_t> ReferenceRgba(const std::vector<uint8_t>& slot, int width, int height) {
    const KVQ1Geometry g = KVQ1GeometryFor(1);
    std::vector<uint8_t> y(g.LumaBytes()), cb(g.ChromaBytes()), cr(g.ChromaBytes());
    KVQ1Decoder decoder;
    EXPECT_TRUE(decoder.Decode(slot.data() + kClusterSize, slot.size() - kClusterSize, y.data(), cb.data(), cr.data()));
    std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4);
    for (int row = 0; row < height; ++row)
        YCbCrRowToRgbScalar(y.data() + size_t(row) * size_t(g.width), cb.data() + size_t(row / 2) * size_t(g.width / 2),
                            cr.data() + size_t(row / 2) * size_t(g.width / 2), width,
                            rgba.data() + size_t(row) * size_t(width) * 4, RgbLayout::kRgba);
    return rgba;
}

std::vector<uint8_t> Bytes(const RgbaFrame& f) { return std::vector<uint8_t>(f.Bits(), f.Bits() + f.ByteSize()); }

// The card's sound of a frame as QAudioFormat::Int32 plays it.
std::vector<int32_t> AsInt32(const std::vector<uint8_t>& le24) {
    std::vector<int32_t> out(le24.size() / 3);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = int32_t(uint32_t(le24[3 * i]) << 8 | uint32_t(le24[3 * i + 1]) << 16 | uint32_t(le24[3 * i + 2]) << 24);
    return out;
}

class ItemFramesTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir.File("card.img");
        ASSERT_TRUE(test::MakeFormattedImage(image, 64, 0));
        ASSERT_TRUE(test::OpenCard(card, image, &fault));
        // Video 1: pictures 0, 1, 2; video 3: pictures 4, 5 (entry 1 free).
        const std::string a = dir.File("a.kavq1"), b = dir.File("b.kavq1");
        ASSERT_TRUE(test::WriteEncodedKAVQ1WithSound(a, 3, 0));
        ASSERT_TRUE(test::WriteEncodedKAVQ1WithSound(b, 2, 4));
        ASSERT_EQ(AddVideoFromPath(op, card, 0, a, {}).result, OpResult::kDone);
        ASSERT_EQ(AddVideoFromPath(op, card, 2, b, {}).result, OpResult::kDone);
        op = CScriptedOperator();
        card.SetOperator(&op);
    }
    void MakePlaylist(int p, std::vector<int> clips, bool loops) {
        CardDirectory& d = card.Directory();
        d.SetClipCount(p, int32_t(clips.size()));
        for (size_t i = 0; i < clips.size(); ++i) d.SetClip(p, int(i), clips[i]);
        d.SetLoopFlag(p, loops ? 1 : 0);
        ASSERT_TRUE(card.WriteDirectory());
    }
    // Puts `slots` on the card as item `index` of `kind` behind the videos.
    void PutItem(CardItem kind, int index, const std::vector<std::vector<uint8_t>>& slots, uint32_t at) {
        for (size_t i = 0; i < slots.size(); ++i)
            ASSERT_TRUE(card.WriteClusters(at + uint32_t(i) * kCpf, slots[i].data(), kCpf));
        ItemEntry e;
        e.kind = kind;
        e.index = index;
        e.head = EntryHead{at, uint16_t(slots.size()), uint16_t(kCpf)};
        ASSERT_TRUE(card.CommitItem(e, nullptr));
    }
    std::unique_ptr<CItemFrames> Open(PlayTarget t) {
        std::string why;
        auto f = CItemFrames::Open(card, t, &why);
        EXPECT_TRUE(f) << why;
        return f;
    }

    test::TempDir dir;
    std::string image;
    CScriptedOperator op;
    CSDCard card;
    CFaultDevice* fault = nullptr;
};

TEST_F(ItemFramesTest, VideoFramesAreTheDecodersThroughTheColourStepAndSoundIsTheCards) {
    auto f = Open({PlayKind::kVideo, 0});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->FrameCount(), 3);
    EXPECT_EQ(f->Width(), 1920);
    EXPECT_EQ(f->Height(), 1080);
    EXPECT_EQ(f->RateNum(), 50);
    EXPECT_EQ(f->RateDen(), 1);
    EXPECT_FALSE(f->HasAlpha());
    EXPECT_EQ(f->EndMode(), PlayEnd::kNone);
    RgbaFrame frame;
    std::vector<int32_t> sound;
    for (int n : {1, 2}) {
        ASSERT_EQ(f->ReadFrame(n, frame), FrameStatus::kOk);
        EXPECT_EQ(frame.Stride(), 1920u * 4);
        EXPECT_EQ(Bytes(frame), ReferenceRgba(test::EncodedSlot(uint32_t(n), 50, n), 1920, 1080)) << n;
        EXPECT_EQ(f->ReadSound(n, sound), 960u);
        EXPECT_EQ(sound, AsInt32(test::TestSound(uint32_t(n)))) << n;
    }
    // The storage is reused from frame to frame.
    const uint8_t* bits = frame.Bits();
    ASSERT_EQ(f->ReadFrame(0, frame), FrameStatus::kOk);
    EXPECT_EQ(frame.Bits(), bits);
}

TEST_F(ItemFramesTest, PlaylistPlaysItsClipsInOrderAndTellsItsEndMode) {
    MakePlaylist(4, {2, 0}, true);
    MakePlaylist(5, {0}, false);
    auto f = Open({PlayKind::kPlaylist, 4});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Name(), "playlist 5");
    EXPECT_EQ(f->FrameCount(), 5);
    EXPECT_EQ(f->EndMode(), PlayEnd::kRepeat);
    ASSERT_EQ(f->ClipCount(), 2);
    EXPECT_EQ(f->ClipAt(1).video, 2);
    EXPECT_EQ(f->ClipAt(2).video, 0);
    EXPECT_EQ(f->ClipAt(2).firstFrame, 2);
    EXPECT_EQ(f->ClipAt(4).clip, 1);
    // Frame 2 is the second clip's first frame: video 1's first picture and sound.
    const int looks[5] = {4, 5, 0, 1, 2};
    RgbaFrame frame;
    std::vector<int32_t> sound;
    for (int n = 0; n < 5; ++n) {
        ASSERT_EQ(f->ReadFrame(n, frame), FrameStatus::kOk);
        EXPECT_EQ(Bytes(frame), ReferenceRgba(test::EncodedSlot(0, 50, looks[n]), 1920, 1080)) << n;
    }
    f->ReadSound(2, sound);
    EXPECT_EQ(sound, AsInt32(test::TestSound(0)));
    EXPECT_EQ(Open({PlayKind::kPlaylist, 5})->EndMode(), PlayEnd::kStop);
}

TEST_F(ItemFramesTest, TitleCardAndStillAreOneFrame) {
    MakePlaylist(0, {0}, false);
    auto slot = test::EncodedSlot(0, 50, 3);
    ASSERT_TRUE(card.WriteClusters(card.Regions().TitleCluster(0), slot.data(), kCpf));
    auto t = Open({PlayKind::kPlaylist, 0, true});
    ASSERT_TRUE(t);
    EXPECT_EQ(t->FrameCount(), 1);
    EXPECT_EQ(t->Name(), "title card of playlist 1");
    RgbaFrame frame;
    ASSERT_EQ(t->ReadFrame(0, frame), FrameStatus::kOk);
    EXPECT_EQ(Bytes(frame), ReferenceRgba(slot, 1920, 1080));

    PutItem(CardItem::kStill, 3, {test::EncodedSlot(0, 50, 6)}, card.Regions().StillCluster(3));
    auto s = Open({PlayKind::kStill, 3});
    ASSERT_TRUE(s);
    EXPECT_EQ(s->FrameCount(), 1);
    ASSERT_EQ(s->ReadFrame(0, frame), FrameStatus::kOk);
    EXPECT_EQ(Bytes(frame), ReferenceRgba(test::EncodedSlot(0, 50, 6), 1920, 1080));
}

TEST_F(ItemFramesTest, EffectLumaTwoIsTransparentAndItsMarksAreRead) {
    // Every pixel left of x = 960 is luma 2; the marks of frame i: position
    // 100 i, fade 50 + i, kind 1 (wipe), frames after 1 - i.
    std::vector<std::vector<uint8_t>> slots;
    for (uint32_t i = 0; i < 2; ++i) {
        const KVQ1Geometry g = KVQ1GeometryFor(1);
        std::vector<uint8_t> y(g.LumaBytes(), 16), cb(g.ChromaBytes(), 128), cr(g.ChromaBytes(), 128);
        for (int row = 0; row < g.height; ++row) std::memset(y.data() + size_t(row) * 1920, 2, 960);
        for (int row = 0; row < g.height; ++row) std::memset(y.data() + size_t(row) * 1920 + 960, 180, 960);
        std::vector<uint8_t> slot(size_t(kCpf) * kClusterSize, 0);
        WriteAudioChunkHeader(slot.data(), i, AudioShareBytes(50, i));
        KVQ1Encoder enc(1, 768, 50);
        ASSERT_GT(enc.Encode(i, y.data(), cb.data(), cr.data(), slot.data() + kClusterSize), 0);
        uint8_t* marks = slot.data() + kClusterSize + kEffectMarksOffset;
        const int position = 100 * int(i);
        marks[0] = kEffectMarkByte;
        marks[3] = uint8_t(position & 0xFF);
        marks[4] = uint8_t((position >> 8) << 5);
        marks[5] = uint8_t(50 + i);
        marks[6] = 1;
        marks[7] = uint8_t(1 - i);
        slots.push_back(slot);
    }
    PutItem(CardItem::kEffect, 1, slots, uint32_t(card.FirstItemCluster() + 1000));
    auto f = Open({PlayKind::kEffect, 1});
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->HasAlpha());
    ASSERT_EQ(f->Marks().size(), 2u);
    EXPECT_EQ(f->Marks()[1].position, 100);
    EXPECT_EQ(f->Marks()[1].fade, 51);
    EXPECT_EQ(f->Marks()[1].kind, 1);
    EXPECT_EQ(f->Marks()[0].framesAfter, 1);
    RgbaFrame frame;
    ASSERT_EQ(f->ReadFrame(1, frame), FrameStatus::kOk);
    // Decoded luma 2 survives the codec only where the picture is flat; the
    // middle of each half is.
    EXPECT_EQ(frame.Row(540)[4 * 400 + 3], 0);
    EXPECT_EQ(frame.Row(540)[4 * 1400 + 3], 255);
    YCbCrFrame planes;
    ASSERT_EQ(f->ReadYCbCr(1, planes), FrameStatus::kOk);
    EXPECT_EQ(planes.a[540 * 1920 + 400], 0);
    EXPECT_EQ(planes.a[540 * 1920 + 1400], 255);
}

TEST_F(ItemFramesTest, LogoIsItsColourQuarterWithTheAlphaQuarter) {
    PutItem(CardItem::kLogo, 0, {test::LogoSlot(0), test::LogoSlot(1)}, uint32_t(card.FirstItemCluster() + 1200));
    auto f = Open({PlayKind::kLogo, 0});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Width(), 960);
    EXPECT_EQ(f->Height(), 540);
    EXPECT_EQ(f->RateNum(), 50);
    RgbaFrame frame;
    ASSERT_EQ(f->ReadFrame(1, frame), FrameStatus::kOk);
    const std::vector<uint8_t> want = ReferenceRgba(test::LogoSlot(1), 960, 540);
    // The disc's middle is opaque, the corner transparent; colours are the step's.
    EXPECT_EQ(frame.Row(270)[4 * 480 + 3], 255);
    EXPECT_EQ(frame.Row(10)[4 * 10 + 3], 0);
    for (int x : {10, 480})
        EXPECT_EQ(0, std::memcmp(frame.Row(270) + 4 * x, want.data() + (270 * 960 + size_t(x)) * 4, 3)) << x;
}

TEST_F(ItemFramesTest, DamagedSlotsAreNamedAndTheNextFrameReads) {
    // Frame 1 of video 1 overwritten with a header of the wrong size class.
    const EntryHead h = card.Directory().Video(0);
    std::vector<uint8_t> cluster(kClusterSize);
    ASSERT_TRUE(card.ReadCluster(h.startCluster + kCpf + 1, cluster.data()));
    cluster[4] = 2;
    ASSERT_TRUE(card.WriteCluster(h.startCluster + kCpf + 1, cluster.data()));
    auto f = Open({PlayKind::kVideo, 0});
    ASSERT_TRUE(f);
    RgbaFrame frame;
    EXPECT_EQ(f->ReadFrame(1, frame), FrameStatus::kDamaged);
    EXPECT_EQ(f->Damage(), "video 1 'a': frame 1 has a damaged frame header");
    EXPECT_EQ(frame.Row(0)[3], 255);
    EXPECT_EQ(f->ReadFrame(2, frame), FrameStatus::kOk);

    // A read that fails: damaged, no message from the reading thread, and
    // the frame after it reads.
    fault->failReadAt = fault->reads + 1;
    EXPECT_EQ(f->ReadFrame(0, frame), FrameStatus::kDamaged);
    EXPECT_EQ(f->Damage().rfind("video 1 'a': frame 0 cannot be read (", 0), 0u) << f->Damage();
    EXPECT_EQ(f->ReadFrame(2, frame), FrameStatus::kOk);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(ItemFramesTest, NothingToPlayIsSaid) {
    std::string why;
    EXPECT_FALSE(CItemFrames::Open(card, {PlayKind::kVideo, 1}, &why));
    EXPECT_EQ(why, "video 2 is empty");
    EXPECT_FALSE(CItemFrames::Open(card, {PlayKind::kPlaylist, 3}, &why));
    EXPECT_EQ(why, "playlist 4 is empty");
    EXPECT_FALSE(CItemFrames::Open(card, {PlayKind::kPlaylist, 3, true}, &why));
    EXPECT_EQ(why, "playlist 4 has no title card");
    EXPECT_FALSE(CItemFrames::Open(card, {PlayKind::kLogo, 8}, &why));
    EXPECT_EQ(why, "there is no logo 9");
}

TEST_F(ItemFramesTest, PrefetcherGivesFramesInOrderSeeksWrapsAndReusesItsStorage) {
    MakePlaylist(0, {0, 2}, true);
    auto f = Open({PlayKind::kPlaylist, 0});
    ASSERT_TRUE(f);
    CFramePrefetcher ahead(*f, 2);
    PrefetchedFrame got;
    ahead.Start(3);
    std::vector<int64_t> order;
    while (ahead.Take(got, -1)) order.push_back(got.number);
    EXPECT_EQ(order, (std::vector<int64_t>{3, 4}));
    EXPECT_TRUE(ahead.AtEnd());
    EXPECT_EQ(got.soundFrames, 960u);
    EXPECT_EQ(got.sound, AsInt32(test::TestSound(1)));

    // Wrapping round a repeating playlist; storage comes from a fixed set.
    ahead.SetWrap(true);
    ahead.Seek(4);
    order.clear();
    std::set<const uint8_t*> buffers;
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(ahead.Take(got, -1));
        order.push_back(got.number);
        EXPECT_EQ(got.status, FrameStatus::kOk);
        if (i >= 3) buffers.insert(got.picture.Bits());
    }
    EXPECT_EQ(order, (std::vector<int64_t>{4, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0}));
    EXPECT_LE(buffers.size(), 3u);  // the queue's two and ours
    EXPECT_LE(ahead.Queued(), 2u);

    // A seek drops what was read ahead for the old place.
    ahead.Seek(2);
    ASSERT_TRUE(ahead.Take(got, -1));
    EXPECT_EQ(got.number, 2);
    RgbaFrame direct;
    ahead.Stop();  // the reader is the thread's while it runs
    ASSERT_EQ(f->ReadFrame(2, direct), FrameStatus::kOk);
    EXPECT_EQ(Bytes(got.picture), Bytes(direct));
    EXPECT_FALSE(ahead.Take(got, 0));

    // Backwards: round the end while wrapping, else ending on frame 0.
    ahead.Start(1, {-1});
    order.clear();
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(ahead.Take(got, -1));
        order.push_back(got.number);
        EXPECT_EQ(got.tick, i);
    }
    EXPECT_EQ(order, (std::vector<int64_t>{1, 0, 4, 3}));
    ahead.SetWrap(false);
    ahead.Start(1, {-1});
    order.clear();
    while (ahead.Take(got, -1)) order.push_back(got.number);
    EXPECT_EQ(order, (std::vector<int64_t>{1, 0}));
    EXPECT_TRUE(ahead.AtEnd());
}

// A play clock in virtual time, moved on only by the machine's work: the
// reader's every decision is then the same on any machine under any load.
class VirtualClock : public CPlayClock {
public:
    int64_t NowUs() const override {
        const int64_t s = start.load();
        return s < 0 ? -1 : time.load() - s;
    }
    int64_t StopwatchUs() const override { return time.load(); }
    std::atomic<int64_t> time{0};
    std::atomic<int64_t> start{-1};  // the timeline's 0, once running
};

// A machine that takes `pictureUs` of the clock for every picture of a
// 50 frames a second item (its sound costs nothing). The timeline starts
// once the lead and the first frame are in hand, as the player's does.
class SlowMachine : public IFrameSource {
public:
    SlowMachine(VirtualClock& clock, int64_t pictureUs, int64_t frames)
        : clock_(clock), pictureUs_(pictureUs), readyAt(size_t(frames), -1) {}
    int64_t FrameCount() const override { return int64_t(readyAt.size()); }
    int Width() const override { return 2; }
    int Height() const override { return 2; }
    int RateNum() const override { return 50; }
    int RateDen() const override { return 1; }
    FrameStatus ReadFrame(int64_t n, RgbaFrame& out) override {
        EXPECT_TRUE(out.Resize(2, 2));
        clock_.time += pictureUs_;
        readyAt[size_t(n)] = clock_.NowUs();
        if (++decoded_ == kPictureLeadFrames + 1) clock_.start = clock_.time.load();
        return FrameStatus::kOk;
    }
    size_t ReadSound(int64_t n, std::vector<int32_t>& interleaved) override {
        interleaved.assign(2, int32_t(n));
        return 1;
    }
    VirtualClock& clock_;
    const int64_t pictureUs_;
    int decoded_ = 0;
    std::vector<int64_t> readyAt;  // the clock when each picture was ready; -1 skipped
};

TEST(FramePrefetcherTest, AReaderSlowerThanTheRateSkipsPicturesEvenlyNeverLateAndKeepsEverySound) {
    struct Row {
        int64_t pictureUs;
        int shownPercent;  // of the frames after the first ones
        int longestSkipRun;
    } rows[] = {
        {15000, 100, 0},  // faster than the rate: every picture
        {33333, 60, 1},   // 60 % of real time: single skips, never two in a row
        {50000, 40, 2},   // 40 %: at most two in a row
    };
    constexpr int64_t kFrames = 300;
    for (const Row& r : rows) {
        VirtualClock clock;
        SlowMachine machine(clock, r.pictureUs, kFrames);
        CFramePrefetcher ahead(machine, 4);
        PrefetchedFrame got;
        WarmPicture(got, 2, 2);
        ReadRun run;
        run.clock = &clock;
        ahead.Start(0, run);
        std::vector<bool> skipped;
        while (ahead.Take(got, -1)) {
            // Every frame comes, in order, with its sound.
            ASSERT_EQ(got.number, int64_t(skipped.size()));
            EXPECT_EQ(got.tick, got.number);
            ASSERT_EQ(got.soundFrames, 1u);
            EXPECT_EQ(got.sound[0], int32_t(got.number));
            skipped.push_back(got.skipped);
        }
        ahead.Stop();
        ASSERT_EQ(int64_t(skipped.size()), kFrames) << r.pictureUs;
        EXPECT_FALSE(skipped.back());  // the last frame of a run that ends shows
        int shown = 0, runLength = 0, longest = 0;
        for (int64_t n = kPictureLeadFrames + 1; n < kFrames; ++n) {
            runLength = skipped[size_t(n)] ? runLength + 1 : 0;
            longest = std::max(longest, runLength);
            if (skipped[size_t(n)]) continue;
            ++shown;
            // Every picture decoded is ready by the time it is due.
            EXPECT_LE(machine.readyAt[size_t(n)], DueMicros(n, 50, 1)) << r.pictureUs << " frame " << n;
        }
        EXPECT_NEAR(shown * 100.0 / double(kFrames - kPictureLeadFrames - 1), r.shownPercent, 1.5) << r.pictureUs;
        EXPECT_EQ(longest, r.longestSkipRun) << r.pictureUs;
    }
}

TEST(OverBlackTest, OpaqueKeepsItsValuesTransparentIsBlackHalfIsHalfway) {
    struct Case {
        uint8_t y, cb, a;  // every pixel of a 2 x 2 frame
        uint8_t wantY, wantCb;
    };
    const Case cases[] = {{10, 40, 255, 10, 40}, {235, 240, 255, 235, 240}, {200, 30, 0, 16, 128},
                          {216, 228, 128, 116, 178}, {6, 28, 128, 11, 78}};
    for (const Case& c : cases) {
        YCbCrFrame f;
        f.width = f.height = 2;
        f.y.assign(4, c.y);
        f.cb.assign(1, c.cb);
        f.cr.assign(1, c.cb);
        f.a.assign(4, c.a);
        OverBlack(f);
        EXPECT_EQ(f.y[3], c.wantY) << int(c.y) << " " << int(c.a);
        EXPECT_EQ(f.cb[0], c.wantCb) << int(c.cb) << " " << int(c.a);
        EXPECT_EQ(f.cr[0], c.wantCb);
        EXPECT_TRUE(f.a.empty());
    }
}

}  // namespace
}  // namespace rk

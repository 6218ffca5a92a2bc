// The player window on the offscreen platform over a real card image: the
// frames it paints are the core's frames, the sound it hands the sink is
// the card's byte for byte, playlists repeat or hold their last frame, the
// keys do what they say (J plays backwards), a decode slower than the rate
// drops pictures and says how many while every sample still reaches the
// sink in order, effects show over the checkerboard with their marks, and
// the main window opens the player from its lists and closes it before
// anything writes the card.
//
// With RK_PLAYER_SCREENSHOT set to a PNG path, the effect test also saves
// the player window there (tools/screenshot_player.sh).
#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "app/main_win.h"
#include "app/main_win_menus.h"
#include "app/player_sound.h"
#include "app/player_view.h"
#include "app/player_window.h"
#include "card/card_item.h"
#include "codec/effect_marks.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_encoder.h"
#include "effects/stinger.h"
#include "gui_support.h"
#include "media/item_frames.h"
#include "media/video_ops.h"
#include "media/media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kCpf = 33;
constexpr int kEffectFrames = 3;

// Effect frame i of kEffectFrames: luma 2 (transparent) outside a bright
// band and a disc, a wipe whose position moves 700 a frame, fade 100 + i.
std::vector<uint8_t> EffectSlot(uint32_t i) {
    const KVQ1Geometry g = KVQ1GeometryFor(1);
    std::vector<uint8_t> y(g.LumaBytes(), 2), cb(g.ChromaBytes(), 128), cr(g.ChromaBytes(), 128);
    for (int row = 0; row < g.height; ++row)
        for (int x = 0; x < g.width; ++x) {
            const int dx = x - 1300 - int(i) * 40, dy = row - 540;
            if ((row > 380 && row < 700 && x > 200 && x < 1000) || dx * dx + dy * dy < 260 * 260)
                y[size_t(row) * size_t(g.width) + size_t(x)] = uint8_t(60 + x / 12);
        }
    for (int row = 0; row < g.ChromaCodedHeight(); ++row)
        for (int x = 0; x < g.ChromaWidth(); ++x) cr[size_t(row) * size_t(g.ChromaWidth()) + size_t(x)] = 200;
    std::vector<uint8_t> slot(size_t(kCpf) * kClusterBytes, 0);
    WriteAudioChunkHeader(slot.data(), i, AudioShareBytes(50, i));
    KVQ1Encoder enc(1, 768, 50);
    EXPECT_GT(enc.Encode(i, y.data(), cb.data(), cr.data(), slot.data() + kClusterBytes), 0);
    uint8_t* marks = slot.data() + kClusterBytes + kEffectMarksOffset;
    const int position = i + 1 == kEffectFrames ? kEffectLastFramePosition : 300 + 700 * int(i);
    marks[0] = kEffectMarkByte;
    marks[3] = uint8_t(position & 0xFF);
    marks[4] = uint8_t((position >> 8) << 5);
    marks[5] = uint8_t(100 + i);
    marks[6] = uint8_t(kTransitionWipe);
    marks[7] = uint8_t(kEffectFrames - 1 - i);
    return slot;
}

// The card's sound of a frame as the sink receives it (Int32 samples).
QByteArray SinkBytes(uint32_t frame) {
    const std::vector<uint8_t> le24 = test::TestSound(frame);
    QByteArray out;
    for (size_t i = 0; i + 2 < le24.size(); i += 3) {
        const int32_t v = int32_t(uint32_t(le24[i]) << 8 | uint32_t(le24[i + 1]) << 16 | uint32_t(le24[i + 2]) << 24);
        out.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    return out;
}

// A machine whose decode runs at 60 % of real time at 50 frames a second:
// every picture takes at least 33 ms (its sound costs what it costs).
class SlowDecode : public IFrameSource {
public:
    explicit SlowDecode(std::unique_ptr<CItemFrames> frames) : frames_(std::move(frames)) {}
    int64_t FrameCount() const override { return frames_->FrameCount(); }
    int Width() const override { return frames_->Width(); }
    int Height() const override { return frames_->Height(); }
    int RateNum() const override { return frames_->RateNum(); }
    int RateDen() const override { return frames_->RateDen(); }
    FrameStatus ReadFrame(int64_t n, RgbaFrame& out) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(33333);
        const FrameStatus status = frames_->ReadFrame(n, out);
        std::this_thread::sleep_until(until);
        return status;
    }
    size_t ReadSound(int64_t n, std::vector<int32_t>& interleaved) override {
        return frames_->ReadSound(n, interleaved);
    }

private:
    std::unique_ptr<CItemFrames> frames_;
};

// A card holding video 1 (3 frames, looks 0..2), video 2 (2 frames, looks
// 4, 5), playlist 1 (video 2, video 1; repeats), playlist 2 (video 2;
// stops), effect 2 (kEffectFrames frames) — all with the test sound.
class PlayerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = env.MakeCard("card.img", 64, 0);
        ASSERT_TRUE(test::OpenCard(card, image));
        const std::string a = dir.File("a.kavq1"), b = dir.File("b.kavq1");
        ASSERT_TRUE(test::WriteEncodedKAVQ1WithSound(a, 3, 0));
        ASSERT_TRUE(test::WriteEncodedKAVQ1WithSound(b, 2, 4));
        ASSERT_EQ(AddVideoFromPath(op, card, 0, a, {}).result, OpResult::kDone);
        ASSERT_EQ(AddVideoFromPath(op, card, 1, b, {}).result, OpResult::kDone);
        CardDirectory& d = card.Directory();
        d.SetClipCount(0, 2);
        d.SetClip(0, 0, 1);
        d.SetClip(0, 1, 0);
        d.SetLoopFlag(0, 1);
        d.SetClipCount(1, 1);
        d.SetClip(1, 0, 1);
        d.SetLoopFlag(1, 0);
        ASSERT_TRUE(card.WriteDirectory());
        const uint32_t at = uint32_t(card.FirstItemCluster() + 1000);
        for (uint32_t i = 0; i < kEffectFrames; ++i) {
            const std::vector<uint8_t> slot = EffectSlot(i);
            ASSERT_TRUE(card.WriteClusters(at + i * kCpf, slot.data(), kCpf));
        }
        ItemEntry e;
        e.kind = CardItem::kEffect;
        e.index = 1;
        e.head = EntryHead{at, uint16_t(kEffectFrames), uint16_t(kCpf)};
        ASSERT_TRUE(card.CommitItem(e, nullptr));
    }

    // The frames of `target` as the core reads them, read before a player
    // opens (the player's thread is then the card's only reader).
    std::vector<QImage> CoreFrames(const PlayTarget& target) {
        std::vector<QImage> out;
        auto f = CItemFrames::Open(card, target);
        EXPECT_TRUE(f);
        if (!f) return out;
        RgbaFrame frame;
        for (int64_t n = 0; n < f->FrameCount(); ++n) {
            EXPECT_EQ(f->ReadFrame(n, frame), FrameStatus::kOk);
            out.push_back(QImage(frame.Bits(), frame.Width(), frame.Height(), qsizetype(frame.Stride()),
                                 QImage::Format_RGBA8888)
                              .copy());
        }
        return out;
    }

    // With `realTimeSink` the null sink stands for a device and its sound
    // leads.
    std::unique_ptr<CPlayerWindow> OpenPlayer(const PlayTarget& target, CNullSound** sink = nullptr,
                                              bool realTimeSink = false) {
        auto sound = std::make_unique<CNullSound>(true, realTimeSink);
        if (sink) *sink = sound.get();
        auto frames = CItemFrames::Open(card, target);
        EXPECT_TRUE(frames);
        if (!frames) return nullptr;
        auto p = std::make_unique<CPlayerWindow>(std::move(frames), std::move(sound), QStringLiteral("test"));
        // One view pixel a frame pixel: what it paints is what it was given.
        p->View()->setFixedSize(1920, 1080);
        p->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(p.get()));
        return p;
    }

    // Plays to the end (or `frames` shown) with the throttle off; the
    // frames shown, in order.
    static std::vector<qint64> PlayUnthrottled(CPlayerWindow& p, int frames = -1, bool backward = false) {
        std::vector<qint64> shown;
        const auto seen = QObject::connect(&p, &CPlayerWindow::frameShown, &p, [&](qint64 n) {
            shown.push_back(n);
            if (int(shown.size()) == frames) p.Pause();
        });
        p.SetThrottle(false);
        if (backward) p.PlayBackward();
        else p.Play();
        for (int i = 0; i < 3000 && p.Playing(); ++i) QTest::qWait(5);
        EXPECT_FALSE(p.Playing());
        QObject::disconnect(seen);
        p.SetThrottle(true);
        return shown;
    }

    // Plays in real time through a decode at 60 % of real time until
    // `frames` have been shown or dropped; the frames shown, in order.
    static std::vector<qint64> PlaySlowly(CPlayerWindow& p, CSDCard& card, int frames) {
        p.ReadThrough(std::make_unique<SlowDecode>(CItemFrames::Open(card, p.Frames().Target())));
        std::vector<qint64> shown;
        const auto seen = QObject::connect(&p, &CPlayerWindow::frameShown, &p, [&](qint64 n) { shown.push_back(n); });
        p.Play();
        for (int i = 0; i < 4000 && p.Playing() && int(shown.size() + p.FramesDropped()) < frames; ++i)
            QTest::qWait(5);
        EXPECT_TRUE(p.Playing());
        p.Pause();
        QObject::disconnect(seen);
        return shown;
    }

    static QImage Painted(const CPlayerWindow& p) {
        return p.View()->grab().toImage().convertToFormat(QImage::Format_RGBA8888);
    }

    test::GuiEnv env;
    test::TempDir dir;
    std::string image;
    CScriptedOperator op;
    CSDCard card;
};

TEST_F(PlayerWindowTest, PaintsTheCoresFramesAndHandsTheSinkTheCardsSound) {
    const std::vector<QImage> core = CoreFrames({PlayKind::kVideo, 0});
    ASSERT_EQ(core.size(), 3u);
    CNullSound* sink = nullptr;
    auto p = OpenPlayer({PlayKind::kVideo, 0}, &sink);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->CurrentFrame(), 0);
    // Frames N and N + 1 as painted, stepped with the arrow key.
    for (int n : {1, 2}) {
        QTest::keyClick(p.get(), Qt::Key_Right);
        ASSERT_EQ(p->CurrentFrame(), n);
        EXPECT_EQ(Painted(*p), core[size_t(n)]) << "frame " << n;
        EXPECT_EQ(p->TimeText(), QStringLiteral("0:00:00.0%1").arg(n));
        EXPECT_EQ(p->FrameText(), QStringLiteral("Frame %1 of 3").arg(n + 1));
    }
    EXPECT_NE(core[1], core[2]);
    // Played from the start: every frame shown once, and the sink holds the
    // card's samples of frames 0, 1, 2 and nothing else.
    QTest::keyClick(p.get(), Qt::Key_Home);
    EXPECT_EQ(PlayUnthrottled(*p), (std::vector<qint64>{0, 1, 2}));
    EXPECT_EQ(sink->Captured(), SinkBytes(0) + SinkBytes(1) + SinkBytes(2));
    EXPECT_EQ(Painted(*p), core[2]);
}

TEST_F(PlayerWindowTest, RepeatingPlaylistGoesBackToItsFirstClipAndAStoppingOneHoldsItsLastFrame) {
    const std::vector<QImage> repeat = CoreFrames({PlayKind::kPlaylist, 0});
    const std::vector<QImage> once = CoreFrames({PlayKind::kPlaylist, 1});
    ASSERT_EQ(repeat.size(), 5u);
    ASSERT_EQ(once.size(), 2u);
    {
        auto p = OpenPlayer({PlayKind::kPlaylist, 0});
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->Loop());
        EXPECT_EQ(PlayUnthrottled(*p, 8), (std::vector<qint64>{0, 1, 2, 3, 4, 0, 1, 2}));
        // Clip 1 again after the last clip: video 2's first frame.
        QTest::keyClick(p.get(), Qt::Key_Home);
        EXPECT_EQ(Painted(*p), repeat[0]);
    }
    auto p = OpenPlayer({PlayKind::kPlaylist, 1});
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->Loop());
    QSignalSpy ended(p.get(), &CPlayerWindow::playEnded);
    EXPECT_EQ(PlayUnthrottled(*p), (std::vector<qint64>{0, 1}));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(p->CurrentFrame(), 1);
    EXPECT_EQ(Painted(*p), once[1]);
}

TEST_F(PlayerWindowTest, KeysPlayPauseStepAndJump) {
    auto p = OpenPlayer({PlayKind::kPlaylist, 0});
    ASSERT_TRUE(p);
    QTest::keyClick(p.get(), Qt::Key_End);
    EXPECT_EQ(p->CurrentFrame(), 4);
    QTest::keyClick(p.get(), Qt::Key_Left);
    EXPECT_EQ(p->CurrentFrame(), 3);
    QTest::keyClick(p.get(), Qt::Key_Home);
    EXPECT_EQ(p->CurrentFrame(), 0);
    QTest::keyClick(p.get(), Qt::Key_Left);  // nothing before the first frame
    EXPECT_EQ(p->CurrentFrame(), 0);
    QTest::keyClick(p.get(), Qt::Key_Right);
    EXPECT_EQ(p->CurrentFrame(), 1);
    QTest::keyClick(p.get(), Qt::Key_Space);
    EXPECT_TRUE(p->Playing());
    QTest::keyClick(p.get(), Qt::Key_Space);
    EXPECT_FALSE(p->Playing());
    // J, K and L shuttle: backwards, pause, forwards, each from the other.
    QTest::keyClick(p.get(), Qt::Key_L);
    EXPECT_TRUE(p->Playing());
    QTest::keyClick(p.get(), Qt::Key_J);
    EXPECT_TRUE(p->PlayingBackward());
    QTest::keyClick(p.get(), Qt::Key_L);
    EXPECT_TRUE(p->Playing());
    EXPECT_FALSE(p->PlayingBackward());
    QTest::keyClick(p.get(), Qt::Key_K);
    EXPECT_FALSE(p->Playing());
    QTest::keyClick(p.get(), Qt::Key_J);
    EXPECT_TRUE(p->PlayingBackward());
    QTest::keyClick(p.get(), Qt::Key_K);
    EXPECT_FALSE(p->Playing());
}

TEST_F(PlayerWindowTest, PlayingBackwardsShowsTheFramesInReverseRoundTheLoopSilently) {
    const std::vector<QImage> core = CoreFrames({PlayKind::kPlaylist, 0});
    CNullSound* sink = nullptr;
    auto p = OpenPlayer({PlayKind::kPlaylist, 0}, &sink);
    ASSERT_TRUE(p);
    QTest::keyClick(p.get(), Qt::Key_Right);
    EXPECT_EQ(PlayUnthrottled(*p, 7, true), (std::vector<qint64>{1, 0, 4, 3, 2, 1, 0}));
    EXPECT_EQ(Painted(*p), core[0]);
    EXPECT_TRUE(sink->Captured().isEmpty());
    // Without the loop it ends on the first frame; from there it starts
    // again at the last.
    p->SetLoop(false);
    QSignalSpy ended(p.get(), &CPlayerWindow::playEnded);
    EXPECT_EQ(PlayUnthrottled(*p, -1, true), (std::vector<qint64>{4, 3, 2, 1, 0}));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(Painted(*p), core[0]);
    EXPECT_TRUE(sink->Captured().isEmpty());
}

TEST_F(PlayerWindowTest, ADecodeSlowerThanTheRateDropsPicturesAndSaysHowMany) {
    auto p = OpenPlayer({PlayKind::kPlaylist, 0});
    ASSERT_TRUE(p);
    ASSERT_FALSE(p->SoundLeads());
    const std::vector<qint64> shown = PlaySlowly(*p, card, 40);
    // A decode at 60 % of real time cannot show every frame; every frame
    // is shown once or counted dropped, and the count is on the window.
    EXPECT_GT(p->FramesDropped(), 0);
    EXPECT_GT(shown.size(), 5u);
    EXPECT_TRUE(p->StatusText().contains(QStringLiteral("Dropped frames: %1").arg(p->FramesDropped())))
        << p->StatusText().toStdString();
}

TEST_F(PlayerWindowTest, WithTheSoundLeadingASlowDecodeDropsPicturesButEverySampleReachesTheSinkInOrder) {
    CNullSound* sink = nullptr;
    auto p = OpenPlayer({PlayKind::kPlaylist, 0}, &sink, true);
    ASSERT_TRUE(p);
    const std::vector<qint64> shown = PlaySlowly(*p, card, 40);
    EXPECT_TRUE(p->SoundLeads());
    EXPECT_FALSE(p->StatusText().contains(QStringLiteral("No sound device")));
    EXPECT_GT(p->FramesDropped(), 0);
    // Playlist 1's frames are video 2's two and video 1's three, round
    // and round: the sink holds their sound from the first, whole frames,
    // none missing, none twice.
    const QByteArray sound[5] = {SinkBytes(0), SinkBytes(1), SinkBytes(0), SinkBytes(1), SinkBytes(2)};
    QByteArray expected;
    int frames = 0;
    while (expected.size() < sink->Captured().size()) expected += sound[frames++ % 5];
    EXPECT_GE(frames, 30);
    EXPECT_EQ(sink->Captured(), expected);
}

TEST_F(PlayerWindowTest, OnTheSystemClockEveryFrameIsShownOrCountedDropped) {
    auto p = OpenPlayer({PlayKind::kVideo, 0});
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->SoundLeads());
    EXPECT_TRUE(p->StatusText().contains(QStringLiteral("No sound device")));
    int shown = 0;
    QObject::connect(p.get(), &CPlayerWindow::frameShown, p.get(), [&] { ++shown; });
    QSignalSpy ended(p.get(), &CPlayerWindow::playEnded);
    p->Play();
    EXPECT_TRUE(ended.wait(20000));
    EXPECT_EQ(shown + p->FramesDropped(), 3);
    EXPECT_EQ(p->CurrentFrame(), 2);
}

TEST_F(PlayerWindowTest, EffectShowsOverTheCheckerboardWithItsMarksAndItsAlpha) {
    const std::vector<QImage> core = CoreFrames({PlayKind::kEffect, 1});
    ASSERT_EQ(core.size(), size_t(kEffectFrames));
    auto p = OpenPlayer({PlayKind::kEffect, 1});
    ASSERT_TRUE(p);
    auto* alpha = p->findChild<QCheckBox*>(QStringLiteral("playerShowAlpha"));
    ASSERT_NE(alpha, nullptr);
    EXPECT_TRUE(alpha->isVisible());
    QTest::keyClick(p.get(), Qt::Key_Right);
    // The wipe's position as the editor draws it, from frame 2's marks.
    EXPECT_EQ(p->View()->Marker(), 1000 * 1000 / kMaxPosition);
    const QImage painted = Painted(*p);
    // Transparent pixels show the board (white or grey 160), opaque ones
    // the frame.
    const QRgb board = painted.pixel(40, 40);
    EXPECT_TRUE(board == qRgb(255, 255, 255) || board == qRgb(160, 160, 160)) << std::hex << board;
    EXPECT_EQ(qAlpha(core[1].pixel(40, 40)), 0);
    EXPECT_EQ(painted.pixel(600, 540), core[1].pixel(600, 540) | 0xff000000u);
    // Show alpha: the transparency alone, black where transparent.
    alpha->click();
    const QImage mask = Painted(*p);
    EXPECT_EQ(mask.pixel(40, 40), qRgb(0, 0, 0));
    EXPECT_EQ(mask.pixel(600, 540), qRgb(255, 255, 255));
    alpha->click();

    if (qEnvironmentVariableIsSet("RK_PLAYER_SCREENSHOT")) {
        p->View()->setMinimumSize(0, 0);
        p->View()->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        p->View()->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        p->resize(972, 650);
        QTest::qWait(50);
        EXPECT_TRUE(p->grab().save(qEnvironmentVariable("RK_PLAYER_SCREENSHOT")));
    }
}

TEST_F(PlayerWindowTest, MainWindowOpensThePlayerFromItsListsAndClosesItBeforeAWrite) {
    card.Close();
    auto win = test::OpenWindow();
    ASSERT_TRUE(win->Ready());
    QListWidget* videos = win->List(IDC_VIDEO_LIST);
    ASSERT_EQ(videos->count(), 2);
    // Nothing selected: the entry is there, disabled.
    videos->clearSelection();
    auto menu = win->Menus().MenuFor(IDC_VIDEO_LIST);
    auto* entry = menu->findChild<QAction*>(QStringLiteral("actionPreview"));
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(entry->isEnabled());
    // A double-click plays the video.
    const QPoint cell = videos->visualItemRect(videos->item(1)).center();
    QTest::mouseClick(videos->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    QTest::mouseDClick(videos->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    ASSERT_NE(win->Player(), nullptr);
    EXPECT_EQ(win->Player()->Frames().Target().number, 1);
    EXPECT_TRUE(win->Player()->windowTitle().contains(QStringLiteral("Video 2")));
    // The playlists offer the title card too.
    win->SetCurrentPlaylist(0);
    menu = win->Menus().MenuFor(IDC_PLAYLIST_LIST);
    ASSERT_NE(menu->findChild<QAction*>(QStringLiteral("actionPreviewTitleCard")), nullptr);
    menu->findChild<QAction*>(QStringLiteral("actionPreview"))->trigger();
    ASSERT_NE(win->Player(), nullptr);
    EXPECT_EQ(win->Player()->Frames().Target().kind, PlayKind::kPlaylist);
    EXPECT_EQ(win->Player()->Frames().FrameCount(), 5);
    // A write to the card closes the player first.
    win->Player()->Play();
    win->SetPlaylistLoop(false);
    EXPECT_EQ(win->Player(), nullptr);
    test::WaitIdle(*win);
}

}  // namespace
}  // namespace rk

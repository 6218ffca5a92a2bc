// The effect and logo dialogs as real widgets: the effect type choice, the
// keyframe editor with its preview, and the "Write logo?" question.
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

#include "app/control_ids.h"
#include "app/dlg_anim_logo.h"
#include "app/dlg_effect_type.h"
#include "app/dlg_stinger_editor.h"
#include "app/pic_ctrl.h"
#include "app/tick_slider.h"
#include "base/translate.h"
#include "effects/stinger.h"
#include "gui_support.h"

namespace rk {
namespace {

using test::ClickControl;
using test::GuiEnv;
using test::OnNextModal;

// Shown in the dialog (not hidden by its own rules; the dialog itself need
// not be on screen).
bool Shown(const CCoolDialog& d, int id) {
    QWidget* w = d.Control(id);
    return w && !w->isHidden();
}

// An effect of `frames` 640 x 360 previews without a keyframe file: the left
// half of every preview transparent, the right half opaque in a colour of
// its own per frame.
CStinger MakeEffect(int frames, int kind) {
    CStinger s("/nonexistent/rk-effect-test/pic_001.png");
    for (int f = 0; f < frames; ++f) {
        CPicture& p = s.Pictures().AddNew();
        EXPECT_TRUE(p.Create(640, 360));
        for (int y = 0; y < 360; ++y)
            for (int x = 0; x < 640; ++x)
                p.SetPixel(x, y, x < 320 ? 0xff000000u : (0x00000000u | uint32_t(f * 20) << 16 | 0x40u));
    }
    EXPECT_TRUE(s.ReadKeyframes());
    s.SetTransitionKind(kind);
    return s;
}

void Click(QWidget* w, QPoint at) { QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at); }

// ---- The effect type choice ----

TEST(EffectTypeDialog, OffersCutWipeAndMixAndFollowsClicks) {
    GuiEnv env;
    CDlgEffectType dlg(nullptr);
    dlg.show();
    // The animated wipes and their frames never show.
    for (int id : {1020, 1027, 1025, 1026}) EXPECT_FALSE(Shown(dlg, id)) << id;
    for (int id : {1017, 1018, 1019, 1030, 1031}) EXPECT_TRUE(Shown(dlg, id)) << id;
    EXPECT_EQ(dlg.ControlText(1017), QStringLiteral("Stinger transition - simple cut"));
    EXPECT_EQ(dlg.ControlText(1024), QStringLiteral("Choose effect type:"));
    // Preselected: simple cut, no sound; the frames mark them.
    EXPECT_TRUE(Shown(dlg, 1021));
    EXPECT_FALSE(Shown(dlg, 1022) || Shown(dlg, 1023));
    EXPECT_TRUE(Shown(dlg, 1029));
    EXPECT_FALSE(Shown(dlg, 1028));

    // Clicks on the texts choose; the frames follow.
    Click(dlg.Control(1019), QPoint(5, 5));
    EXPECT_EQ(dlg.EffectType(), 2);
    EXPECT_TRUE(Shown(dlg, 1023));
    EXPECT_FALSE(Shown(dlg, 1021));
    Click(dlg.Control(1030), QPoint(5, 5));
    EXPECT_TRUE(dlg.WithSound());
    EXPECT_TRUE(Shown(dlg, 1028));
    EXPECT_FALSE(Shown(dlg, 1029));

    // OK answers what was chosen.
    dlg.hide();
    OnNextModal("rk::CDlgEffectType", [](QWidget* w) { ClickControl(w, 1); });
    EXPECT_TRUE(dlg.Run());
    EXPECT_EQ(dlg.EffectType(), 2);
    EXPECT_TRUE(dlg.WithSound());
}

TEST(EffectTypeDialog, HiddenSoundChoiceAnswersNoSoundAndCancelCancels) {
    GuiEnv env;
    CDlgEffectType dlg(nullptr);
    dlg.SetSoundChoiceShown(false);
    dlg.SetWithSound(true);
    dlg.SetEffectType(1);
    OnNextModal("rk::CDlgEffectType", [](QWidget* w) {
        auto* d = static_cast<CDlgEffectType*>(w);
        for (int id : {1030, 1031, 1028, 1029}) EXPECT_FALSE(Shown(*d, id)) << id;
        EXPECT_TRUE(Shown(*d, 1022));
        ClickControl(w, 1);
    });
    ASSERT_TRUE(dlg.Run());
    EXPECT_EQ(dlg.EffectType(), 1);
    EXPECT_FALSE(dlg.WithSound());

    CDlgEffectType cancelled(nullptr);
    OnNextModal("rk::CDlgEffectType", [](QWidget* w) { ClickControl(w, 2); });
    EXPECT_FALSE(cancelled.Run());
}

// ---- The keyframe editor ----

TEST(StingerEditor, CutModeShowsOnlyTheCutControlsAndOneTick) {
    GuiEnv env;
    CStinger s = MakeEffect(25, kTransitionWipe);
    s.SetDefaultCut();
    CDlgStingerEditor dlg(nullptr, s, true);
    dlg.show();
    for (int id : {1019, 2017, 1025, 8, 6, 7, 1029, 1020, 2018, 1028}) EXPECT_FALSE(Shown(dlg, id)) << id;
    for (int id : {9, 3, 4, 5, 1026, 1016, 1, 2, 2015, 2016}) EXPECT_TRUE(Shown(dlg, id)) << id;
    EXPECT_EQ(dlg.ControlText(9), QStringLiteral("Set cut position"));
    EXPECT_EQ(dlg.ControlText(2016), QStringLiteral("25"));
    EXPECT_EQ(dlg.ControlText(2015), QStringLiteral("1"));
    // One tick, at the cut (the first frame at 2046), not at every key.
    EXPECT_EQ(dlg.FrameSlider()->Ticks(), std::vector<int>{12});
    // The marker is never drawn in cut mode.
    EXPECT_EQ(dlg.Preview()->Marker(), -1);

    // "Set cut position" on frame 5 moves the cut there; fade keys stay.
    s.SetFadeKey(20, 99);
    dlg.FrameSlider()->setValue(5);
    EXPECT_EQ(dlg.CurrentFrame(), 5);
    EXPECT_EQ(dlg.ControlText(2015), QStringLiteral("6"));
    ClickControl(&dlg, 9);
    EXPECT_EQ(s.PositionKeys(), (CStinger::KeyMap{{4, 0}, {5, 2046}}));
    EXPECT_EQ(s.FadeKey(20), 99);
    EXPECT_EQ(dlg.FrameSlider()->Ticks(), std::vector<int>{5});
    EXPECT_EQ(dlg.Preview()->Marker(), -1);
    // On frame 0 only key 0 = 2046: every frame reads 2046.
    dlg.FrameSlider()->setValue(0);
    ClickControl(&dlg, 9);
    EXPECT_EQ(s.PositionKeys(), (CStinger::KeyMap{{0, 2046}}));
    for (int f = 0; f < 25; ++f) EXPECT_EQ(s.PositionAt(f, false), 2046) << f;
}

TEST(StingerEditor, PercentTextsKeysAndTicks) {
    EXPECT_EQ(CDlgStingerEditor::PositionText(1023), QStringLiteral("50% / 50%"));
    EXPECT_EQ(CDlgStingerEditor::PositionText(2046), QStringLiteral("100% / 0%"));
    EXPECT_EQ(CDlgStingerEditor::PositionText(0), QStringLiteral("0% / 100%"));
    EXPECT_EQ(CDlgStingerEditor::FadeText(128), QStringLiteral("50%"));
    EXPECT_EQ(CDlgStingerEditor::FadeText(255), QStringLiteral("100%"));

    GuiEnv env;
    CStinger s = MakeEffect(11, kTransitionWipe);  // keys 0 at frame 0, 2046 at frame 10
    CDlgStingerEditor dlg(nullptr, s, false);
    dlg.show();
    EXPECT_FALSE(Shown(dlg, 9));
    for (int id : {1019, 2017, 1029, 1020, 2018, 8}) EXPECT_TRUE(Shown(dlg, id)) << id;
    EXPECT_EQ(dlg.FrameSlider()->Ticks(), (std::vector<int>{0, 10}));
    EXPECT_EQ(dlg.PositionSlider()->maximum(), 2046);
    EXPECT_EQ(dlg.FadeSlider()->maximum(), 255);
    // Frame 0 has a position key: Delete shows, Add does not.
    EXPECT_TRUE(Shown(dlg, 7) && Shown(dlg, 1025));
    EXPECT_FALSE(Shown(dlg, 6));

    // Frame 5 has no key: its interpolated position, Add Keyframe offered.
    ClickControl(&dlg, 4);
    for (int i = 0; i < 4; ++i) ClickControl(&dlg, 4);
    ASSERT_EQ(dlg.CurrentFrame(), 5);
    EXPECT_EQ(dlg.PositionSlider()->value(), 1023);
    EXPECT_EQ(dlg.ControlText(2017), QStringLiteral("50% / 50%"));
    EXPECT_TRUE(Shown(dlg, 6));
    EXPECT_FALSE(Shown(dlg, 7) || Shown(dlg, 1025) || Shown(dlg, 1028));
    // The wipe's marker stands at the position, in tenths of a percent.
    EXPECT_EQ(dlg.Preview()->Marker(), 1023 * 1000 / 2046);

    // Moving the position slider makes a key there, with its tick.
    dlg.PositionSlider()->setValue(1500);
    EXPECT_EQ(s.PositionKey(5), 1500);
    EXPECT_EQ(dlg.FrameSlider()->Ticks(), (std::vector<int>{0, 5, 10}));
    EXPECT_EQ(dlg.ControlText(2017), QStringLiteral("73% / 27%"));
    EXPECT_TRUE(Shown(dlg, 7));
    // The fade slider: a fade key, "50%" at 128.
    dlg.FadeSlider()->setValue(128);
    EXPECT_EQ(s.FadeKey(5), 128);
    EXPECT_EQ(dlg.ControlText(2018), QStringLiteral("50%"));
    EXPECT_TRUE(Shown(dlg, 1028));

    // Delete Keyframe removes both keys of the frame.
    ClickControl(&dlg, 7);
    EXPECT_EQ(s.PositionKey(5), -1);
    EXPECT_EQ(s.FadeKey(5), -1);
    EXPECT_EQ(dlg.FrameSlider()->Ticks(), (std::vector<int>{0, 10}));
    EXPECT_EQ(dlg.PositionSlider()->value(), 1023) << "the slider back at the interpolated position";
    EXPECT_EQ(dlg.FadeSlider()->value(), 0);
    EXPECT_TRUE(Shown(dlg, 6));
    EXPECT_FALSE(Shown(dlg, 1028));

    // A frame with only a fade key offers Add Keyframe; a click on the fade
    // text removes that key, another makes one of the slider's value.
    dlg.FadeSlider()->setValue(200);
    EXPECT_TRUE(Shown(dlg, 6));
    EXPECT_FALSE(Shown(dlg, 7));
    Click(dlg.Control(2018), QPoint(3, 3));
    EXPECT_EQ(s.FadeKey(5), -1);
    EXPECT_EQ(dlg.FadeSlider()->value(), 0) << "the slider back at the interpolated fade";
    EXPECT_FALSE(Shown(dlg, 1028));
    Click(dlg.Control(2018), QPoint(3, 3));
    EXPECT_EQ(s.FadeKey(5), 0);
    EXPECT_TRUE(Shown(dlg, 1028));
    // A click on the position text makes a key from the slider, another removes it.
    Click(dlg.Control(2017), QPoint(3, 3));
    EXPECT_EQ(s.PositionKey(5), 1023);
    Click(dlg.Control(2017), QPoint(3, 3));
    EXPECT_EQ(s.PositionKey(5), -1);
    // Add Keyframe takes the slider's value.
    ClickControl(&dlg, 6);
    EXPECT_EQ(s.PositionKey(5), 1023);

    // Clear all keyframes: the default keys; the fade keys go.
    ClickControl(&dlg, 8);
    EXPECT_EQ(s.PositionKeys(), (CStinger::KeyMap{{0, 0}, {10, 2046}}));
    EXPECT_TRUE(s.FadeKeys().empty());
    EXPECT_EQ(dlg.FrameSlider()->Ticks(), (std::vector<int>{0, 10}));
    // Previous steps back and stops at frame 0.
    for (int i = 0; i < 8; ++i) ClickControl(&dlg, 3);
    EXPECT_EQ(dlg.CurrentFrame(), 0);
}

TEST(StingerEditor, ClickOnThePreviewSetsTheWipePositionButNotInAMix) {
    GuiEnv env;
    CStinger s = MakeEffect(4, kTransitionWipe);
    CDlgStingerEditor dlg(nullptr, s, false);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ClickControl(&dlg, 4);  // frame 1
    CPicCtrl* preview = dlg.Preview();
    const int w = preview->width();
    ASSERT_GT(w, 100);
    Click(preview, QPoint(w / 4, preview->height() / 2));
    EXPECT_EQ(s.PositionKey(1), (w / 4) * 2046 / w);
    EXPECT_EQ(dlg.PositionSlider()->value(), (w / 4) * 2046 / w);
    EXPECT_EQ(dlg.FrameSlider()->Ticks(), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(preview->Marker(), s.PositionKey(1) * 1000 / 2046);
    // On the left edge itself nothing happens.
    Click(preview, QPoint(0, 10));
    EXPECT_EQ(s.PositionKey(1), (w / 4) * 2046 / w);

    CStinger mix = MakeEffect(4, kTransitionMix);
    CDlgStingerEditor mixDlg(nullptr, mix, false);
    mixDlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&mixDlg));
    ClickControl(&mixDlg, 4);
    Click(mixDlg.Preview(), QPoint(mixDlg.Preview()->width() / 2, 10));
    EXPECT_EQ(mix.PositionKey(1), -1);
    EXPECT_EQ(mixDlg.Preview()->Marker(), -1) << "a mix never shows the marker";
}

TEST(StingerEditor, PreviewIsTheFrameOverACheckerboard) {
    GuiEnv env;
    CStinger s = MakeEffect(3, kTransitionMix);
    CDlgStingerEditor dlg(nullptr, s, false);
    ClickControl(&dlg, 4);
    ClickControl(&dlg, 4);
    const QImage& bmp = dlg.Preview()->Bitmap();
    ASSERT_EQ(bmp.size(), QSize(640, 360));
    // Transparent half: the board, white where square row and column share
    // parity, grey 160 elsewhere.
    EXPECT_EQ(bmp.pixel(3, 3), qRgb(255, 255, 255));
    EXPECT_EQ(bmp.pixel(11, 3), qRgb(160, 160, 160));
    EXPECT_EQ(bmp.pixel(11, 11), qRgb(255, 255, 255));
    // Opaque half: frame 2's own colour.
    EXPECT_EQ(bmp.pixel(400, 200), qRgb(40, 0, 0x40));
}

TEST(StingerEditor, PlayShowsEveryFrameInOrderAndIgnoresInput) {
    GuiEnv env;
    CStinger s = MakeEffect(50, kTransitionWipe);
    CDlgStingerEditor dlg(nullptr, s, false);
    dlg.show();
    std::vector<int> shown;
    QObject::connect(&dlg, &CDlgStingerEditor::frameShown, [&](int f) { shown.push_back(f); });
    bool finished = false;
    QObject::connect(&dlg, &CDlgStingerEditor::playFinished, [&] { finished = true; });
    ClickControl(&dlg, 5);
    EXPECT_TRUE(dlg.Playing());
    // Input while playing changes nothing.
    ClickControl(&dlg, 6);
    ClickControl(&dlg, 4);
    dlg.FadeSlider()->setValue(77);
    QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
    std::vector<int> want;
    for (int f = 0; f < 50; ++f) want.push_back(f);
    EXPECT_EQ(shown, want);
    EXPECT_EQ(dlg.CurrentFrame(), 49);
    EXPECT_FALSE(dlg.Playing());
    EXPECT_EQ(s.FadeKey(0), -1);
    EXPECT_EQ(s.PositionKeys().size(), 2u);
    EXPECT_EQ(dlg.ControlText(2015), QStringLiteral("50"));
}

TEST(StingerEditor, OkAndCancelAnswer) {
    GuiEnv env;
    CStinger s = MakeEffect(3, kTransitionWipe);
    CDlgStingerEditor ok(nullptr, s, false);
    OnNextModal("rk::CDlgStingerEditor", [](QWidget* w) { ClickControl(w, 1); });
    EXPECT_TRUE(ok.Run());
    CDlgStingerEditor cancel(nullptr, s, false);
    OnNextModal("rk::CDlgStingerEditor", [](QWidget* w) {
        // Keys edited before Cancel stay: the caller drops the effect.
        static_cast<CDlgStingerEditor*>(w)->PositionSlider()->setValue(100);
        ClickControl(w, 2);
    });
    EXPECT_FALSE(cancel.Run());
    EXPECT_EQ(s.PositionKey(0), 100);
}

// ---- The preview control ----

TEST(PicCtrl, MarkerSpansAndTheHatchedBar) {
    int l = 0, r = 0;
    ASSERT_TRUE(CPicCtrl::MarkerSpan(640, 0, l, r));
    EXPECT_EQ(l, 0);
    EXPECT_EQ(r, 3);
    ASSERT_TRUE(CPicCtrl::MarkerSpan(640, 1000, l, r));
    EXPECT_EQ(l, 638);
    EXPECT_EQ(r, 639);
    ASSERT_TRUE(CPicCtrl::MarkerSpan(640, 500, l, r));
    EXPECT_EQ(l, 318);
    EXPECT_EQ(r, 323);
    EXPECT_FALSE(CPicCtrl::MarkerSpan(640, -1, l, r));

    GuiEnv env;
    CPicCtrl pic;
    pic.resize(640, 360);
    // Without a bitmap nothing is drawn (and nothing breaks).
    (void)pic.grab();
    pic.CreateBitmap();
    pic.Picture().Clear();
    pic.Redraw();
    pic.SetMarker(1000);
    QImage img = pic.grab().toImage();
    ASSERT_EQ(img.width(), 640);
    for (int y : {0, 100, 359}) {
        EXPECT_EQ(img.pixel(638, y), qRgb(255, 255, 255)) << y;
        EXPECT_EQ(img.pixel(639, y), qRgb(255, 255, 255)) << y;
        EXPECT_EQ(img.pixel(637, y), qRgb(0, 0, 0)) << y;
    }
    pic.SetMarker(0);
    img = pic.grab().toImage();
    EXPECT_EQ(img.pixel(0, 50), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(3, 50), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(4, 50), qRgb(0, 0, 0));
    // The hatch inside the bar: some but not all inner pixels are white.
    int white = 0;
    for (int y = 1; y < 359; ++y) white += img.pixel(1, y) == qRgb(255, 255, 255);
    EXPECT_GT(white, 0);
    EXPECT_LT(white, 358);

    // Stretched to another size the picture fills the control.
    pic.SetMarker(-1);
    pic.Picture().Checkerboard();
    pic.Redraw();
    pic.resize(320, 180);
    img = pic.grab().toImage();
    EXPECT_EQ(img.pixel(1, 1), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(5, 1), qRgb(160, 160, 160));
}

// ---- The logo question ----

TEST(AnimLogoDialog, ReturnsEachSpeedAndNoDeclines) {
    GuiEnv env;
    for (int speed = 0; speed < 5; ++speed) {
        CDlgAnimLogo dlg(nullptr);
        OnNextModal("rk::CDlgAnimLogo", [speed](QWidget* w) {
            auto* d = static_cast<CDlgAnimLogo*>(w);
            auto* list = d->ControlAs<QComboBox>(1030);
            ASSERT_EQ(list->count(), 5);
            EXPECT_EQ(list->currentIndex(), 0);
            list->setCurrentIndex(speed);
            ClickControl(w, 1000);
        });
        ASSERT_TRUE(dlg.Run()) << speed;
        EXPECT_EQ(dlg.SpeedIndex(), speed);
    }
    CDlgAnimLogo first(nullptr);
    auto* list = first.ControlAs<QComboBox>(1030);
    EXPECT_EQ(list->itemText(0), QStringLiteral("Normal (50 fps)"));
    EXPECT_EQ(list->itemText(4), QStringLiteral("Slow x5"));
    EXPECT_EQ(first.ControlText(1003), QStringLiteral("Write logo?"));
    EXPECT_EQ(first.ControlText(2012), QStringLiteral("Playback speed"));

    CDlgAnimLogo no(nullptr, 3);
    OnNextModal("rk::CDlgAnimLogo", [](QWidget* w) { ClickControl(w, 1001); });
    EXPECT_FALSE(no.Run());
}

TEST(EffectDialogs, RussianTexts) {
    GuiEnv env;
    CTranslate& tr = CTranslate::Instance();
    ASSERT_TRUE(tr.LoadPacks());
    ASSERT_GT(tr.ChooseLanguage(1049), 0);
    {
        CDlgAnimLogo logo(nullptr);
        EXPECT_EQ(logo.ControlText(1003), QStringLiteral("Записать логотип?"));
        EXPECT_EQ(logo.ControlAs<QComboBox>(1030)->itemText(1), QStringLiteral("Замедленная x2"));
        EXPECT_EQ(logo.ControlText(1000), QStringLiteral("Да"));
        CDlgEffectType type(nullptr);
        EXPECT_EQ(type.ControlText(1024), QStringLiteral("Выберите тип эффекта:"));
        EXPECT_EQ(type.ControlText(1031), QStringLiteral("без звука"));
        CStinger s = MakeEffect(2, kTransitionWipe);
        CDlgStingerEditor editor(nullptr, s, true);
        EXPECT_EQ(editor.ControlText(9), QStringLiteral("Задать точку склейки"));
        EXPECT_EQ(editor.ControlText(11111).trimmed(), QStringLiteral("Редактор эффекта"));
        EXPECT_EQ(editor.ControlText(2), QStringLiteral("Отмена"));
    }
    tr.SetCurrent(0);
    CStinger s = MakeEffect(2, kTransitionWipe);
    CDlgStingerEditor english(nullptr, s, false);
    EXPECT_EQ(english.ControlText(7), QStringLiteral("Delete Keyframe"));
    EXPECT_EQ(english.ControlText(11111).trimmed(), QStringLiteral("Effect Editor"));
}

}  // namespace
}  // namespace rk

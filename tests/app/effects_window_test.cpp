// The effects and logos pages through the window, with the real tools: an
// effect made from a generated picture sequence with alpha and a sound, its
// type and keys answered in the dialogs, read back to ".effect"; a logo made
// from an ImageMagick picture with a soft alpha at "Slow x2", read back to
// ".animlogo".
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "app/cool_msgbox.h"
#include "app/dlg_anim_logo.h"
#include "app/dlg_effect_type.h"
#include "app/dlg_stinger_editor.h"
#include "app/main_win.h"
#include "app/pic_ctrl.h"
#include "app/tick_slider.h"
#include "card/card_directory.h"
#include "convert/tool_folder.h"
#include "effects/effect_format.h"
#include "gui_support.h"

namespace rk {
namespace {

using test::ClickControl;
using test::GuiEnv;
using test::OnNextModal;
using test::OpenWindow;
using test::WaitIdle;

bool Tool(const char* name) { return ::access(ProgramFile(name).c_str(), X_OK) == 0; }

bool RunTool(const char* tool, const QStringList& args, const QString& folder) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QString::fromStdString(ProgramFile(tool)), args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Answers the next file dialog with `path`, then runs `next` (which sets up
// the watcher of what follows) before accepting.
void AnswerFile(const QString& path, std::function<void()> next) {
    OnNextModal("QFileDialog", [path, next](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        dlg->selectFile(path);
        if (next) next();
        static_cast<QDialog*>(dlg)->accept();
    });
}

// Answers the next message box with `button` and records its text.
void AnswerBox(std::vector<QString>& texts, int button, std::function<void()> next = {}) {
    OnNextModal("rk::CCoolMsgBox", [&texts, button, next](QWidget* w) {
        texts.push_back(qobject_cast<CCoolMsgBox*>(w)->ControlText(1003));
        if (next) next();
        ClickControl(w, button);
    });
}

TEST(EffectsWindow, AddAndReadAnEffectAndALogoThroughTheDialogs) {
    if (!Tool(kToolFfmpeg) || !Tool(kToolImgConvert)) GTEST_SKIP() << "ffmpeg and img_convert are needed";
    GuiEnv env;
    env.MakeCard("card.img", 128, 0);
    const QString folder = env.CardFolder();
    // Three pictures with alpha (left half transparent) and a second of sound.
    ASSERT_TRUE(RunTool(kToolFfmpeg,
                    {"-v", "error", "-nostdin", "-f", "lavfi", "-i", "color=c=blue:s=320x180:r=25", "-vf",
                     "format=rgba,geq=r='X':g='Y':b='200':a='if(lt(X,160),0,255)'", "-frames:v", "3",
                     "-start_number", "1", "sting_%03d.png"},
                    folder));
    ASSERT_TRUE(RunTool(kToolFfmpeg,
                    {"-v", "error", "-nostdin", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t",
                     "1", "-ac", "2", "-c:a", "pcm_s24le", "tone.wav"},
                    folder));
    // A logo picture with a soft alpha, made by ImageMagick.
    ASSERT_TRUE(RunTool(kToolImgConvert,
                    {"-size", "200x100", "gradient:red-blue", "(", "-size", "200x100", "gradient:white-black", ")",
                     "-alpha", "off", "-compose", "CopyOpacity", "-composite", "PNG32:logo.png"},
                    folder));
    const QString picture = folder + QStringLiteral("/sting_001.png");

    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    win->SwitchPage(CMainWin::kPageEffects);
    ASSERT_TRUE(win->Control(2010)->isVisible());

    // Add: the picture, the type dialog (wipe, with sound), the WAV file,
    // the editor (a key at frame 2 by a click on the preview), the duration
    // question, "Write completed.".
    std::vector<QString> texts;
    bool typeAsked = false, editorShown = false;
    int clickedKey = -1;
    AnswerFile(picture, [&] {
        OnNextModal("rk::CDlgEffectType", [&](QWidget* w) {
            typeAsked = true;
            auto* d = static_cast<CDlgEffectType*>(w);
            EXPECT_FALSE(d->Control(1020)->isVisible());
            EXPECT_FALSE(d->Control(1027)->isVisible());
            QTest::mouseClick(d->Control(1018), Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
            QTest::mouseClick(d->Control(1030), Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
            AnswerFile(folder + QStringLiteral("/tone.wav"), [&] {
                OnNextModal("rk::CDlgStingerEditor", [&](QWidget* e) {
                    editorShown = true;
                    auto* ed = static_cast<CDlgStingerEditor*>(e);
                    EXPECT_FALSE(ed->CutMode());
                    EXPECT_EQ(ed->ControlText(2016), QStringLiteral("3"));
                    ClickControl(e, 4);  // frame 2 of 3 (index 1)
                    CPicCtrl* pic = ed->Preview();
                    QTest::mouseClick(pic, Qt::LeftButton, Qt::NoModifier, QPoint(pic->width() / 2, 5));
                    clickedKey = ed->PositionSlider()->value();
                    AnswerBox(texts, 1000, [&] { AnswerBox(texts, 1002); });
                    ClickControl(e, 1);
                });
            });
            ClickControl(w, 1);
        });
    });
    ClickControl(win.get(), 2010);
    WaitIdle(*win);
    EXPECT_TRUE(typeAsked);
    EXPECT_TRUE(editorShown);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Video duration:"))) << texts[0].toStdString();
    EXPECT_EQ(texts[1], QStringLiteral("Write completed."));

    const CardDirectory& d = win->Card().Directory();
    EntryHead e = d.Effect(0);
    ASSERT_EQ(e.numFrames, 3);
    EXPECT_EQ(e.clustersPerFrame, 33);
    EXPECT_EQ(d.EffectSwitch(0), 1);
    EXPECT_EQ(win->LastFileName(CMainWin::kFileStinger), picture.toStdString());
    // The row shows the number and the duration; the new row is selected.
    ASSERT_EQ(win->List(1014)->count(), 16);
    EXPECT_EQ(win->List(1014)->item(0)->text(),
              QStringLiteral("1 - ") + QString::fromStdString(FramesDurationText(3, win->Card().DisplayRate())));
    EXPECT_EQ(win->List(1014)->item(1)->text(), QStringLiteral("2"));
    EXPECT_EQ(win->SelectedRow(1014), 0);
    // The key set in the editor is in the marks of frame 2 (a wipe) and in
    // the keyframe file beside the pictures.
    ASSERT_GT(clickedKey, 900);
    ASSERT_LT(clickedKey, 1150);
    std::vector<uint8_t> slot(33 * size_t(kClusterSize));
    ASSERT_TRUE(win->Card().ReadClusters(e.startCluster + 33, slot.data(), 33));
    EffectMarks marks;
    ASSERT_TRUE(GetEffectMarks(slot.data() + kVideoAreaOffset, marks));
    EXPECT_EQ(marks.kind, 1);
    EXPECT_EQ(marks.position, clickedKey);
    QFile keys(folder + QStringLiteral("/sting_001.txt"));
    ASSERT_TRUE(keys.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = keys.readAll().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[1].left(4).trimmed().toInt(), clickedKey);
    // The sound went in: frame 1's audio bytes are not all zero.
    bool sound = false;
    for (size_t i = 32; i < 32 + 5760; ++i) sound = sound || slot[i] != 0;
    EXPECT_TRUE(sound);

    // Read it back.
    const QString effectFile = folder + QStringLiteral("/back.effect");
    texts.clear();
    AnswerFile(effectFile, [&] { AnswerBox(texts, 1002); });
    ASSERT_TRUE(win->Control(2041)->isVisible());
    ClickControl(win.get(), 2041);
    WaitIdle(*win);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Read completed."));
    EXPECT_EQ(uint64_t(QFileInfo(effectFile).size()), EffectFileBytes(3, 33));

    // A logo at "Slow x2".
    win->SwitchPage(CMainWin::kPageLogos);
    texts.clear();
    bool speedAsked = false;
    AnswerFile(folder + QStringLiteral("/logo.png"), [&] {
        OnNextModal("rk::CDlgAnimLogo", [&](QWidget* w) {
            speedAsked = true;
            auto* list = static_cast<CDlgAnimLogo*>(w)->ControlAs<QComboBox>(1030);
            list->setCurrentIndex(1);
            AnswerBox(texts, 1002);
            ClickControl(w, 1000);
        });
    });
    ClickControl(win.get(), 2036);
    WaitIdle(*win);
    EXPECT_TRUE(speedAsked);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Write completed."));
    EntryHead l = win->Card().Directory().Logo(0);
    EXPECT_EQ(l.numFrames, 2);
    EXPECT_EQ(win->List(1015)->item(0)->text(), QStringLiteral("1"));
    EXPECT_EQ(win->SelectedRow(1015), 0);

    const QString logoFile = folder + QStringLiteral("/back.animlogo");
    texts.clear();
    AnswerFile(logoFile, [&] { AnswerBox(texts, 1002); });
    ClickControl(win.get(), 2042);
    WaitIdle(*win);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Read completed."));
    EXPECT_EQ(QFileInfo(logoFile).size(), 32 + qint64(kClusterSize) * (2 * 33 + 2));

    // No to the logo question writes nothing.
    OnNextModal("rk::CDlgAnimLogo", [](QWidget* w) { ClickControl(w, 1001); });
    AnswerFile(folder + QStringLiteral("/logo.png"), {});
    ClickControl(win.get(), 2036);
    WaitIdle(*win);
    EXPECT_FALSE(win->Card().Directory().Logo(1).Used());
}

// On a 3840 x 2160 card the effects' Add asks for no file: it says that
// effects exist only on HD cards.
TEST(EffectsWindow, EffectAddOnUhdCardsSaysEffectsAreHdOnly) {
    GuiEnv env;
    env.MakeCard("uhd.img", 128, 7);
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    win->SwitchPage(CMainWin::kPageEffects);
    bool opened = false;
    QPointer<QTimer> watch = OnNextModal("QFileDialog", [&](QWidget* w) {
        opened = true;
        static_cast<QDialog*>(w)->reject();
    });
    std::vector<QString> texts;
    test::AnswerBoxes(texts, {1002});
    win->AddStinger();
    EXPECT_FALSE(opened) << "no file dialog on a 3840 x 2160 card";
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Effects exist only on HD cards;"))) << texts[0].toStdString();
    EXPECT_FALSE(win->Card().Directory().Effect(0).Used());
    delete watch.data();
}

}  // namespace
}  // namespace rk

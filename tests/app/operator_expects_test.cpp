// What an operator expects of the window beyond its layout: questions that
// name their target, keys that answer every dialog and reach the pages,
// empty lists that say what to do, texts that fit, progress with its pace,
// and a start-up that finds the running window, its files and the last card.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QLocale>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "app/about_box.h"
#include "app/check_report.h"
#include "app/cool_msgbox.h"
#include "app/dlg_anim_logo.h"
#include "app/dlg_effect_type.h"
#include "app/dlg_format.h"
#include "app/empty_text.h"
#include "app/instance_channel.h"
#include "app/main_app.h"
#include "app/main_win.h"
#include "app/settings.h"
#include "base/translate.h"
#include "card/drive_facts.h"
#include "card/video_modes.h"
#include "gui_support.h"

namespace rk {
namespace {

using test::GuiEnv;
using test::OnNextModal;
using test::OpenWindow;
using test::WaitIdle;

QString EmptyText(CMainWin& win, int listId) {
    auto* e = win.List(listId)->findChild<CEmptyText*>();
    return e && e->isVisibleTo(win.List(listId)) ? e->text() : QString();
}

TEST(OperatorExpects, FormatQuestionNamesTheCardAndEscapeDeclines) {
    GuiEnv env;
    const std::string path = env.MakeCard("Studio B.img", 64, 0);
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    QString text;
    bool closed = false;
    OnNextModal("rk::CDlgFormat", [&](QWidget* w) {
        auto* dlg = static_cast<CDlgFormat*>(w);
        text = dlg->ControlText(IDC_BOX_TEXT);
        // The whole text shows: the label is as tall as its wrapped lines.
        auto* label = dlg->ControlAs<QLabel>(IDC_BOX_TEXT);
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        EXPECT_LT(label->geometry().bottom(), dlg->Control(IDC_BOX_CHOICE)->y());
        QTest::keyClick(w, Qt::Key_Escape);
        closed = !w->isVisible();
    });
    win->ControlAs<QPushButton>(IDC_FORMAT)->click();
    WaitIdle(*win);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Format media?\n\nWARNING: ALL DATA ON MEDIA WILL BE LOST!\n\n")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("Media: ") + win->ControlAs<QComboBox>(IDC_MEDIA_LIST)->currentText()))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Studio B"))) << text.toStdString();
    EXPECT_TRUE(closed) << "Escape answers No";
    EXPECT_TRUE(win->Ready()) << "nothing was formatted";
}

// Escape answers No or Cancel in every question and dialog; Enter the
// button that has the focus.
TEST(OperatorExpects, EscapeAndEnterAnswerEveryDialog) {
    GuiEnv env;
    struct Row {
        const char* name;
        std::function<std::unique_ptr<QDialog>()> make;
        int enterButton;
        int enterResult;
        int escapeResult;
    };
    constexpr int kYes = static_cast<int>(kResultYes), kNo = static_cast<int>(kResultNo);
    constexpr int kOk = static_cast<int>(kResultOk);
    const Row rows[] = {
        {"question", [] { return std::make_unique<CCoolMsgBox>(kMsgQuestion, kIconQuestion, QStringLiteral("?"), nullptr); },
         IDC_BOX_YES, kYes, kNo},
        {"notice", [] { return std::make_unique<CCoolMsgBox>(kMsgNotice, kIconInformation, QStringLiteral("!"), nullptr); },
         IDC_BOX_OK, kOk, kOk},
        {"format", [] { return std::make_unique<CDlgFormat>(nullptr, 0, QStringLiteral("card")); }, IDC_BOX_YES,
         QDialog::Accepted, QDialog::Rejected},
        {"logo speed", [] { return std::make_unique<CDlgAnimLogo>(nullptr, 0); }, IDC_BOX_YES, QDialog::Accepted,
         QDialog::Rejected},
        {"about", [] { return std::make_unique<CAboutBox>(std::vector<ToolVersion>{}, nullptr); }, IDC_BOX_OK,
         QDialog::Accepted, QDialog::Accepted},
        {"check report",
         [] { return std::make_unique<CDlgCheckReport>(kIconWarning, QStringLiteral("x"), QStringList{}, nullptr); },
         IDC_BOX_OK, QDialog::Accepted, QDialog::Accepted},
    };
    for (const Row& row : rows) {
        for (const bool escape : {true, false}) {
            std::unique_ptr<QDialog> dlg = row.make();
            auto* cool = static_cast<CCoolDialog*>(dlg.get());
            QTimer::singleShot(0, dlg.get(), [&] {
                if (escape) {
                    QTest::keyClick(dlg.get(), Qt::Key_Escape);
                } else {
                    cool->Control(row.enterButton)->setFocus();
                    QTest::keyClick(cool->Control(row.enterButton), Qt::Key_Return);
                }
                // A key that answered nothing leaves the dialog open: end it for the test.
                if (dlg->isVisible()) dlg->done(-7);
            });
            const int result = dlg->exec();
            EXPECT_EQ(result, escape ? row.escapeResult : row.enterResult) << row.name << (escape ? ": Escape" : ": Enter");
            EXPECT_NE(result, -7) << row.name << (escape ? ": Escape" : ": Enter") << " answered nothing";
        }
    }
}

TEST(OperatorExpects, CtrlDigitsReachThePagesAndEnterEscapeKeepTheWindow) {
    GuiEnv env;
    env.MakeCard("card.img", 64, 0);
    auto win = OpenWindow();
    for (int page : {2, 3, 1, 0}) {
        QTest::keyClick(win.get(), static_cast<Qt::Key>(Qt::Key_1 + page), Qt::ControlModifier);
        EXPECT_EQ(win->CurrentPage(), page);
    }
    QTest::keyClick(win.get(), Qt::Key_Escape);
    QTest::keyClick(win.get(), Qt::Key_Return);
    EXPECT_TRUE(win->isVisible());
    // Every visible button takes the focus from Tab.
    for (QPushButton* b : win->findChildren<QPushButton*>())
        if (b->isVisible()) {
            EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus) << b->objectName().toStdString();
        }
}

TEST(OperatorExpects, EmptyListsSayWhatToDo) {
    GuiEnv env;
    {
        auto win = OpenWindow();
        ASSERT_TRUE(win->NoMedia());
        const QString text = EmptyText(*win, IDC_VIDEO_LIST);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Insert a card, or make a card image"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromStdString(CardFolderPath()))) << text.toStdString();
    }
    env.MakeCard("blank.img", 64, -1);
    {
        auto win = OpenWindow();
        ASSERT_TRUE(win->Card().IsOpen());
        ASSERT_FALSE(win->Ready());
        const QString text = EmptyText(*win, IDC_VIDEO_LIST);
        EXPECT_TRUE(text.contains(QStringLiteral("not formatted"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("<Format>"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(VideoModeName(0)))) << "the modes are named";
    }
}

TEST(OperatorExpects, AnEmptyPlaylistAsksForVideosAndA4KCardSaysEffectsAreHdOnly) {
    GuiEnv env;
    int uhd = -1;
    for (int m = 0; m < kVideoModeCount && uhd < 0; ++m)
        if (!IsHdMode(m)) uhd = m;
    ASSERT_GE(uhd, 0);
    env.MakeCard("uhd.img", 256, uhd);
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    win->SetCurrentPlaylist(0);
    win->UpdateControls();
    EXPECT_EQ(EmptyText(*win, IDC_CLIP_LIST), QStringLiteral("Drop videos here to add them to the playlist"));
    EXPECT_TRUE(EmptyText(*win, IDC_VIDEO_LIST).isEmpty()) << "a formatted card's video list has its hint below";
    win->SwitchPage(CMainWin::kPageEffects);
    win->UpdateControls();
    EXPECT_TRUE(win->ControlText(IDC_EFFECT_HINT).startsWith(QStringLiteral("Effects exist only on HD cards")))
        << win->ControlText(IDC_EFFECT_HINT).toStdString();
}

TEST(OperatorExpects, ProgressShowsDoneRateAndTimeLeft) {
    GuiEnv env;
    CMainWin win;
    win.show();
    ProgressScale scale;
    scale.total = 500;
    scale.unit = ProgressUnit::kFrames;
    win.BeginProgress(scale);
    win.SetProgress(120, false);
    const QString shown = win.ControlAs<QProgressBar>(IDC_PROGRESS)->format();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("120 of 500 frames, "))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral(" left"))) << shown.toStdString();
    EXPECT_TRUE(win.ControlAs<QProgressBar>(IDC_PROGRESS)->isTextVisible());
    win.EndProgress();
    // The pace itself, as the command line shows it too.
    const ProgressPace pace = ProgressPaceOf(100, 500, 4.0, "frames", 0);
    EXPECT_EQ(pace.rate, "25.0 frames/s");
    EXPECT_EQ(pace.left, "0:16");
    EXPECT_EQ(ProgressPaceOf(0, 500, 4.0, "frames", 0).left, "--:--");
    EXPECT_EQ(ProgressPaceOf(3, 10, 1.0, "clusters", 12288.0, "MB").rate, "0.0 MB/s");
    EXPECT_EQ(DurationClockText(3723), "1:02:03");
}

TEST(OperatorExpects, RussianTextsKeepTheDialogFontAndQtDialogsSpeakRussian) {
    GuiEnv env;
    CTranslate& tr = CTranslate::Instance();
    ASSERT_TRUE(tr.LoadPacks());
    ASSERT_GT(tr.ChooseLanguage(1049), 0);
    {
        CMainWin win;
        CDlgFormat format(nullptr, 0, QStringLiteral("Studio B (64 MB)"));
        for (CCoolDialog* dlg : std::initializer_list<CCoolDialog*>{&win, &format}) {
            for (QWidget* w : dlg->findChildren<QWidget*>()) {
                auto* label = qobject_cast<QLabel*>(w);
                auto* button = qobject_cast<QPushButton*>(w);
                if ((!label && !button) || w->property("controlId").toInt() <= 0) continue;
                EXPECT_GE(w->font().pointSize(), dlg->font().pointSize()) << w->objectName().toStdString();
                if (label && !label->wordWrap() && label->pixmap().isNull()) {
                    const int need = QFontMetrics(w->font()).boundingRect(QRect(), 0, label->text()).width();
                    EXPECT_TRUE(need <= w->width() || !w->toolTip().isEmpty())
                        << label->text().toStdString() << " is cut without its tool tip";
                }
            }
        }
        auto* text = format.ControlAs<QLabel>(IDC_BOX_TEXT);
        EXPECT_GE(text->height(), text->heightForWidth(text->width())) << "the warning's last line shows";
    }
    tr.SetCurrent(0);

    ASSERT_TRUE(InstallQtTranslation(*QCoreApplication::instance(), QLocale(QStringLiteral("ru_RU"))))
        << "qtbase_ru is installed with Qt's translations";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

TEST(OperatorExpects, AboutBoxShowsLongToolLinesWhole) {
    GuiEnv env;
    const std::string longLine(300, 'x');
    CAboutBox box({{"ffmpeg", "ffmpeg version 5.1 " + longLine}, {"ffprobe", "ffprobe " + longLine},
                   {"img_convert", "Version: ImageMagick 6 " + longLine}},
                  nullptr);
    auto* list = box.ControlAs<QLabel>(IDC_INFO_LIST);
    EXPECT_GE(list->height(), list->heightForWidth(list->width()));
    EXPECT_GT(box.Control(IDC_BOX_OK)->y(), list->geometry().bottom());
    EXPECT_LE(box.Control(IDC_BOX_OK)->geometry().bottom(), box.height());
}

TEST(OperatorExpects, TheLastCardUsedIsSelectedAgain) {
    GuiEnv env;
    const std::string first = env.MakeCard("a.img", 64, 0);
    const std::string second = env.MakeCard("b.img", 64, 0);
    std::string chosen;
    {
        auto win = OpenWindow();
        ASSERT_EQ(win->ControlAs<QComboBox>(IDC_MEDIA_LIST)->count(), 2);
        // Not the one a first scan picks by itself.
        QComboBox* media = win->ControlAs<QComboBox>(IDC_MEDIA_LIST);
        media->setCurrentIndex(media->currentIndex() == 0 ? 1 : 0);
        WaitIdle(*win);
        chosen = win->Card().Path();
        win->close();
    }
    EXPECT_EQ(ReadSetting(kSettingLastCard), chosen);
    auto again = OpenWindow();
    EXPECT_EQ(again->Card().Path(), chosen);
}

TEST(OperatorExpects, ALaterStartHandsItsFilesToTheRunningWindow) {
    QTemporaryDir runtime;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    {
        CInstanceChannel channel;
        ASSERT_TRUE(channel.Listen());
        QSignalSpy called(&channel, &CInstanceChannel::Called);
        const QStringList files{QStringLiteral("/tmp/a clip.mp4"), QStringLiteral("/tmp/b\nc.mov")};
        ASSERT_TRUE(CInstanceChannel::SendToRunning(files, 5000));
        ASSERT_TRUE(called.wait(5000));
        EXPECT_EQ(called.at(0).at(0).toStringList(), files);
        ASSERT_TRUE(CInstanceChannel::SendToRunning({}, 5000));
        ASSERT_TRUE(called.wait(5000));
        EXPECT_TRUE(called.at(1).at(0).toStringList().isEmpty()) << "only to the front";
    }
    EXPECT_FALSE(CInstanceChannel::SendToRunning({}, 300)) << "nobody listens any more";
    qputenv("XDG_RUNTIME_DIR", saved);

    // The file arguments of a start, made absolute; Qt's options and their values are not files.
    const QByteArray a0 = "reelkeep", a1 = "-platform", a2 = "offscreen", a3 = "clip.mp4", a4 = "/abs/b.mov",
                     a5 = "--verbose";
    char* argv[] = {const_cast<char*>(a0.data()), const_cast<char*>(a1.data()), const_cast<char*>(a2.data()),
                    const_cast<char*>(a3.data()), const_cast<char*>(a4.data()), const_cast<char*>(a5.data())};
    EXPECT_EQ(StartFiles(6, argv), (QStringList{QDir::current().absoluteFilePath(QStringLiteral("clip.mp4")),
                                                QStringLiteral("/abs/b.mov")}));
}

TEST(OperatorExpects, FilesGivenAtStartAreAddedToTheSelectedCard) {
    if (!QFile::exists(QStringLiteral("/usr/bin/ffmpeg"))) GTEST_SKIP() << "no ffmpeg";
    GuiEnv env;
    env.MakeCard("card.img", 256, 0);
    const QString source = env.CardFolder() + QStringLiteral("/From the desktop.mp4");
    ASSERT_EQ(QProcess::execute(QStringLiteral("/usr/bin/ffmpeg"),
                                {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"),
                                 QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                 QStringLiteral("testsrc2=size=320x180:rate=50:duration=0.06"),
                                 QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), source}),
              0);
    auto win = std::make_unique<CMainWin>();
    // Given before the window has scanned: added once the card is chosen.
    win->OpenFiles({source});
    win->SwitchPage(CMainWin::kPageLogos);
    std::vector<QString> texts;
    test::AnswerBoxes(texts, {IDC_BOX_YES, IDC_BOX_OK});
    win->show();
    for (int i = 0; i < 600 && win->List(IDC_VIDEO_LIST)->count() == 0; ++i) QTest::qWait(50);
    WaitIdle(*win);
    ASSERT_EQ(win->List(IDC_VIDEO_LIST)->count(), 1) << (texts.empty() ? "" : texts.back().toStdString());
    EXPECT_TRUE(win->List(IDC_VIDEO_LIST)->item(0)->text().startsWith(QStringLiteral("From the desktop\n")));
    EXPECT_EQ(win->CurrentPage(), CMainWin::kPageVideos);
}

}  // namespace
}  // namespace rk

// The window as an operator meets it: context menus with each page's
// operations, titled file dialogs, files dropped from a file manager added one
// after another (Stop ending the queue), the selected caption shown whole,
// Check card on clean and damaged cards, the offer to put a lost directory
// back, and the About box.
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <fstream>

#include "app/about_box.h"
#include "app/check_report.h"
#include "app/control_ids.h"
#include "app/cool_msgbox.h"
#include "app/main_win.h"
#include "app/main_win_menus.h"
#include "app/selected_caption.h"
#include "app/video_drop.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "gui_support.h"
#include "media/video_ops.h"
#include "media/media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

using test::GuiEnv;
using test::OpenWindow;
using test::WaitIdle;

bool Shown(CMainWin& w, int id) { return w.Control(id)->isVisible(); }

// Answers every modal dialog the window opens until it is deleted: message
// boxes by `answer` (the control to click), file dialogs by cancelling. What
// was shown is recorded in order; with `stopWhenBusy` Stop is clicked once as
// soon as an operation runs.
class AutoAnswer {
public:
    struct Shown {
        std::string dialog;  // "box", "file", "report", "about"
        std::string text;    // the box's text, the dialog's title, the report's headline
        MsgKind kind = kMsgNotice;
    };
    explicit AutoAnswer(CMainWin& win) : win_(win) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start(5);
    }
    std::function<int(const Shown&)> answer = [](const Shown& s) {
        return s.kind == kMsgQuestion ? IDC_BOX_YES : IDC_BOX_OK;
    };
    bool stopWhenBusy = false;
    bool stopped = false;
    QString titleWhileBusy;
    std::vector<Shown> shown;
    std::vector<CDlgCheckReport*> reports;  // valid only inside `onReport`
    std::function<void(CDlgCheckReport*)> onReport;

    std::vector<std::string> Texts(const char* dialog) const {
        std::vector<std::string> t;
        for (const auto& s : shown)
            if (s.dialog == dialog) t.push_back(s.text);
        return t;
    }

private:
    void Tick() {
        if (win_.Busy() && titleWhileBusy.isEmpty() && win_.windowTitle().contains(QLatin1Char('%')))
            titleWhileBusy = win_.windowTitle();
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible()) {
            if (stopWhenBusy && !stopped && win_.Busy() && win_.Control(IDC_STOP)->isVisible()) {
                stopped = true;
                win_.ControlAs<QPushButton>(IDC_STOP)->click();
            }
            return;
        }
        if (auto* box = qobject_cast<CCoolMsgBox*>(w)) {
            Shown s{"box", box->ControlText(IDC_BOX_TEXT).toStdString(), box->Kind()};
            shown.push_back(s);
            test::ClickControl(box, answer(s));
        } else if (auto* dlg = qobject_cast<QFileDialog*>(w)) {
            shown.push_back({"file", dlg->windowTitle().toStdString()});
            dlg->reject();
        } else if (auto* report = qobject_cast<CDlgCheckReport*>(w)) {
            shown.push_back({"report", report->Headline().toStdString()});
            if (onReport) onReport(report);
            report->accept();
        } else if (auto* about = qobject_cast<CAboutBox*>(w)) {
            shown.push_back({"about", about->ToolLines().join(QLatin1Char('|')).toStdString()});
            about->accept();
        }
    }
    CMainWin& win_;
    QTimer timer_;
};

void PutFakeVideos(const std::string& path, const std::vector<std::string>& names) {
    CSDCard card;
    ASSERT_EQ(card.OpenPath(path), kOpenOk);
    ASSERT_TRUE(card.ReadDirectory());
    const uint16_t x = uint16_t(card.ClustersPerFrame());
    uint32_t next = uint32_t(card.FirstItemCluster());
    for (size_t v = 0; v < names.size(); ++v) {
        card.Directory().SetVideo(int(v), EntryHead{next, 1, x});
        card.Directory().SetVideoNameUtf8(int(v), names[v]);
        next += x + kThumbnailClusters;
    }
    ASSERT_TRUE(card.WriteDirectory());
}

// A card image holding one really encoded video, 'Intro', of `frames` frames.
void PutEncodedVideo(GuiEnv& env, const std::string& image, int frames) {
    const std::string kavq1 = env.CardFolder().toStdString() + "/intro.kavq1";
    ASSERT_TRUE(test::WriteEncodedKAVQ1(kavq1, frames));
    CSDCard card;
    CScriptedOperator op;
    card.SetOperator(&op);
    ASSERT_TRUE(test::OpenCard(card, image));
    ASSERT_EQ(AddVideoFromPath(op, card, 0, kavq1, ImportOptions{}, "Intro").result, OpResult::kDone);
    std::remove(kavq1.c_str());
}

void PutBytes(const std::string& path, uint64_t offset, const void* data, size_t size) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(offset));
    f.write(static_cast<const char*>(data), std::streamsize(size));
}

QStringList ActionTexts(const QMenu& menu, bool enabledOnly = false) {
    QStringList t;
    for (QAction* a : menu.actions())
        if (!a->isSeparator() && (!enabledOnly || a->isEnabled())) t << a->text().section(QLatin1Char('\t'), 0, 0);
    return t;
}

// ---- Context menus and file dialogs ----

TEST(WindowOperator, EachListsMenuOffersItsPagesOperations) {
    GuiEnv env;
    PutFakeVideos(env.MakeCard("card.img", 64, 0), {"one", "two"});
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    CWindowMenus& menus = win->Menus();

    QListWidget* videos = win->List(IDC_VIDEO_LIST);
    videos->setCurrentRow(1);
    auto m = menus.MenuFor(IDC_VIDEO_LIST);
    EXPECT_EQ(ActionTexts(*m), (QStringList{"Add", "Delete", "Read", "Preview"}));
    EXPECT_EQ(ActionTexts(*m, true), (QStringList{"Add", "Delete", "Read", "Preview"}));
    videos->clearSelection();
    m = menus.MenuFor(IDC_VIDEO_LIST);
    EXPECT_EQ(ActionTexts(*m, true), QStringList{"Add"}) << "nothing selected: only Add, as the buttons";

    EXPECT_EQ(ActionTexts(*menus.MenuFor(IDC_PLAYLIST_LIST)),
              (QStringList{"Clear playlist", "Stop on last frame", "Repeat playlist", "Preview", "Preview title card"}));
    EXPECT_EQ(ActionTexts(*menus.MenuFor(IDC_CLIP_LIST)).first(), QStringLiteral("Remove clip"));
    for (int id : {IDC_STILL_LIST, IDC_EFFECT_LIST, IDC_LOGO_LIST})
        EXPECT_EQ(ActionTexts(*menus.MenuFor(id)), (QStringList{"Add", "Delete", "Read", "Preview"})) << id;
    EXPECT_TRUE(ActionTexts(*menus.MenuFor(IDC_STILL_LIST), true).isEmpty()) << "another page's operations are off";
    EXPECT_EQ(ActionTexts(*menus.MenuFor(CWindowMenus::kCardMenu), true),
              (QStringList{"Format", "Refresh", "Check card", "About"}));
    // The keys that do the same stand beside the entries.
    videos->setCurrentRow(0);
    m = menus.MenuFor(IDC_VIDEO_LIST);
    EXPECT_TRUE(m->actions()[1]->text().contains(QLatin1Char('\t')));
}

TEST(WindowOperator, RightClickOpensTheMenuWhoseReadOpensTheTitledSaveDialog) {
    GuiEnv env;
    PutFakeVideos(env.MakeCard("card.img", 64, 0), {"one", "two"});
    auto win = OpenWindow();
    QListWidget* videos = win->List(IDC_VIDEO_LIST);
    const QRect r = videos->visualItemRect(videos->item(1));
    // The press selects, as a right click does, and the menu follows.
    QTest::mousePress(videos->viewport(), Qt::RightButton, {}, r.center());
    QTest::mouseRelease(videos->viewport(), Qt::RightButton, {}, r.center());
    EXPECT_EQ(win->SelectedVideoSlot(), 1);

    QStringList offered;
    bool opened = false;
    QTimer::singleShot(20, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        opened = true;
        offered = ActionTexts(*menu, true);
        for (QAction* a : menu->actions())
            if (a->objectName() == QStringLiteral("action%1").arg(IDC_VIDEO_READ)) {
                menu->close();
                a->trigger();
                return;
            }
        menu->close();
    });
    AutoAnswer answers(*win);
    QContextMenuEvent event(QContextMenuEvent::Mouse, r.center(), videos->viewport()->mapToGlobal(r.center()));
    QApplication::sendEvent(videos->viewport(), &event);
    QTest::qWait(50);
    WaitIdle(*win);
    EXPECT_TRUE(opened);
    EXPECT_EQ(offered, (QStringList{"Add", "Delete", "Read", "Preview"}));
    EXPECT_EQ(answers.Texts("file"), std::vector<std::string>{"Read video to file"});
}

TEST(WindowOperator, TheAddDialogIsTitledByWhatItDoes) {
    GuiEnv env;
    env.MakeCard("card.img", 64, 0);
    auto win = OpenWindow();
    AutoAnswer answers(*win);
    win->ControlAs<QPushButton>(IDC_VIDEO_ADD)->click();
    WaitIdle(*win);
    EXPECT_EQ(answers.Texts("file"), std::vector<std::string>{"Add video"});
}

// ---- The selected caption ----

TEST(WindowOperator, TheSelectedCaptionShowsWhole) {
    GuiEnv env;
    const std::string longName =
        "A rather long name for one video of the evening show, far wider than its cell in the list";
    PutFakeVideos(env.MakeCard("card.img", 64, 0), {longName, "short"});
    auto win = OpenWindow();
    QListWidget* videos = win->List(IDC_VIDEO_LIST);
    auto* panel = videos->viewport()->findChild<CCaptionPanel*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isVisible());
    videos->setCurrentRow(0);
    QTest::qWait(20);
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->Text(), videos->item(0)->text());
    EXPECT_TRUE(panel->Text().startsWith(QString::fromStdString(longName)));
    // The panel takes the room the whole text needs, more than the cell leaves.
    const int need = CCaptionPanel::TextHeight(panel->Text(), videos->font(), panel->width() - 4);
    EXPECT_GE(panel->height(), need);
    const QRect cell = videos->visualItemRect(videos->item(0));
    EXPECT_GT(panel->geometry().bottom(), cell.bottom()) << "a long caption reaches below its cell";
    EXPECT_GE(panel->geometry().top(), cell.top() + videos->iconSize().height()) << "the picture stays visible";
    // A word longer than the width still shows whole, broken inside the word.
    EXPECT_GT(CCaptionPanel::TextHeight(QString(200, QLatin1Char('W')), videos->font(), 100),
              CCaptionPanel::TextHeight(QStringLiteral("W"), videos->font(), 100));
    // It follows the selection and goes with it.
    videos->setCurrentRow(1);
    QTest::qWait(20);
    EXPECT_EQ(panel->Text(), videos->item(1)->text());
    videos->clearSelection();
    QTest::qWait(20);
    EXPECT_FALSE(panel->isVisible());
}

// ---- Files dropped from a file manager ----

QString MakeClip(const GuiEnv& env, const char* name, const char* duration) {
    const QString path = env.CardFolder() + QLatin1Char('/') + QLatin1String(name);
    const int made = QProcess::execute(QStringLiteral("/usr/bin/ffmpeg"),
                                       {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"),
                                        QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                        QStringLiteral("testsrc2=size=320x180:rate=50:duration=%1").arg(duration),
                                        QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), path});
    EXPECT_EQ(made, 0) << name;
    return path;
}

// Sends a drag of `data` onto `target` and, when it is taken, the drop.
// Answers whether the drop was accepted.
bool DropOn(QWidget* target, QMimeData* data) {
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

QMimeData* FilesData(const QStringList& files) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& f : files) urls << QUrl::fromLocalFile(f);
    data->setUrls(urls);
    return data;
}

void WaitQueue(CMainWin& win) {
    QTest::qWait(20);
    for (int i = 0; i < 6000 && (win.DropQueue().Running() || win.Busy()); ++i) QTest::qWait(10);
    WaitIdle(win);
}

TEST(WindowOperator, TwoDroppedFilesAreAddedInOrder) {
    if (!QFile::exists(QStringLiteral("/usr/bin/ffmpeg"))) GTEST_SKIP() << "no ffmpeg";
    GuiEnv env;
    env.MakeCard("card.img", 256, 0);
    const QString first = MakeClip(env, "Opening titles.mp4", "0.06");
    const QString second = MakeClip(env, "Weather.mp4", "0.08");
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    AutoAnswer answers(*win);
    std::unique_ptr<QMimeData> data(FilesData({first, second}));
    ASSERT_TRUE(DropOn(win->List(IDC_VIDEO_LIST)->viewport(), data.get()));
    WaitQueue(*win);

    // Each file had its own question and its own completion, first before second.
    const auto boxes = answers.Texts("box");
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].rfind("Video duration:", 0), 0u) << boxes[0];
    EXPECT_EQ(boxes[1], "Write completed.");
    EXPECT_EQ(boxes[2].rfind("Video duration:", 0), 0u) << boxes[2];
    EXPECT_EQ(boxes[3], "Write completed.");
    const CardDirectory& d = win->Card().Directory();
    EXPECT_EQ(d.VideoNameUtf8(0), "Opening titles");
    EXPECT_EQ(d.VideoNameUtf8(1), "Weather");
    ASSERT_EQ(win->List(IDC_VIDEO_LIST)->count(), 2);
    EXPECT_EQ(win->SelectedVideoSlot(), 1) << "the last added is selected";
    EXPECT_TRUE(Shown(*win, IDC_VIDEO_READ));
    EXPECT_EQ(win->LastFileName(CMainWin::kFileVideo), second.toStdString());
}

TEST(WindowOperator, StopEndsTheQueueOfDroppedFilesAndTheTitleShowsProgress) {
    if (!QFile::exists(QStringLiteral("/usr/bin/ffmpeg"))) GTEST_SKIP() << "no ffmpeg";
    GuiEnv env;
    env.MakeCard("card.img", 512, 0);
    const QString longer = MakeClip(env, "long.mp4", "4");
    const QString a = MakeClip(env, "a.mp4", "0.06");
    const QString b = MakeClip(env, "b.mp4", "0.06");
    auto win = OpenWindow();
    const QString idleTitle = win->windowTitle();
    AutoAnswer answers(*win);
    answers.stopWhenBusy = true;
    // Keeping what was written is declined.
    answers.answer = [](const AutoAnswer::Shown& s) {
        if (s.kind == kMsgNotice) return int(IDC_BOX_OK);
        return s.text.rfind("Video duration:", 0) == 0 ? int(IDC_BOX_YES) : int(IDC_BOX_NO);
    };
    std::unique_ptr<QMimeData> data(FilesData({longer, a, b}));
    ASSERT_TRUE(DropOn(win->List(IDC_VIDEO_LIST)->viewport(), data.get()));
    WaitQueue(*win);
    ASSERT_TRUE(answers.stopped);
    int durations = 0;
    for (const auto& t : answers.Texts("box")) durations += t.rfind("Video duration:", 0) == 0;
    EXPECT_EQ(durations, 1) << "the files after the stopped one were never asked for";
    EXPECT_EQ(win->List(IDC_VIDEO_LIST)->count(), 0);
    EXPECT_FALSE(win->DropQueue().Running());
    EXPECT_EQ(win->DropQueue().Waiting(), 0u);
    // While it ran, the title carried the percentage; now it is as before.
    EXPECT_TRUE(answers.titleWhileBusy.endsWith(QStringLiteral("% - ") + idleTitle))
        << answers.titleWhileBusy.toStdString();
    EXPECT_EQ(win->windowTitle(), idleTitle);

    // A later drop starts a queue of its own.
    std::unique_ptr<QMimeData> again(FilesData({a}));
    answers.stopWhenBusy = false;
    answers.answer = [](const AutoAnswer::Shown& s) { return s.kind == kMsgQuestion ? IDC_BOX_YES : IDC_BOX_OK; };
    ASSERT_TRUE(DropOn(win.get(), again.get())) << "the page around the list takes files too";
    WaitQueue(*win);
    EXPECT_EQ(win->List(IDC_VIDEO_LIST)->count(), 1);
}

TEST(WindowOperator, OnlyFilesOnTheVideosPageAreTaken) {
    GuiEnv env;
    env.MakeCard("card.img", 64, 0);
    auto win = OpenWindow();
    QWidget* target = win->List(IDC_VIDEO_LIST)->viewport();
    // The lists' own drags carry no files: left to the lists, never queued.
    std::unique_ptr<QMimeData> internal(new QMimeData);
    internal->setData(QStringLiteral("application/x-qabstractitemmodeldatalist"), QByteArray());
    DropOn(target, internal.get());
    QTest::qWait(20);
    EXPECT_FALSE(win->DropQueue().Running());
    EXPECT_EQ(win->DropQueue().Waiting(), 0u);
    EXPECT_EQ(CVideoDropQueue::LocalFiles(internal.get()), QStringList());
    // A link to a web page is no file, nor is a folder.
    std::unique_ptr<QMimeData> web(new QMimeData);
    web->setUrls({QUrl(QStringLiteral("https://example.org/clip.mp4"))});
    EXPECT_FALSE(DropOn(target, web.get()));
    std::unique_ptr<QMimeData> folder(FilesData({env.CardFolder()}));
    EXPECT_FALSE(DropOn(target, folder.get()));
    // Files on another page are refused.
    const QString file = env.CardFolder() + QStringLiteral("/card.img");
    std::unique_ptr<QMimeData> files(FilesData({file}));
    win->SwitchPage(CMainWin::kPageStills);
    EXPECT_FALSE(DropOn(win.get(), files.get()));
    EXPECT_FALSE(win->DropQueue().Running());
    EXPECT_EQ(win->DropQueue().Waiting(), 0u);
}

// ---- Check card ----

// Clicks Check card and gives the lines of the report it showed, if any.
QStringList CheckCardFindings(CMainWin& win, AutoAnswer& answers) {
    QStringList findings;
    answers.onReport = [&](CDlgCheckReport* r) {
        for (int i = 0; i < r->Findings()->count(); ++i) findings << r->Findings()->item(i)->text();
    };
    win.ControlAs<QPushButton>(IDC_CHECK_CARD)->click();
    WaitIdle(win);
    answers.onReport = nullptr;
    return findings;
}

TEST(WindowOperator, CheckCardOnACleanCardSaysSo) {
    GuiEnv env;
    const std::string image = env.MakeCard("card.img", 64, 0);
    PutEncodedVideo(env, image, 4);
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    ASSERT_TRUE(Shown(*win, IDC_CHECK_CARD));
    AutoAnswer answers(*win);
    win->ControlAs<QPushButton>(IDC_CHECK_CARD)->click();
    WaitIdle(*win);
    EXPECT_EQ(answers.Texts("report").size(), 0u);
    EXPECT_EQ(answers.Texts("box"),
              std::vector<std::string>{"Card check: no problems found.\n\nItems: 1, frames checked: 4."});
    EXPECT_FALSE(Shown(*win, IDC_PROGRESS));
}

TEST(WindowOperator, CheckCardOnADamagedCardListsEachFinding) {
    GuiEnv env;
    const std::string image = env.MakeCard("card.img", 64, 0);
    PutEncodedVideo(env, image, 4);
    {
        // Frame 2's KVQ1 header loses its magic, and playlist 3 names a free video.
        CSDCard card;
        ASSERT_EQ(card.OpenPath(image), kOpenOk);
        ASSERT_TRUE(card.ReadDirectory());
        const EntryHead h = card.Directory().Video(0);
        const uint64_t frame2 = (uint64_t(h.startCluster) + 2 * h.clustersPerFrame + 1) * kClusterSize;
        card.Close();
        PutBytes(image, frame2, "XXXX", 4);
    }
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    AutoAnswer answers(*win);
    const QStringList findings = CheckCardFindings(*win, answers);
    EXPECT_EQ(answers.Texts("report"), std::vector<std::string>{"Card check: problems found: 1."});
    ASSERT_EQ(findings.size(), 1);
    EXPECT_TRUE(findings[0].startsWith(QStringLiteral("video 1 'Intro': frame 2 has a damaged frame header")))
        << findings[0].toStdString();
    // The check only reads: the card is as it was.
    EXPECT_TRUE(win->Ready());
    EXPECT_EQ(win->List(IDC_VIDEO_LIST)->count(), 1);
}

TEST(WindowOperator, CheckCardOfAnUnformattedCardNamesTheDirectory) {
    GuiEnv env;
    env.MakeCard("blank.img", 64, -1);
    auto win = OpenWindow();
    ASSERT_FALSE(win->Ready());
    ASSERT_TRUE(Shown(*win, IDC_CHECK_CARD)) << "offered for any open card";
    AutoAnswer answers(*win);
    const QStringList findings = CheckCardFindings(*win, answers);
    ASSERT_EQ(findings.size(), 1);
    EXPECT_TRUE(findings[0].startsWith(QStringLiteral("directory: no KVH1 magic"))) << findings[0].toStdString();
}

// ---- A lost directory ----

// The first three clusters written over, as a format of the wrong card or a
// torn directory write leaves them.
void LoseDirectory(const std::string& image) {
    std::vector<char> zeros(kDirectorySize, 0);
    PutBytes(image, 0, zeros.data(), zeros.size());
}

TEST(WindowOperator, ALostDirectoryIsOfferedBackAndPutBack) {
    GuiEnv env;
    const std::string image = env.MakeCard("card.img", 64, 0);
    PutEncodedVideo(env, image, 4);
    LoseDirectory(image);
    std::vector<std::string> texts;
    // The question comes once the first scan has selected the card.
    test::OnNextModal("rk::CCoolMsgBox", [&](QWidget* w) {
        auto* box = qobject_cast<CCoolMsgBox*>(w);
        texts.push_back(box->ControlText(IDC_BOX_TEXT).toStdString());
        EXPECT_EQ(box->Kind(), kMsgQuestion);
        test::OnNextModal("rk::CCoolMsgBox", [&](QWidget* done) {
            texts.push_back(qobject_cast<CCoolMsgBox*>(done)->ControlText(IDC_BOX_TEXT).toStdString());
            test::ClickControl(done, IDC_BOX_OK);
        });
        test::ClickControl(box, IDC_BOX_YES);
    });
    auto win = OpenWindow();
    for (int i = 0; i < 400 && texts.size() < 2; ++i) QTest::qWait(10);
    WaitIdle(*win);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("This media reads as not formatted", 0), 0u) << texts[0];
    EXPECT_NE(texts[0].find("videos: 1, still images: 0"), std::string::npos) << texts[0];
    EXPECT_EQ(texts[1], "The directory was put back.");
    ASSERT_TRUE(win->Ready());
    ASSERT_EQ(win->List(IDC_VIDEO_LIST)->count(), 1);
    EXPECT_EQ(win->Card().Directory().VideoNameUtf8(0), "Intro");
    win.reset();
    EXPECT_EQ(test::CheckCardConsistent(image), "") << "closed, the card reads back whole";
}

TEST(WindowOperator, ADeclinedRecoveryIsNotAskedAgainAndABlankCardIsNeverAsked) {
    GuiEnv env;
    const std::string image = env.MakeCard("card.img", 64, 0);
    PutEncodedVideo(env, image, 4);
    LoseDirectory(image);
    env.MakeCard("blank.img", 64, -1);  // never formatted: nothing to offer
    std::vector<std::string> asked;
    auto win = std::make_unique<CMainWin>();
    AutoAnswer answers(*win);
    answers.answer = [&](const AutoAnswer::Shown& s) {
        asked.push_back(s.text);
        return s.kind == kMsgQuestion ? IDC_BOX_NO : IDC_BOX_OK;
    };
    win->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    QTest::qWait(50);
    WaitIdle(*win);
    // Whichever card the scan chose, each is shown once.
    auto* media = win->ControlAs<QComboBox>(IDC_MEDIA_LIST);
    ASSERT_EQ(media->count(), 2);
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < media->count(); ++i) {
            media->setCurrentIndex(i);
            QTest::qWait(30);
            WaitIdle(*win);
        }
    ASSERT_EQ(asked.size(), 1u) << "one question, for the card with a journal, and No stands";
    EXPECT_EQ(asked[0].rfind("This media reads as not formatted", 0), 0u);
    // The card was left as it was: still not formatted.
    CSDCard card;
    win.reset();
    ASSERT_EQ(card.OpenPath(image), kOpenOk);
    EXPECT_FALSE(card.ReadDirectory());
}

// ---- About ----

TEST(WindowOperator, AboutShowsTheVersionAndEachBundledTool) {
    GuiEnv env;
    auto win = OpenWindow();
    ASSERT_TRUE(Shown(*win, IDC_ABOUT));
    AutoAnswer answers(*win);
    win->ControlAs<QPushButton>(IDC_ABOUT)->click();
    WaitIdle(*win);
    const auto about = answers.Texts("about");
    ASSERT_EQ(about.size(), 1u);
    const QStringList lines = QString::fromStdString(about[0]).split(QLatin1Char('|'));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("ffmpeg: ffmpeg version "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("ffprobe: ffprobe version "))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("img_convert: Version: ImageMagick"))) << lines[2].toStdString();

    // A tool that is missing says so; the version line carries the program's.
    CAboutBox box({{"ffmpeg", ""}, {"ffprobe", "ffprobe version 9"}}, nullptr);
    EXPECT_EQ(box.ToolLines(), (QStringList{"ffmpeg: not found", "ffprobe: ffprobe version 9"}));
    EXPECT_EQ(box.ControlText(IDC_INFO_VERSION), QStringLiteral("Version ") + QLatin1String(ProgramVersion()));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About Reelkeep"));
}

}  // namespace
}  // namespace rk

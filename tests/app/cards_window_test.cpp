// Cards in the window: the media list over real card image files, Refresh,
// formatting through the dialog, and the control rules over real directories.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "app/cool_msgbox.h"
#include "app/dlg_format.h"
#include "app/main_win.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "gui_support.h"

namespace rk {
namespace {

using test::ClickControl;
using test::GuiEnv;
using test::OnNextModal;
using test::OpenWindow;
using test::WaitIdle;

QComboBox* Media(CMainWin& w) { return w.ControlAs<QComboBox>(1004); }
bool Shown(CMainWin& w, int id) { return w.Control(id)->isVisible(); }

// Fills a formatted card's tables: `videos` videos (1 frame each), `stills`
// stills, `effects` effects, `logos` logos, and playlist 0 with `clips` clips.
void FillCard(const std::string& path, int videos, int stills, int effects, int logos, int clips) {
    CSDCard card;
    ASSERT_EQ(card.OpenPath(path), kOpenOk);
    ASSERT_TRUE(card.ReadDirectory());
    CardDirectory& d = card.Directory();
    const uint16_t x = uint16_t(card.ClustersPerFrame());
    uint32_t next = uint32_t(card.FirstItemCluster());
    auto place = [&] {
        EntryHead h{next, 1, x};
        next += x + 2;
        return h;
    };
    for (int v = 0; v < videos; ++v) {
        d.SetVideo(v, place());
        d.SetVideoNameUtf8(v, "clip " + std::to_string(v));
    }
    for (int e = 0; e < effects; ++e) d.SetEffect(e, place());
    for (int l = 0; l < logos; ++l) d.SetLogo(l, place());
    for (int s = 0; s < stills; ++s) d.SetStill(s, EntryHead{card.Regions().StillCluster(s), 1, x});
    d.SetClipCount(0, clips);
    for (int i = 0; i < clips; ++i) d.SetClip(0, i, i % std::max(1, videos));
    ASSERT_LE(int64_t(next), card.TotalClusters());
    ASSERT_TRUE(card.WriteDirectory());
}

TEST(CardsWindow, NoCardShowsNoMedia) {
    GuiEnv env;
    auto win = OpenWindow();
    ASSERT_EQ(Media(*win)->count(), 1);
    EXPECT_EQ(Media(*win)->itemText(0), QStringLiteral("No media"));
    EXPECT_TRUE(win->NoMedia());
    EXPECT_FALSE(win->Card().IsOpen());
    EXPECT_TRUE(Shown(*win, 2021));
    EXPECT_FALSE(Shown(*win, 2002));
    EXPECT_EQ(win->ControlText(1005), QString());
}

TEST(CardsWindow, FormatThroughTheDialogShowsTheWholeCardAvailable) {
    GuiEnv env;
    env.MakeCard("blank.img", 96, -1);
    auto win = OpenWindow();
    ASSERT_FALSE(win->NoMedia());
    ASSERT_TRUE(win->Card().IsOpen());
    EXPECT_EQ(win->ControlText(1005), QStringLiteral("Not formatted"));
    EXPECT_TRUE(Shown(*win, 2002));
    EXPECT_FALSE(Shown(*win, 2018)) << "no pages without the layout";

    bool sawDialog = false, sawDone = false;
    OnNextModal("rk::CDlgFormat", [&](QWidget* w) {
        sawDialog = true;
        auto* modes = qobject_cast<CDlgFormat*>(w)->ControlAs<QComboBox>(1006);
        EXPECT_EQ(modes->currentIndex(), 0) << "a blank card preselects HD 1080p50";
        modes->setCurrentIndex(1);
        OnNextModal("rk::CCoolMsgBox", [&](QWidget* box) {
            sawDone = true;
            EXPECT_TRUE(qobject_cast<CCoolMsgBox*>(box)->ControlText(1003).startsWith(QStringLiteral("Format complete.")));
            ClickControl(box, 1002);
        });
        ClickControl(w, 1000);
    });
    win->ControlAs<QPushButton>(2002)->click();
    EXPECT_TRUE(sawDialog);
    EXPECT_TRUE(sawDone);
    const QString line = win->ControlText(1005);
    EXPECT_TRUE(line.startsWith(QStringLiteral("4K 2160p50, "))) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QStringLiteral("available (100%)"))) << line.toStdString();
    EXPECT_TRUE(Shown(*win, 2018));
    EXPECT_TRUE(Shown(*win, 2006));
    EXPECT_EQ(win->ControlText(2015), QStringLiteral("Click <Add> to copy a video file to media..."));

    // "No" leaves the card as it is.
    OnNextModal("rk::CDlgFormat", [](QWidget* w) {
        EXPECT_EQ(qobject_cast<CDlgFormat*>(w)->ControlAs<QComboBox>(1006)->currentIndex(), 1);
        ClickControl(w, 1001);
    });
    win->ControlAs<QPushButton>(2002)->click();
    EXPECT_EQ(win->Card().VideoMode(), 1);
    EXPECT_EQ(win->ControlText(1005), line);
}

TEST(CardsWindow, RefreshKeepsTheSelectionOrTakesTheLastCard) {
    GuiEnv env;
    const std::string a = env.MakeCard("a.img", 64, 0);
    env.MakeCard("b.img", 64, 3);
    env.MakeCard("c.img", 64, 6);
    auto win = OpenWindow();
    ASSERT_EQ(Media(*win)->count(), 3);
    EXPECT_EQ(Media(*win)->currentIndex(), 2) << "the first scan selects the last card";
    EXPECT_TRUE(win->ControlText(1005).startsWith(QStringLiteral("HD 1080p59.94")));

    Media(*win)->setCurrentIndex(0);
    WaitIdle(*win);
    EXPECT_TRUE(win->ControlText(1005).startsWith(QStringLiteral("HD 1080p50")));
    win->ControlAs<QPushButton>(2021)->click();
    WaitIdle(*win);
    ASSERT_EQ(Media(*win)->count(), 3);
    EXPECT_EQ(Media(*win)->currentIndex(), 0) << "Refresh keeps the selected card";
    EXPECT_TRUE(win->Card().IsOpen());
    EXPECT_TRUE(win->ControlText(1005).startsWith(QStringLiteral("HD 1080p50")));

    ASSERT_TRUE(QFile::remove(QString::fromStdString(a)));
    win->ControlAs<QPushButton>(2021)->click();
    WaitIdle(*win);
    ASSERT_EQ(Media(*win)->count(), 2);
    EXPECT_EQ(Media(*win)->currentIndex(), 1) << "the vanished card gives way to the last one";
    EXPECT_TRUE(win->ControlText(1005).startsWith(QStringLiteral("HD 1080p59.94")));
}

TEST(CardsWindow, VisibilityOverEmptySomeAndFullTables) {
    struct Case {
        const char* name;
        int videos, stills, effects, logos, clips;
    };
    for (const Case& c : {Case{"empty", 0, 0, 0, 0, 0}, Case{"some", 3, 2, 1, 1, 2}, Case{"full", 99, 32, 16, 8, 15}}) {
        SCOPED_TRACE(c.name);
        GuiEnv env;
        const std::string path = env.MakeCard("card.img", 160, 0);
        FillCard(path, c.videos, c.stills, c.effects, c.logos, c.clips);
        auto win = OpenWindow();
        ASSERT_TRUE(win->Ready());

        // Page 0.
        EXPECT_EQ(win->List(1010)->count(), c.videos);
        EXPECT_EQ(win->List(1012)->count(), 16);
        EXPECT_EQ(Shown(*win, 2006), c.videos < 99);
        EXPECT_FALSE(Shown(*win, 2005));
        EXPECT_TRUE(Shown(*win, 1020));
        EXPECT_FALSE(Shown(*win, 1011)) << "no playlist is current yet";
        EXPECT_EQ(win->ControlText(2015), c.videos ? QStringLiteral("Drag video and drop it in the playlist...")
                                                   : QStringLiteral("Click <Add> to copy a video file to media..."));
        if (c.videos) {
            win->List(1010)->setCurrentRow(c.videos - 1);
            EXPECT_TRUE(Shown(*win, 2005));
            EXPECT_TRUE(Shown(*win, 2007));
            EXPECT_EQ(win->SelectedVideoSlot(), c.videos - 1);
        }
        win->List(1012)->setCurrentRow(0);
        EXPECT_EQ(win->CurrentPlaylist(), 0);
        EXPECT_TRUE(Shown(*win, 1011));
        EXPECT_EQ(win->List(1011)->count(), c.clips);
        EXPECT_EQ(Shown(*win, 2023), c.clips >= 1);
        EXPECT_EQ(Shown(*win, 2030), c.clips >= 1);
        EXPECT_EQ(Shown(*win, 1025), c.clips >= 1);
        EXPECT_FALSE(Shown(*win, 1026));
        EXPECT_EQ(Shown(*win, 2016), c.clips >= 2);
        EXPECT_EQ(win->ControlText(1007).startsWith(QStringLiteral("Playlist 1")), true);

        // Page 1: stills. Clicking the current page's label does nothing.
        win->ControlAs<CClickLabel>(2019)->clicked();
        EXPECT_EQ(win->CurrentPage(), 1);
        win->ControlAs<CClickLabel>(2019)->clicked();
        EXPECT_EQ(win->CurrentPage(), 1);
        EXPECT_TRUE(Shown(*win, 1013));
        EXPECT_FALSE(Shown(*win, 1010));
        EXPECT_TRUE(Shown(*win, 1021));
        EXPECT_FALSE(Shown(*win, 1020));
        EXPECT_EQ(win->List(1013)->count(), 32);
        EXPECT_EQ(Shown(*win, 2008), c.stills < 32);
        EXPECT_EQ(Shown(*win, 2024), c.stills < 32);
        win->List(1013)->setCurrentRow(0);
        EXPECT_EQ(Shown(*win, 2009), c.stills > 0);
        EXPECT_EQ(Shown(*win, 2033), c.stills > 0);
        EXPECT_TRUE(Shown(*win, 1016));

        // Page 2: effects.
        win->ControlAs<CClickLabel>(2025)->clicked();
        EXPECT_EQ(win->List(1014)->count(), 16);
        EXPECT_EQ(Shown(*win, 2010), c.effects < 16);
        EXPECT_EQ(Shown(*win, 2028), c.effects < 16);
        win->List(1014)->setCurrentRow(15);
        EXPECT_EQ(Shown(*win, 2011), c.effects == 16);
        EXPECT_FALSE(Shown(*win, 1033)) << "no YUV range on the effects page";
        EXPECT_FALSE(Shown(*win, 1016));

        // Page 3: logos.
        win->ControlAs<CClickLabel>(2027)->clicked();
        EXPECT_EQ(win->List(1015)->count(), 8);
        EXPECT_EQ(Shown(*win, 2036), c.logos < 8);
        EXPECT_EQ(Shown(*win, 2039), c.logos < 8);
        win->List(1015)->setCurrentRow(0);
        EXPECT_EQ(Shown(*win, 2037), c.logos > 0);
        EXPECT_EQ(Shown(*win, 2042), c.logos > 0);
        EXPECT_TRUE(Shown(*win, 1033));
        EXPECT_TRUE(Shown(*win, 1023));
    }
}

TEST(CardsWindow, BusyHidesOperationsAndIgnoresMediaChanges) {
    GuiEnv env;
    const std::string path = env.MakeCard("card.img", 96, 0);
    FillCard(path, 2, 0, 0, 0, 0);
    auto win = OpenWindow();
    win->List(1010)->setCurrentRow(0);
    ASSERT_TRUE(Shown(*win, 2005));
    const QString label = Media(*win)->currentText();

    win->BeginProgress(100);
    for (int id : kOperationButtons) EXPECT_FALSE(Shown(*win, id)) << id;
    EXPECT_FALSE(Shown(*win, 1004));
    EXPECT_TRUE(Shown(*win, 2032));
    EXPECT_EQ(win->ControlText(2032), label);
    EXPECT_FALSE(win->Control(2019)->isEnabled());
    EXPECT_FALSE(win->Control(1010)->isEnabled());
    EXPECT_FALSE(win->Control(1033)->isEnabled());

    // A card appearing now causes no rescan.
    env.MakeCard("late.img", 64, 0);
    win->OnMediaChanged(0, 0x20);
    for (int i = 0; i < 30; ++i) win->PumpMessages();
    QTest::qWait(400);
    EXPECT_EQ(Media(*win)->count(), 1);
    EXPECT_TRUE(win->Card().IsOpen()) << "the card stays open through the operation";
    win->EndProgress();
    EXPECT_TRUE(Shown(*win, 2005));
    EXPECT_TRUE(Shown(*win, 1004));
    EXPECT_FALSE(Shown(*win, 2032));

    // Idle again: a media change rescans and finds the new card, keeping ours.
    win->OnMediaChanged(0, 0x20);
    WaitIdle(*win);
    EXPECT_EQ(Media(*win)->count(), 2);
    EXPECT_EQ(Media(*win)->currentIndex(), 0);
}

// Two items, each behind a gap, so that the free space is there but in two
// pieces: an allocation of all but one free Cluster needs compaction.
void MakeFragmentedCard(const std::string& path, int64_t& first, int64_t& length) {
    // Two items with a gap of 10 Clusters before each and nothing at the end.
    CSDCard card;
    ASSERT_EQ(card.OpenPath(path), kOpenOk);
    ASSERT_TRUE(card.ReadDirectory());
    first = card.FirstItemCluster();
    const int64_t total = card.TotalClusters();
    const uint16_t x = 33;
    const int64_t frames = (total - first - 20) / 2 / x;
    length = (frames - 1) * x + 2;
    card.Directory().SetVideo(0, EntryHead{uint32_t(first + 10), uint16_t(frames - 1), x});
    card.Directory().SetVideo(1, EntryHead{uint32_t(total - length), uint16_t(frames - 1), x});
    ASSERT_TRUE(card.WriteDirectory());
}

TEST(CardsWindow, DefragmentationQuestionDeclinedAnswersMinusOne) {
    GuiEnv env;
    const std::string path = env.MakeCard("card.img", 64, 0);
    int64_t first = 0, length = 0;
    MakeFragmentedCard(path, first, length);
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    const int32_t need = win->Card().FreeClusters() - 1;
    ASSERT_GT(need, 10);
    bool asked = false;
    OnNextModal("rk::CCoolMsgBox", [&](QWidget* w) {
        asked = true;
        EXPECT_TRUE(qobject_cast<CCoolMsgBox*>(w)->ControlText(1003).startsWith(QStringLiteral("Media defragmentation")));
        ClickControl(w, 1001);
    });
    EXPECT_EQ(win->AllocateClusters(need), -1);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(win->AbortFlag()) << "a declined compaction leaves no Stop for the next operation";
    EXPECT_FALSE(win->Busy());
}

}  // namespace
}  // namespace rk

#include <QFileDialog>
#include <QProcess>

namespace rk {
namespace {

// The video page's Add and Read through the window: the file dialog, the
// duration question, progress, the new list item and its buttons.
TEST(CardsWindow, AddAndReadAVideoThroughTheWindow) {
    if (!QFile::exists(QStringLiteral("/usr/bin/ffmpeg"))) GTEST_SKIP() << "no ffmpeg";
    GuiEnv env;
    env.MakeCard("card.img", 256, 0);
    const QString source = env.CardFolder() + QStringLiteral("/Tiny clip.mp4");
    const int made = QProcess::execute(QStringLiteral("/usr/bin/ffmpeg"),
                                       {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"),
                                        QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                        QStringLiteral("testsrc2=size=320x180:rate=50:duration=0.06"),
                                        QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), source});
    ASSERT_EQ(made, 0);
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    ASSERT_TRUE(Shown(*win, 2006));

    std::vector<QString> texts;
    OnNextModal("QFileDialog", [&](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        dlg->selectFile(source);
        OnNextModal("rk::CCoolMsgBox", [&](QWidget* q) {
            texts.push_back(qobject_cast<CCoolMsgBox*>(q)->ControlText(1003));
            OnNextModal("rk::CCoolMsgBox", [&](QWidget* done) {
                texts.push_back(qobject_cast<CCoolMsgBox*>(done)->ControlText(1003));
                ClickControl(done, 1002);
            });
            ClickControl(q, 1000);
        });
        static_cast<QDialog*>(dlg)->accept();
    });
    win->ControlAs<QPushButton>(2006)->click();
    WaitIdle(*win);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Video duration:"))) << texts[0].toStdString();
    EXPECT_EQ(texts[1], QStringLiteral("Write completed."));
    ASSERT_EQ(win->List(1010)->count(), 1);
    EXPECT_TRUE(win->List(1010)->item(0)->text().startsWith(QStringLiteral("Tiny clip\n")));
    EXPECT_EQ(win->SelectedVideoSlot(), 0) << "the new video is selected";
    EXPECT_TRUE(Shown(*win, 2005));
    EXPECT_TRUE(Shown(*win, 2007));
    EXPECT_FALSE(Shown(*win, 1008)) << "progress hidden again";
    EXPECT_EQ(win->LastFileName(CMainWin::kFileVideo), source.toStdString());
    EXPECT_FALSE(win->ControlText(1005).endsWith(QStringLiteral("(100%)")));
    EXPECT_EQ(win->ControlText(2015), QStringLiteral("Drag video and drop it in the playlist..."));

    // Read it back as a KAVQ1 file.
    const QString out = env.CardFolder() + QStringLiteral("/back.kavq1");
    texts.clear();
    OnNextModal("QFileDialog", [&](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        EXPECT_EQ(dlg->acceptMode(), QFileDialog::AcceptSave);
        dlg->selectFile(out);
        OnNextModal("rk::CCoolMsgBox", [&](QWidget* done) {
            texts.push_back(qobject_cast<CCoolMsgBox*>(done)->ControlText(1003));
            ClickControl(done, 1002);
        });
        static_cast<QDialog*>(dlg)->accept();
    });
    win->ControlAs<QPushButton>(2007)->click();
    WaitIdle(*win);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Read completed."));
    EXPECT_GT(QFileInfo(out).size(), 0);
}

}  // namespace
}  // namespace rk

#include <QPointer>
#include <sys/stat.h>
#include <unistd.h>

namespace rk {
namespace {

// A first scan that finds nothing but refusals says "Access denied!" once
// and hides Refresh; root opens every file, so only other users can see it.
TEST(CardsWindow, AccessDeniedOnTheFirstScanHidesRefresh) {
    if (geteuid() == 0) GTEST_SKIP() << "root is never refused";
    GuiEnv env;
    const std::string path = env.MakeCard("locked.img", 64, 0);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    std::vector<QString> texts;
    OnNextModal("rk::CCoolMsgBox", [&](QWidget* w) {
        texts.push_back(qobject_cast<CCoolMsgBox*>(w)->ControlText(1003));
        ClickControl(w, 1002);
    });
    auto win = OpenWindow();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Access denied!"));
    EXPECT_TRUE(win->AccessDenied());
    EXPECT_FALSE(Shown(*win, 2021));
    EXPECT_EQ(Media(*win)->currentText(), QStringLiteral("No media"));
    chmod(path.c_str(), 0644);
}

// A damaged directory entry pointing past the end of the card is listed
// without trying to read a thumbnail from beyond the card.
TEST(CardsWindow, EntryBeyondTheCardReportsNoMediaError) {
    GuiEnv env;
    const std::string path = env.MakeCard("card.img", 64, 0);
    {
        CSDCard card;
        ASSERT_EQ(card.OpenPath(path), kOpenOk);
        ASSERT_TRUE(card.ReadDirectory());
        card.Directory().SetVideo(0, EntryHead{0x7FFFFFF0u, 2, 33});
        ASSERT_TRUE(card.WriteDirectory());
    }
    bool messaged = false;
    QPointer<QTimer> watch = OnNextModal("rk::CCoolMsgBox", [&](QWidget* w) {
        messaged = true;
        ClickControl(w, 1002);
    });
    auto win = OpenWindow();
    QTest::qWait(50);
    EXPECT_FALSE(messaged);
    delete watch.data();
    EXPECT_EQ(win->List(1010)->count(), 1);
    EXPECT_FALSE(win->ControlText(1005).isEmpty());
}

}  // namespace
}  // namespace rk

namespace rk {
namespace {

TEST(CardsWindow, DefragmentationAcceptedCompactsWithProgress) {
    GuiEnv env;
    const std::string path = env.MakeCard("card.img", 64, 0);
    int64_t first = 0, length = 0;
    MakeFragmentedCard(path, first, length);
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    const int32_t need = win->Card().FreeClusters() - 1;
    bool sawProgress = false;
    OnNextModal("rk::CCoolMsgBox", [&](QWidget* w) { ClickControl(w, 1000); });
    // Progress shows while the items move.
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (win->Busy() && win->Control(1008)->isVisible() && win->Control(2003)->isVisible()) sawProgress = true;
    });
    probe.start(1);
    const int32_t at = win->AllocateClusters(need);
    probe.stop();
    EXPECT_EQ(at, first + length) << "the gap opens behind the moved item";
    EXPECT_EQ(win->Card().Directory().Video(0).startCluster, uint32_t(first));
    EXPECT_TRUE(sawProgress);
    EXPECT_FALSE(win->Busy());
    EXPECT_FALSE(win->Control(1008)->isVisible());
    CSDCard check;
    win->Card().Close();
    ASSERT_EQ(check.OpenPath(path), kOpenOk);
    ASSERT_TRUE(check.ReadDirectory());
    EXPECT_EQ(check.Directory().Video(0).startCluster, uint32_t(first)) << "the moved entry is on the card";
}

}  // namespace
}  // namespace rk

namespace rk {
namespace {

// The watches on the card folder (and card readers) rescan when a card image
// appears or goes, and the window's own opening and closing of cards does not
// set off a rescan of its own.
TEST(CardsWindow, CardFolderChangesRescanWithoutEchoes) {
    GuiEnv env;
    env.MakeCard("first.img", 64, 0);
    auto win = OpenWindow();
    ASSERT_EQ(Media(*win)->count(), 1);
    const int scans = win->ScanCount();
    QTest::qWait(1500);
    EXPECT_EQ(win->ScanCount(), scans) << "our own card access echoed into a rescan";

    env.MakeCard("second.img", 64, 0);
    QTRY_COMPARE_WITH_TIMEOUT(Media(*win)->count(), 2, 5000);
    EXPECT_EQ(Media(*win)->currentIndex(), 0) << "the selected card stays selected";
    WaitIdle(*win);
    const int after = win->ScanCount();
    QTest::qWait(1500);
    EXPECT_EQ(win->ScanCount(), after);

    ASSERT_TRUE(QFile::remove(QString::fromStdString(env.CardPath("first.img"))));
    QTRY_COMPARE_WITH_TIMEOUT(Media(*win)->count(), 1, 5000);
    EXPECT_TRUE(Media(*win)->currentText().startsWith(QStringLiteral("second.img")) ||
                Media(*win)->currentText().contains(QStringLiteral("second")));
}

}  // namespace
}  // namespace rk

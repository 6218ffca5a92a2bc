// The window following the hand: a click on a video shows its operations at
// once, F5 refreshes, and the progress shows in the window title.
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "app/control_ids.h"
#include "app/main_win.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "gui_support.h"

namespace rk {
namespace {

using test::GuiEnv;
using test::OpenWindow;
using test::WaitIdle;

bool Shown(CMainWin& w, int id) { return w.Control(id)->isVisible(); }

void PutVideos(const std::string& path, int videos) {
    CSDCard card;
    ASSERT_EQ(card.OpenPath(path), kOpenOk);
    ASSERT_TRUE(card.ReadDirectory());
    const uint16_t x = uint16_t(card.ClustersPerFrame());
    uint32_t next = uint32_t(card.FirstItemCluster());
    for (int v = 0; v < videos; ++v) {
        card.Directory().SetVideo(v, EntryHead{next, 1, x});
        card.Directory().SetVideoNameUtf8(v, "clip " + std::to_string(v));
        next += x + kThumbnailClusters;
    }
    ASSERT_TRUE(card.WriteDirectory());
}

TEST(WindowHand, ClickingAVideoShowsReadAndDeleteAtOnce) {
    GuiEnv env;
    PutVideos(env.MakeCard("card.img", 64, 0), 2);
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    QListWidget* videos = win->List(IDC_VIDEO_LIST);
    ASSERT_EQ(videos->count(), 2);
    EXPECT_FALSE(Shown(*win, IDC_VIDEO_READ));
    // A click as the hand gives it, on the second video: no page switch needed.
    const QRect r = videos->visualItemRect(videos->item(1));
    QTest::mouseClick(videos->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(win->SelectedVideoSlot(), 1);
    EXPECT_TRUE(Shown(*win, IDC_VIDEO_READ));
    EXPECT_TRUE(Shown(*win, IDC_VIDEO_DELETE));
    // Clearing the selection hides them again.
    videos->clearSelection();
    EXPECT_FALSE(Shown(*win, IDC_VIDEO_READ));
    EXPECT_FALSE(Shown(*win, IDC_VIDEO_DELETE));
}

TEST(WindowHand, F5RefreshesTheCardList) {
    GuiEnv env;
    env.MakeCard("a.img", 64, 0);
    auto win = OpenWindow();
    auto* media = win->ControlAs<QComboBox>(IDC_MEDIA_LIST);
    ASSERT_EQ(media->count(), 1);
    env.MakeCard("b.img", 64, 0);
    win->activateWindow();
    QTest::keyClick(win.get(), Qt::Key_F5);
    WaitIdle(*win);
    EXPECT_EQ(media->count(), 2);
}

TEST(WindowHand, TheTitleShowsProgressWhileBusy) {
    GuiEnv env;
    env.MakeCard("a.img", 64, 0);
    auto win = OpenWindow();
    const QString idle = win->windowTitle();
    win->BeginProgress(200);
    win->SetProgress(100, false);
    EXPECT_TRUE(win->windowTitle().startsWith(QStringLiteral("50% - "))) << win->windowTitle().toStdString();
    EXPECT_TRUE(win->windowTitle().endsWith(idle));
    win->SetProgress(200, false);
    EXPECT_TRUE(win->windowTitle().startsWith(QStringLiteral("100% - ")));
    win->EndProgress();
    EXPECT_EQ(win->windowTitle(), idle);
}

}  // namespace
}  // namespace rk

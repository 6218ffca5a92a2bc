// Playlist edits in the window after a Stop, a kept or discarded partial
// video and a declined compaction: nothing of those is left to stop the
// next edit, whose title card is written and whose title bar is the window's
// own again. An edit that remakes several title cards shows progress with
// Stop, writes nothing when stopped and everything when not.
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

#include "app/main_win.h"
#include "base/string_ids.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "gui_support.h"
#include "media/frame_picture.h"
#include "media/media_fixture.h"
#include "ui/operator.h"

namespace rk {
namespace {

using test::AnswerBoxes;
using test::ClickStopWhen;
using test::GuiEnv;
using test::OpenWindow;
using test::WaitIdle;

// A formatted HD card whose videos hold really encoded frames (`frames`
// each): all but the last packed from the first item Cluster with `gap`
// free Clusters after each, the last at the card's very end, so the free
// space is in pieces. Playlist p holds clips[p].
std::string MakeVideoCard(GuiEnv& env, int videos, int frames, int gap, const std::vector<std::vector<int>>& clips) {
    const std::string path = env.MakeCard("card.img", 96, 0);
    CSDCard card;
    EXPECT_EQ(card.OpenPath(path), kOpenOk);
    EXPECT_TRUE(card.ReadDirectory());
    const int x = card.ClustersPerFrame();
    EXPECT_EQ(x, 33);
    CardDirectory& d = card.Directory();
    const uint32_t length = uint32_t(frames * x + 2);
    uint32_t next = uint32_t(card.FirstItemCluster());
    for (int v = 0; v < videos; ++v) {
        const uint32_t at = v + 1 < videos ? next : uint32_t(card.TotalClusters()) - length;
        next += length + uint32_t(gap);
        for (int f = 0; f < frames; ++f) {
            const std::vector<uint8_t> slot = test::EncodedSlot(uint32_t(f + 3 * v));
            EXPECT_TRUE(card.WriteClusters(at + uint32_t(f * x), slot.data(), x));
        }
        d.SetVideo(v, EntryHead{at, uint16_t(frames), uint16_t(x)});
        d.SetVideoNameUtf8(v, "clip " + std::to_string(v + 1));
    }
    for (size_t p = 0; p < clips.size(); ++p) {
        d.SetClipCount(int(p), int(clips[p].size()));
        for (size_t i = 0; i < clips[p].size(); ++i) d.SetClip(int(p), int(i), clips[p][i]);
    }
    EXPECT_TRUE(card.WriteDirectory());
    return path;
}

// The card image's bytes from Cluster `first` on, `count` Clusters (read
// past the window's lock).
std::vector<uint8_t> ImageClusters(const std::string& path, uint32_t first, int count) {
    std::vector<uint8_t> bytes(size_t(count) * kClusterSize);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::pread(fd, bytes.data(), bytes.size(), off_t(first) * kClusterSize), ssize_t(bytes.size()));
    ::close(fd);
    return bytes;
}

CardDirectory OnCard(const std::string& path) {
    CardDirectory d;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::pread(fd, d.Bytes(), kDirectorySize, 0), ssize_t(kDirectorySize));
    ::close(fd);
    return d;
}

// Playlist p's title card as the card holds it, and whether it decodes.
struct TitleCardOnCard {
    std::vector<uint8_t> slot;
    bool decodes = false;
};

TitleCardOnCard TitleCard(CMainWin& win, const std::string& path, int p) {
    TitleCardOnCard t;
    t.slot = ImageClusters(path, uint32_t(win.Card().Regions().TitleCluster(p)), 33);
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    t.decodes = DecodeSlotToRGB(t.slot.data(), 33, 1, rgb, w, h);
    return t;
}

// What an add stopped after some frames does through the window: progress
// with Stop, Stop clicked, the keep question answered with `button`.
void StopAnAdd(CMainWin& win, int button, std::vector<QString>& texts) {
    win.BeginProgress(40, ProgressUnit::kFrames);
    win.SetProgress(12, false);
    QTest::mouseClick(win.Control(IDC_STOP), Qt::LeftButton);
    EXPECT_TRUE(win.PumpMessages());
    AnswerBoxes(texts, {button});
    MessageById(win, kMsgQuestion, kIconQuestion, IDS_ABORTED_LEAVE_INCOMPLETE);
    win.EndProgress();
    WaitIdle(win);
}

struct Before {
    const char* what;
    std::function<void(CMainWin&, std::vector<QString>& texts)> run;
    QString asked;  // the start of the one question it asks
};

TEST(EditWindow, NoStopOutlivesItsOperation) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    const QString keep = QStringLiteral("Operation aborted.\nDo you want to leave incomplete video");
    const std::vector<Before> rows = {
        {"Stop, then the incomplete video kept",
         [](CMainWin& w, std::vector<QString>& t) { StopAnAdd(w, IDC_BOX_YES, t); }, keep},
        {"Stop, then the incomplete video discarded",
         [](CMainWin& w, std::vector<QString>& t) { StopAnAdd(w, IDC_BOX_NO, t); }, keep},
        {"a declined compaction",
         [](CMainWin& w, std::vector<QString>& t) {
             AnswerBoxes(t, {IDC_BOX_NO});
             EXPECT_EQ(w.AllocateClusters(w.Card().FreeClusters() - 1), -1);
         },
         QStringLiteral("Media defragmentation")},
    };
    for (const Before& row : rows) {
        SCOPED_TRACE(row.what);
        GuiEnv env;
        const std::string path = MakeVideoCard(env, 3, 6, 300, {{0}});
        auto win = OpenWindow();
        ASSERT_TRUE(win->Ready());
        const QString title = win->windowTitle();
        std::vector<QString> texts;
        row.run(*win, texts);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_TRUE(texts[0].startsWith(row.asked)) << texts[0].toStdString();
        EXPECT_FALSE(win->AbortFlag());

        // The next edit: video 2 into playlist 2, then playlist 1's end mode.
        const TitleCardOnCard old = TitleCard(*win, path, 1);
        texts.clear();
        QTimer* none = AnswerBoxes(texts, {IDC_BOX_OK});
        win->AddClipAt(1, 1, -1);
        win->SetCurrentPlaylist(0);
        win->SetPlaylistLoop(true);
        WaitIdle(*win);
        delete none;
        EXPECT_TRUE(texts.empty()) << texts.front().toStdString();
        EXPECT_EQ(OnCard(path).ClipCount(1), 1);
        EXPECT_TRUE(OnCard(path).Loops(0));
        const TitleCardOnCard made = TitleCard(*win, path, 1);
        EXPECT_TRUE(made.decodes);
        EXPECT_NE(made.slot, old.slot);
        EXPECT_EQ(win->windowTitle(), title) << "no progress left in the title bar";
    }
}

TEST(EditWindow, ADeleteThatRemakesSeveralTitleCardsShowsProgressAndStopsWhole) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    GuiEnv env;
    // Video 1 is used by playlists 1 to 3, each with another video after it.
    const std::string path = MakeVideoCard(env, 3, 4, 0, {{0, 1}, {0, 2}, {2, 0, 1}});
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    const CardDirectory before = OnCard(path);
    std::vector<std::vector<uint8_t>> titles;
    for (int p = 0; p < 3; ++p) titles.push_back(TitleCard(*win, path, p).slot);
    const QString title = win->windowTitle();

    // Stopped while the title cards are made: the card is as it was.
    win->List(IDC_VIDEO_LIST)->setCurrentRow(0);
    ASSERT_EQ(win->SelectedVideoSlot(), 0);
    bool stopShown = false;
    ClickStopWhen(*win, [&] { return stopShown = true; });
    std::vector<QString> texts;
    AnswerBoxes(texts, {IDC_BOX_YES, IDC_BOX_OK});
    win->DeleteVideo();
    WaitIdle(*win);
    EXPECT_TRUE(stopShown);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], QStringLiteral("Operation aborted."));
    EXPECT_TRUE(OnCard(path) == before);
    EXPECT_TRUE(win->Card().Directory() == before) << "the window's directory went back too";
    for (int p = 0; p < 3; ++p) EXPECT_EQ(TitleCard(*win, path, p).slot, titles[p]) << p;
    EXPECT_EQ(win->List(IDC_VIDEO_LIST)->count(), 3);
    EXPECT_FALSE(win->AbortFlag());

    // Not stopped: all three remade with the directory.
    texts.clear();
    win->List(IDC_VIDEO_LIST)->setCurrentRow(0);
    AnswerBoxes(texts, {IDC_BOX_YES});
    win->DeleteVideo();
    WaitIdle(*win);
    EXPECT_EQ(texts.size(), 1u);
    const CardDirectory after = OnCard(path);
    EXPECT_FALSE(after.Video(0).Used());
    for (int p = 0; p < 3; ++p) {
        const TitleCardOnCard t = TitleCard(*win, path, p);
        EXPECT_TRUE(t.decodes) << p;
        EXPECT_NE(t.slot, titles[p]) << p;
    }
    EXPECT_FALSE(win->Control(IDC_STOP)->isVisible());
    EXPECT_EQ(win->windowTitle(), title);
    EXPECT_FALSE(win->Busy());
}

}  // namespace
}  // namespace rk

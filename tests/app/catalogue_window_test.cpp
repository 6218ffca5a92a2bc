// The catalogue in the window, over real card image files: the Delete keys
// and buttons of every list, the playlist buttons and end-mode labels with
// their visibility rules, drag and drop between the lists driven by real
// mouse events on the lists, a refused directory write, and stills added and
// read back through the file dialogs with the real tools.
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "app/cool_msgbox.h"
#include "app/list_drag.h"
#include "app/main_win.h"
#include "app/settings.h"
#include "card/card_device.h"
#include "card/card_directory.h"
#include "card/fault_device.h"
#include "card/sd_card.h"
#include "gui_support.h"

namespace rk {
namespace {

using test::ClickControl;
using test::GuiEnv;
using test::OnNextModal;
using test::OpenWindow;
using test::WaitIdle;

bool Shown(CMainWin& w, int id) { return w.Control(id)->isVisible(); }

// The directory as the card image holds it (read past the window's lock).
CardDirectory OnCard(const std::string& path) {
    CardDirectory d;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::pread(fd, d.Bytes(), kDirectorySize, 0), ssize_t(kDirectorySize));
    ::close(fd);
    return d;
}

// The first byte of cluster c of the image.
int ByteAtCluster(const std::string& path, uint32_t c) {
    uint8_t b = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::pread(fd, &b, 1, off_t(c) * kClusterSize), 1);
    ::close(fd);
    return b;
}

std::vector<int> Clips(const CardDirectory& d, int p) {
    std::vector<int> v;
    for (int i = 0; i < d.ClipCount(p); ++i) v.push_back(d.Clip(p, i));
    return v;
}

// A formatted HD card with `videos` synthetic videos (their frames do not
// decode, so every title card fails quietly and the edits go on), stills at
// `stills` (each place filled with its own tag byte 10 + s), effect 0, logo 0
// and the clips of playlist 0.
struct TableCard {
    std::string path;
    uint32_t stillCluster[kStillCount] = {};
};

TableCard MakeTableCard(GuiEnv& env, int videos, std::initializer_list<int> stills, std::vector<int> clips0,
                        bool effectAndLogo = true) {
    TableCard t;
    t.path = env.MakeCard("card.img", 160, 0);
    CSDCard card;
    EXPECT_EQ(card.OpenPath(t.path), kOpenOk);
    EXPECT_TRUE(card.ReadDirectory());
    CardDirectory& d = card.Directory();
    const uint16_t x = uint16_t(card.ClustersPerFrame());
    uint32_t next = uint32_t(card.FirstItemCluster());
    auto place = [&](uint16_t frames) {
        EntryHead h{next, frames, x};
        next += frames * x + 2;
        return h;
    };
    for (int v = 0; v < videos; ++v) {
        d.SetVideo(v, place(uint16_t(50 * (v + 1))));
        d.SetVideoNameUtf8(v, "clip " + std::to_string(v));
    }
    if (effectAndLogo) {
        d.SetEffect(0, place(2));
        d.SetLogo(0, place(2));
    }
    for (int s = 0; s < kStillCount; ++s) t.stillCluster[s] = card.Regions().StillCluster(s);
    for (int s : stills) {
        std::vector<uint8_t> run(size_t(x + 2) * kClusterSize, uint8_t(10 + s));
        EXPECT_TRUE(card.WriteClusters(t.stillCluster[s], run.data(), x + 2));
        d.SetStill(s, EntryHead{t.stillCluster[s], 1, x});
    }
    d.SetClipCount(0, int(clips0.size()));
    for (size_t i = 0; i < clips0.size(); ++i) d.SetClip(0, int(i), clips0[i]);
    EXPECT_TRUE(card.WriteDirectory());
    return t;
}

// Answers the next message box with `button`, recording its text.
QPointer<QTimer> Answer(std::vector<QString>& texts, int button) {
    return OnNextModal("rk::CCoolMsgBox", [&texts, button](QWidget* w) {
        texts.push_back(qobject_cast<CCoolMsgBox*>(w)->ControlText(1003));
        ClickControl(w, button);
    });
}

// A watch for a message box that must not open: it records and closes one.
struct NoBox {
    std::vector<QString> texts;
    QPointer<QTimer> watch;
    NoBox() { watch = Answer(texts, 1001); }
    ~NoBox() { delete watch.data(); }
};

void PressDelete(CMainWin& win, int listId) {
    QTest::keyClick(win.List(listId), Qt::Key_Delete);
    WaitIdle(win);
}

TEST(CatalogueWindow, TheDeleteKeyInEveryList) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 3, {0, 1}, {0, 1, 0, 2});
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    std::vector<QString> texts;

    // Videos: the question counts the playlists, No keeps the video.
    win->List(1010)->setCurrentRow(0);
    Answer(texts, 1001);
    PressDelete(*win, 1010);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("This video is used in 1 playlists.\n\nDelete video?\n\nVideo 1 'clip 0'"));
    EXPECT_EQ(win->List(1010)->count(), 3);
    Answer(texts, 1000);
    PressDelete(*win, 1010);
    EXPECT_EQ(win->List(1010)->count(), 2);
    EXPECT_FALSE(OnCard(t.path).Video(0).Used());
    EXPECT_EQ(Clips(OnCard(t.path), 0), (std::vector<int>{1, 2})) << "every clip of the video left the playlist";
    EXPECT_FALSE(Shown(*win, 2005)) << "nothing selected after the delete";

    // Clips: removed without a question.
    win->List(1012)->setCurrentRow(0);
    ASSERT_EQ(win->List(1011)->count(), 2);
    win->List(1011)->setCurrentRow(0);
    {
        NoBox none;
        PressDelete(*win, 1011);
        EXPECT_TRUE(none.texts.empty());
    }
    EXPECT_EQ(Clips(OnCard(t.path), 0), std::vector<int>{2});
    EXPECT_EQ(win->List(1011)->count(), 1);

    // Playlists: cleared after "Clear playlist 1?".
    texts.clear();
    Answer(texts, 1000);
    PressDelete(*win, 1012);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Clear playlist 1?"));
    EXPECT_EQ(OnCard(t.path).ClipCount(0), 0);
    EXPECT_EQ(win->ControlText(1007), QStringLiteral("Playlist 1 - empty"));
    {
        NoBox none;  // an empty playlist: nothing to ask
        PressDelete(*win, 1012);
        EXPECT_TRUE(none.texts.empty());
    }

    // Stills: a free slot's row does nothing, a used one asks.
    win->ControlAs<CClickLabel>(2019)->clicked();
    win->List(1013)->setCurrentRow(4);
    {
        NoBox none;
        PressDelete(*win, 1013);
        EXPECT_TRUE(none.texts.empty());
    }
    texts.clear();
    win->List(1013)->setCurrentRow(1);
    ASSERT_TRUE(Shown(*win, 2009));
    Answer(texts, 1000);
    PressDelete(*win, 1013);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Delete still image?\n\nStill image 2"));
    EXPECT_FALSE(OnCard(t.path).Still(1).Used());
    EXPECT_TRUE(OnCard(t.path).Still(0).Used());
    EXPECT_EQ(win->SelectedRow(1013), 1) << "the row stays selected";
    EXPECT_FALSE(Shown(*win, 2009)) << "its slot is free now";
    EXPECT_TRUE(Shown(*win, 2008));

    // Effects and logos.
    texts.clear();
    win->ControlAs<CClickLabel>(2025)->clicked();
    win->List(1014)->setCurrentRow(0);
    Answer(texts, 1000);
    PressDelete(*win, 1014);
    win->ControlAs<CClickLabel>(2027)->clicked();
    win->List(1015)->setCurrentRow(0);
    Answer(texts, 1000);
    PressDelete(*win, 1015);
    EXPECT_EQ(texts, (std::vector<QString>{QStringLiteral("Delete effect video file?\n\nEffect 1"),
                                           QStringLiteral("Delete logo?\n\nLogo 1")}));
    EXPECT_FALSE(OnCard(t.path).Effect(0).Used());
    EXPECT_FALSE(OnCard(t.path).Logo(0).Used());
    EXPECT_FALSE(win->Busy());
}

TEST(CatalogueWindow, DeleteButtonsActOnTheSelectedItem) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 2, {3}, {});
    auto win = OpenWindow();
    std::vector<QString> texts;
    win->List(1010)->setCurrentRow(1);
    Answer(texts, 1000);
    win->ControlAs<QPushButton>(2005)->click();
    WaitIdle(*win);
    EXPECT_EQ(texts, std::vector<QString>{
                         QStringLiteral("This video is not used in any playlists.\n\nDelete video?\n\nVideo 2 'clip 1'")});
    EXPECT_TRUE(OnCard(t.path).Video(0).Used());
    EXPECT_FALSE(OnCard(t.path).Video(1).Used());

    win->ControlAs<CClickLabel>(2019)->clicked();
    win->List(1013)->setCurrentRow(3);
    Answer(texts, 1000);
    win->ControlAs<QPushButton>(2009)->click();
    WaitIdle(*win);
    EXPECT_FALSE(OnCard(t.path).Still(3).Used());
    win->ControlAs<CClickLabel>(2025)->clicked();
    win->List(1014)->setCurrentRow(0);
    Answer(texts, 1000);
    win->ControlAs<QPushButton>(2011)->click();
    WaitIdle(*win);
    win->ControlAs<CClickLabel>(2027)->clicked();
    win->List(1015)->setCurrentRow(0);
    Answer(texts, 1000);
    win->ControlAs<QPushButton>(2037)->click();
    WaitIdle(*win);
    EXPECT_EQ(texts.size(), 4u);
    EXPECT_FALSE(OnCard(t.path).Effect(0).Used());
    EXPECT_FALSE(OnCard(t.path).Logo(0).Used());
}

TEST(CatalogueWindow, PlaylistButtonsEndModeLabelsAndTheirRules) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 2, {}, {0, 1});
    auto win = OpenWindow();
    // No playlist current: no clips list, no buttons, no labels.
    for (int id : {1011, 2023, 2022, 2030, 2031, 1025, 1026, 2016}) EXPECT_FALSE(Shown(*win, id)) << id;
    EXPECT_EQ(win->ControlText(1007), QString());

    // An empty playlist: the clips list and its status, nothing else.
    win->List(1012)->setCurrentRow(2);
    EXPECT_TRUE(Shown(*win, 1011));
    EXPECT_EQ(win->ControlText(1007), QStringLiteral("Playlist 3 - empty"));
    for (int id : {2023, 2022, 2030, 2031, 1025, 1026}) EXPECT_FALSE(Shown(*win, id)) << id;
    // The labels of an empty playlist change nothing even when clicked.
    win->SetPlaylistLoop(true);
    EXPECT_FALSE(OnCard(t.path).Loops(2));

    // Playlist 1 with two clips.
    win->List(1012)->setCurrentRow(0);
    EXPECT_TRUE(Shown(*win, 2023));
    EXPECT_FALSE(Shown(*win, 2022)) << "no clip selected";
    EXPECT_TRUE(Shown(*win, 2030));
    EXPECT_TRUE(Shown(*win, 2031));
    EXPECT_TRUE(Shown(*win, 1025));
    EXPECT_FALSE(Shown(*win, 1026));
    EXPECT_TRUE(Shown(*win, 2016));
    const QString stopStatus = win->ControlText(1007);
    EXPECT_TRUE(stopStatus.startsWith(QStringLiteral("Playlist 1, videos: 2, duration: "))) << stopStatus.toStdString();

    // "Repeat playlist": the flag, the frame, the item text and the status.
    win->ControlAs<CClickLabel>(2031)->clicked();
    WaitIdle(*win);
    EXPECT_TRUE(OnCard(t.path).Loops(0));
    EXPECT_FALSE(Shown(*win, 1025));
    EXPECT_TRUE(Shown(*win, 1026));
    EXPECT_TRUE(win->List(1012)->item(0)->text().endsWith(QStringLiteral(" <>")));
    EXPECT_EQ(win->ControlText(1007), stopStatus + QStringLiteral(" ,repeat"));
    EXPECT_EQ(win->CurrentPlaylist(), 0);
    // "Stop on last frame" back again.
    win->ControlAs<CClickLabel>(2030)->clicked();
    WaitIdle(*win);
    EXPECT_FALSE(OnCard(t.path).Loops(0));
    EXPECT_TRUE(Shown(*win, 1025));
    EXPECT_FALSE(Shown(*win, 1026));
    EXPECT_EQ(win->ControlText(1007), stopStatus);

    // Remove clip shows with a selected clip and removes it; one clip left
    // takes the drag hint away.
    win->List(1011)->setCurrentRow(1);
    ASSERT_TRUE(Shown(*win, 2022));
    win->ControlAs<QPushButton>(2022)->click();
    WaitIdle(*win);
    EXPECT_EQ(Clips(OnCard(t.path), 0), std::vector<int>{0});
    EXPECT_FALSE(Shown(*win, 2022)) << "the refilled clips list has no selection";
    EXPECT_FALSE(Shown(*win, 2016));
    EXPECT_TRUE(Shown(*win, 2023));

    // Clear asks; a repeating playlist goes back to stop; the labels go.
    win->ControlAs<CClickLabel>(2031)->clicked();
    WaitIdle(*win);
    ASSERT_TRUE(OnCard(t.path).Loops(0));
    std::vector<QString> texts;
    Answer(texts, 1001);
    win->ControlAs<QPushButton>(2023)->click();
    WaitIdle(*win);
    EXPECT_EQ(OnCard(t.path).ClipCount(0), 1) << "No keeps the playlist";
    Answer(texts, 1000);
    win->ControlAs<QPushButton>(2023)->click();
    WaitIdle(*win);
    EXPECT_EQ(texts, (std::vector<QString>{QStringLiteral("Clear playlist 1?"), QStringLiteral("Clear playlist 1?")}));
    EXPECT_EQ(OnCard(t.path).ClipCount(0), 0);
    EXPECT_FALSE(OnCard(t.path).Loops(0));
    for (int id : {2023, 2022, 2030, 2031, 1025, 1026}) EXPECT_FALSE(Shown(*win, id)) << id;
    EXPECT_EQ(win->List(1012)->item(0)->text(), QStringLiteral("1"));
    EXPECT_TRUE(Shown(*win, 1011));

    // While busy the buttons hide and the labels are disabled.
    win->List(1012)->setCurrentRow(1);
    win->AddClipAt(1, 0, -1);
    win->BeginProgress(10);
    EXPECT_FALSE(Shown(*win, 2023));
    EXPECT_FALSE(win->Control(2030)->isEnabled());
    win->EndProgress();
    EXPECT_TRUE(Shown(*win, 2023));
}

// ---- Drag and drop with the mouse ----

QPoint ItemCenter(QListWidget* list, int row) {
    list->scrollToItem(list->item(row));
    return list->visualItemRect(list->item(row)).center();
}

// Presses on `row` of `from` and moves past the start distance.
void StartDrag(QListWidget* from, int row) {
    QWidget* vp = from->viewport();
    const QPoint at = ItemCenter(from, row);
    QTest::mousePress(vp, Qt::LeftButton, {}, at);
    QTest::mouseMove(vp, at + QPoint(9, 9));
}

// Moves the pressed mouse (its events go to the list it was pressed on) over
// point `local` of list `over`.
QPoint MoveOver(QListWidget* from, QListWidget* over, QPoint local) {
    QWidget* vp = from->viewport();
    const QPoint at = vp->mapFromGlobal(over->viewport()->mapToGlobal(local));
    QTest::mouseMove(vp, at);
    return at;
}

void Drop(QListWidget* from, QPoint at) { QTest::mouseRelease(from->viewport(), Qt::LeftButton, {}, at); }

TEST(CatalogueWindow, DragAVideoOntoAPlaylistAndOntoTheClipsListsEmptyArea) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 3, {}, {0, 1});
    auto win = OpenWindow();
    QListWidget* videos = win->List(1010);
    QListWidget* playlists = win->List(1012);
    CListDrag& drag = win->ListDrag();

    // Video 3 (row 2) onto playlist 4: the add cursor, the highlight, the image.
    StartDrag(videos, 2);
    ASSERT_TRUE(drag.Dragging());
    EXPECT_EQ(drag.SourceList(), kDragVideos);
    EXPECT_EQ(drag.SourceItem(), 2);
    ASSERT_NE(drag.DragImage(), nullptr);
    EXPECT_TRUE(drag.DragImage()->isVisible());
    EXPECT_EQ(drag.Cursor(), DragCursor::kNoEntry) << "over its own list";
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ForbiddenCursor);

    const QPoint onFour = MoveOver(videos, playlists, ItemCenter(playlists, 3));
    EXPECT_EQ(drag.TargetList(), kDragPlaylists);
    EXPECT_EQ(drag.TargetItem(), 3);
    EXPECT_EQ(drag.Cursor(), DragCursor::kAdd);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BitmapCursor);
    EXPECT_TRUE(playlists->item(3)->data(CListDrag::kDropHighlightRole).toBool());
    EXPECT_EQ(drag.DragImage()->pos(), videos->viewport()->mapToGlobal(onFour) + QPoint(10, 14));
    // Moving on to another playlist moves the highlight.
    MoveOver(videos, playlists, ItemCenter(playlists, 1));
    EXPECT_FALSE(playlists->item(3)->data(CListDrag::kDropHighlightRole).toBool());
    EXPECT_TRUE(playlists->item(1)->data(CListDrag::kDropHighlightRole).toBool());
    const QPoint back = MoveOver(videos, playlists, ItemCenter(playlists, 3));
    Drop(videos, back);
    WaitIdle(*win);
    EXPECT_FALSE(drag.Dragging());
    EXPECT_EQ(drag.DragImage(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(Clips(OnCard(t.path), 3), std::vector<int>{2});
    EXPECT_EQ(win->CurrentPlaylist(), 3) << "the playlist that took the clip is current";
    EXPECT_EQ(win->SelectedRow(1012), 3);
    EXPECT_EQ(win->List(1011)->count(), 1);
    EXPECT_TRUE(playlists->item(3)->text().startsWith(QStringLiteral("4 - ")));
    for (int i = 0; i < playlists->count(); ++i)
        EXPECT_FALSE(playlists->item(i)->data(CListDrag::kDropHighlightRole).toBool()) << i;

    // Video 1 onto the clips list's empty area: appended to the current playlist.
    QListWidget* clips = win->List(1011);
    ASSERT_TRUE(clips->isVisible());
    const QPoint empty(clips->viewport()->width() - 6, 6);
    ASSERT_EQ(clips->itemAt(empty), nullptr);
    StartDrag(videos, 0);
    const QPoint at = MoveOver(videos, clips, empty);
    EXPECT_EQ(drag.TargetList(), kDragClips);
    EXPECT_EQ(drag.TargetItem(), -1);
    EXPECT_EQ(drag.Cursor(), DragCursor::kAdd);
    Drop(videos, at);
    WaitIdle(*win);
    EXPECT_EQ(Clips(OnCard(t.path), 3), (std::vector<int>{2, 0}));

    // Onto a clip: inserted before it.
    StartDrag(videos, 1);
    Drop(videos, MoveOver(videos, clips, ItemCenter(clips, 0)));
    WaitIdle(*win);
    EXPECT_EQ(Clips(OnCard(t.path), 3), (std::vector<int>{1, 2, 0}));

    // A drop outside every list does nothing.
    StartDrag(videos, 1);
    QTest::mouseMove(videos->viewport(), videos->viewport()->mapFromGlobal(win->mapToGlobal(QPoint(3, 3))));
    EXPECT_EQ(drag.TargetList(), -1);
    EXPECT_EQ(drag.Cursor(), DragCursor::kNoEntry);
    Drop(videos, videos->viewport()->mapFromGlobal(win->mapToGlobal(QPoint(3, 3))));
    WaitIdle(*win);
    EXPECT_EQ(OnCard(t.path).ClipCount(3), 3);
}

TEST(CatalogueWindow, FullPlaylistRefusesAndNoCurrentPlaylistRefusesTheClipsList) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 2, {}, std::vector<int>(15, 1));
    auto win = OpenWindow();
    QListWidget* videos = win->List(1010);
    QListWidget* playlists = win->List(1012);
    CListDrag& drag = win->ListDrag();
    // No playlist is current: the clips list is hidden and takes nothing.
    ASSERT_FALSE(win->List(1011)->isVisible());
    const DragFacts none = win->DragFactsFor(kDragVideos, 0);
    EXPECT_EQ(DropActionFor(kDragVideos, 0, kDragClips, -1, none), DropAction::kNone);

    StartDrag(videos, 0);
    const QPoint at = MoveOver(videos, playlists, ItemCenter(playlists, 0));
    EXPECT_EQ(drag.TargetItem(), 0);
    EXPECT_EQ(drag.Cursor(), DragCursor::kNoEntry) << "15 clips: no more";
    EXPECT_FALSE(playlists->item(0)->data(CListDrag::kDropHighlightRole).toBool());
    Drop(videos, at);
    WaitIdle(*win);
    EXPECT_EQ(OnCard(t.path).ClipCount(0), 15);

    // A playlist dragged onto another swaps them; an empty one cannot be dragged.
    StartDrag(playlists, 5);
    EXPECT_FALSE(drag.Dragging());
    QTest::mouseRelease(playlists->viewport(), Qt::LeftButton, {}, ItemCenter(playlists, 5));
    StartDrag(playlists, 0);
    ASSERT_TRUE(drag.Dragging());
    const QPoint onSix = MoveOver(playlists, playlists, ItemCenter(playlists, 5));
    EXPECT_EQ(drag.Cursor(), DragCursor::kMove);
    Drop(playlists, onSix);
    WaitIdle(*win);
    EXPECT_EQ(OnCard(t.path).ClipCount(0), 0);
    EXPECT_EQ(OnCard(t.path).ClipCount(5), 15);
    EXPECT_TRUE(playlists->item(5)->text().startsWith(QStringLiteral("6 - ")));
}

TEST(CatalogueWindow, DragAClipOntoAClipSwapsThem) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 3, {}, {0, 1, 2});
    auto win = OpenWindow();
    win->List(1012)->setCurrentRow(0);
    QListWidget* clips = win->List(1011);
    ASSERT_EQ(clips->count(), 3);
    CListDrag& drag = win->ListDrag();
    StartDrag(clips, 0);
    ASSERT_TRUE(drag.Dragging());
    const QPoint onItself = MoveOver(clips, clips, ItemCenter(clips, 0));
    EXPECT_EQ(drag.Cursor(), DragCursor::kNoEntry) << "not onto itself";
    const QPoint onThird = MoveOver(clips, clips, ItemCenter(clips, 2));
    EXPECT_EQ(drag.Cursor(), DragCursor::kMove);
    EXPECT_TRUE(clips->item(2)->data(CListDrag::kDropHighlightRole).toBool());
    (void)onItself;
    Drop(clips, onThird);
    WaitIdle(*win);
    EXPECT_EQ(Clips(OnCard(t.path), 0), (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(win->List(1011)->count(), 3);
    EXPECT_TRUE(win->List(1011)->item(0)->text().startsWith(QStringLiteral("clip 2")));

    // A clip dragged onto the playlists is not a drop.
    StartDrag(win->List(1011), 1);
    Drop(win->List(1011), MoveOver(win->List(1011), win->List(1012), ItemCenter(win->List(1012), 4)));
    WaitIdle(*win);
    EXPECT_EQ(OnCard(t.path).ClipCount(4), 0);

    // With one clip left, no clip can be dragged.
    win->List(1012)->setCurrentRow(1);
    win->AddClipAt(1, 0, -1);
    ASSERT_EQ(win->List(1011)->count(), 1);
    StartDrag(win->List(1011), 0);
    EXPECT_FALSE(drag.Dragging());
    QTest::mouseRelease(win->List(1011)->viewport(), Qt::LeftButton, {}, ItemCenter(win->List(1011), 0));
}

TEST(CatalogueWindow, APlaylistDraggedOntoAnotherLeavesTheTargetSelectedEverywhere) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 3, {}, {0, 1, 2});
    auto win = OpenWindow();
    QListWidget* playlists = win->List(1012);
    // Playlist 1 selected by a click, then dragged onto playlist 6.
    QTest::mouseClick(playlists->viewport(), Qt::LeftButton, {}, ItemCenter(playlists, 0));
    ASSERT_EQ(win->CurrentPlaylist(), 0);
    StartDrag(playlists, 0);
    ASSERT_TRUE(win->ListDrag().Dragging());
    Drop(playlists, MoveOver(playlists, playlists, ItemCenter(playlists, 5)));
    WaitIdle(*win);
    ASSERT_EQ(OnCard(t.path).ClipCount(5), 3);

    // The target is the one selection: the list, the status line, the clips
    // and the end-mode labels.
    EXPECT_EQ(win->CurrentPlaylist(), 5);
    EXPECT_EQ(win->SelectedRow(1012), 5);
    EXPECT_EQ(playlists->currentRow(), 5);
    EXPECT_EQ(playlists->selectedItems().size(), 1);
    EXPECT_TRUE(win->ControlText(1007).startsWith(QStringLiteral("Playlist 6, videos: 3")));
    EXPECT_EQ(win->List(1011)->count(), 3);
    EXPECT_TRUE(Shown(*win, 2030));

    // Clear and the Delete key act on it.
    std::vector<QString> texts;
    Answer(texts, 1000);
    win->ControlAs<QPushButton>(2023)->click();
    WaitIdle(*win);
    EXPECT_EQ(texts, std::vector<QString>{QStringLiteral("Clear playlist 6?")});
    EXPECT_EQ(OnCard(t.path).ClipCount(5), 0);
    win->AddClipAt(5, 1, -1);
    texts.clear();
    Answer(texts, 1000);
    PressDelete(*win, 1012);
    EXPECT_EQ(texts, std::vector<QString>{QStringLiteral("Clear playlist 6?")});
    EXPECT_EQ(OnCard(t.path).ClipCount(5), 0);
}

TEST(CatalogueWindow, DragAStillOntoAStillAndOntoAFreeSlot) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 0, {0, 2}, {});
    auto win = OpenWindow();
    win->ControlAs<CClickLabel>(2019)->clicked();
    QListWidget* stills = win->List(1013);
    CListDrag& drag = win->ListDrag();
    // A free slot cannot be dragged.
    StartDrag(stills, 1);
    EXPECT_FALSE(drag.Dragging());
    QTest::mouseRelease(stills->viewport(), Qt::LeftButton, {}, ItemCenter(stills, 1));

    StartDrag(stills, 0);
    ASSERT_TRUE(drag.Dragging());
    const QPoint onThree = MoveOver(stills, stills, ItemCenter(stills, 2));
    EXPECT_EQ(drag.Cursor(), DragCursor::kMove);
    Drop(stills, onThree);
    WaitIdle(*win);
    CardDirectory d = OnCard(t.path);
    EXPECT_EQ(ByteAtCluster(t.path, t.stillCluster[0]), 12) << "the pictures changed places";
    EXPECT_EQ(ByteAtCluster(t.path, t.stillCluster[2]), 10);
    EXPECT_EQ(d.Still(0).startCluster, t.stillCluster[0]);
    EXPECT_EQ(d.Still(2).startCluster, t.stillCluster[2]);

    // Onto a free slot: the still moves there, the slot it left is all zero.
    StartDrag(stills, 2);
    Drop(stills, MoveOver(stills, stills, ItemCenter(stills, 7)));
    WaitIdle(*win);
    d = OnCard(t.path);
    EXPECT_EQ(d.Still(7), (EntryHead{t.stillCluster[7], 1, 33}));
    EXPECT_EQ(d.Still(2), EntryHead{});
    EXPECT_EQ(ByteAtCluster(t.path, t.stillCluster[7]), 10);
    EXPECT_FALSE(win->Busy());

    // Effects swap their entries the same way.
    win->ControlAs<CClickLabel>(2025)->clicked();
    QListWidget* effects = win->List(1014);
    const EntryHead effect = OnCard(t.path).Effect(0);
    StartDrag(effects, 0);
    Drop(effects, MoveOver(effects, effects, ItemCenter(effects, 4)));
    WaitIdle(*win);
    EXPECT_EQ(OnCard(t.path).Effect(4), effect);
    EXPECT_FALSE(OnCard(t.path).Effect(0).Used());
    win->ControlAs<CClickLabel>(2027)->clicked();
    QListWidget* logos = win->List(1015);
    const EntryHead logo = OnCard(t.path).Logo(0);
    StartDrag(logos, 0);
    Drop(logos, MoveOver(logos, logos, ItemCenter(logos, 6)));
    WaitIdle(*win);
    EXPECT_EQ(OnCard(t.path).Logo(6), logo);
}

// A directory write the card refuses: reported by the card once, the card as
// it was, and the drives scanned again (as after a failed add).
TEST(CatalogueWindow, ARefusedDirectoryWriteRescansTheMedia) {
    GuiEnv env;
    const TableCard t = MakeTableCard(env, 2, {}, {0});
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());
    // The window's card, reopened through a device that refuses writes.
    win->Card().Close();
    std::unique_ptr<ICardDevice> device;
    int error = 0;
    ASSERT_EQ(OpenCardDevice(t.path, device, error), kOpenOk);
    auto fault = std::make_unique<CFaultDevice>(std::move(device));
    fault->failWriteAt = 1;
    fault->failForever = true;
    ASSERT_EQ(win->Card().OpenDevice(std::move(fault)), kOpenOk);
    ASSERT_TRUE(win->Card().ReadDirectory());
    win->RefreshLists();
    const int scans = win->ScanCount();

    std::vector<QString> texts;
    win->List(1010)->setCurrentRow(1);
    Answer(texts, 1000);  // the question
    OnNextModal("rk::CCoolMsgBox", [&texts](QWidget* w) {  // the card's report
        texts.push_back(qobject_cast<CCoolMsgBox*>(w)->ControlText(1003));
        ClickControl(w, 1002);
    });
    win->ControlAs<QPushButton>(2005)->click();
    WaitIdle(*win);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], QStringLiteral("Media write error!\nPlease ensure that media is not write-protected."));
    EXPECT_GT(win->ScanCount(), scans);
    EXPECT_TRUE(OnCard(t.path).Video(1).Used());
    ASSERT_TRUE(win->Ready()) << "the rescan opened the card again, without the fault";
    EXPECT_TRUE(win->Card().Directory().Video(1).Used());
    EXPECT_EQ(win->List(1010)->count(), 2);
}

// ---- Stills through the file dialogs, with the real tools ----

TEST(CatalogueWindow, AddAStillRememberingItsPathAndReadItBack) {
    if (!QFile::exists(QStringLiteral("/usr/bin/ffmpeg"))) GTEST_SKIP() << "no ffmpeg";
    GuiEnv env;
    const std::string path = env.MakeCard("card.img", 128, 0);
    {
        // Still 0 used, so the Add fills slot 1.
        CSDCard card;
        ASSERT_EQ(card.OpenPath(path), kOpenOk);
        ASSERT_TRUE(card.ReadDirectory());
        card.Directory().SetStill(0, EntryHead{card.Regions().StillCluster(0), 1, 33});
        ASSERT_TRUE(card.WriteDirectory());
    }
    const QString picture = env.CardFolder() + QStringLiteral("/A picture.png");
    ASSERT_EQ(QProcess::execute(QStringLiteral("/usr/bin/ffmpeg"),
                                {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"),
                                 QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                 QStringLiteral("testsrc2=size=320x180"), QStringLiteral("-frames:v"),
                                 QStringLiteral("1"), picture}),
              0);
    auto win = OpenWindow();
    win->ControlAs<CClickLabel>(2019)->clicked();
    ASSERT_TRUE(Shown(*win, 2008));
    std::vector<QString> texts;
    OnNextModal("QFileDialog", [&](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        EXPECT_EQ(dlg->acceptMode(), QFileDialog::AcceptOpen);
        dlg->selectFile(picture);
        Answer(texts, 1002);
        static_cast<QDialog*>(dlg)->accept();
    });
    win->ControlAs<QPushButton>(2008)->click();
    WaitIdle(*win);
    EXPECT_EQ(texts, std::vector<QString>{QStringLiteral("Write completed.")});
    EXPECT_EQ(win->LastFileName(CMainWin::kFileStill), picture.toStdString());
    EXPECT_EQ(win->LastFileName(CMainWin::kFileVideo), "") << "kept apart from the video path";
    const CardDirectory d = OnCard(path);
    EXPECT_EQ(d.Still(1), (EntryHead{win->Card().Regions().StillCluster(1), 1, 33}));
    EXPECT_EQ(win->SelectedRow(1013), 1) << "the new still is selected";
    EXPECT_TRUE(Shown(*win, 2033));
    EXPECT_TRUE(Shown(*win, 2009));

    // Read it back: the card's full picture size.
    const QString out = env.CardFolder() + QStringLiteral("/back");
    texts.clear();
    OnNextModal("QFileDialog", [&](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        EXPECT_EQ(dlg->acceptMode(), QFileDialog::AcceptSave);
        dlg->selectFile(out);
        Answer(texts, 1002);
        static_cast<QDialog*>(dlg)->accept();
    });
    win->ControlAs<QPushButton>(2033)->click();
    WaitIdle(*win);
    EXPECT_EQ(texts, std::vector<QString>{QStringLiteral("Read completed.")});
    const QImage back(out + QStringLiteral(".png"));
    EXPECT_EQ(back.size(), QSize(1920, 1080));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The remembered path is stored when the window closes.
    win->close();
    EXPECT_EQ(ReadSettingString("General", "StillFile", ""), picture.toStdString());
}

}  // namespace
}  // namespace rk

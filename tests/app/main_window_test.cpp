// The main window itself: layout and anchors, keys, the progress protocol,
// closing, settings and the Russian texts.
#include <QComboBox>
#include <QLabel>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "app/cool_msgbox.h"
#include "app/main_win.h"
#include "app/settings.h"
#include "base/translate.h"
#include "gui_support.h"

namespace rk {
namespace {

using test::GuiEnv;
using test::OpenWindow;

TEST(MainWindow, ControlsSitAtTheirTemplateRectangles) {
    GuiEnv env;
    CMainWin win;  // not shown: no resize has moved anything yet
    const DialogUnits& u = win.Units();
    EXPECT_EQ(win.TemplateRect(2002), u.Rect(8, 40, 100, 12));
    EXPECT_EQ(win.TemplateRect(1010), u.Rect(220, 90, 228, 122));
    EXPECT_EQ(win.TemplateRect(2003), u.Rect(396, 352, 56, 12));
    EXPECT_EQ(win.windowTitle(), QStringLiteral("Reelkeep"));
    EXPECT_EQ(win.ControlText(2021), QStringLiteral("Refresh"));
    EXPECT_EQ(win.ControlText(2020), QStringLiteral("Stll images:"));
    for (int id : {1010, 1011, 1012, 1013, 1014, 1015}) {
        auto* l = win.List(id);
        ASSERT_NE(l, nullptr) << id;
        EXPECT_EQ(l->iconSize(), QSize(120, 68)) << id;
    }
    EXPECT_EQ(win.List(1010)->gridSize(), QSize(152, 116));
    EXPECT_EQ(win.List(1011)->gridSize(), QSize(152, 104));
    EXPECT_EQ(win.List(1012)->gridSize(), QSize(136, 104));
    EXPECT_EQ(win.ControlAs<QComboBox>(1033)->itemText(0), QStringLiteral("Full"));
    EXPECT_EQ(win.ControlAs<QComboBox>(1016)->itemText(1), QStringLiteral("Off"));
}

TEST(MainWindow, ResizeMovesControlsByTheirAnchorsAndTheMinimumHolds) {
    GuiEnv env;
    auto win = OpenWindow();
    const QSize before = win->size();
    std::map<int, QRect> was;
    for (int id : {1010, 1012, 1013, 1014, 1015, 1011, 2003, 1008, 1009, 2006, 2015, 2017, 2012, 1004})
        was[id] = win->Control(id)->geometry();
    const int dx = 140, dy = 90;
    win->resize(before + QSize(dx, dy));
    QTRY_COMPARE(win->size(), before + QSize(dx, dy));
    auto now = [&](int id) { return win->Control(id)->geometry(); };
    // The four big lists take all extra width and height, the playlists only height.
    for (int id : {1010, 1013, 1014, 1015}) EXPECT_EQ(now(id), was[id].adjusted(0, 0, dx, dy)) << id;
    EXPECT_EQ(now(1012), was[1012].adjusted(0, 0, 0, dy));
    EXPECT_EQ(now(1011), was[1011].translated(0, dy).adjusted(0, 0, dx, 0));
    EXPECT_EQ(now(2003), was[2003].translated(dx, dy));
    EXPECT_EQ(now(1009), was[1009].translated(dx, dy));
    EXPECT_EQ(now(1008), was[1008].translated(0, dy).adjusted(0, 0, dx, 0));
    EXPECT_EQ(now(2006), was[2006].translated(dx, 0));
    EXPECT_EQ(now(2015), was[2015].translated(0, dy).adjusted(0, 0, dx, 0));
    EXPECT_EQ(now(2017), was[2017].translated(0, dy));
    EXPECT_EQ(now(2012), was[2012]);
    EXPECT_EQ(now(1004), was[1004]);

    // Back to where it was: everything returns exactly.
    win->resize(before);
    QTRY_COMPARE(win->size(), before);
    for (const auto& [id, r] : was) EXPECT_EQ(now(id), r) << id;

    // Below the minimum: the minimum holds.
    const QSize min = win->MinimumClientSize();
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size() - QSize(16, 48);
    EXPECT_EQ(min, QSize(130 * win->Units().BaseX(), 438 * win->Units().BaseY() / 8).boundedTo(room));
    win->resize(100, 100);
    QTest::qWait(20);
    EXPECT_GE(win->width(), min.width());
    EXPECT_GE(win->height(), min.height());
}

TEST(MainWindow, EnterAndEscapeNeverCloseTheWindow) {
    GuiEnv env;
    auto win = OpenWindow();
    for (QWidget* target : {static_cast<QWidget*>(win.get()), win->Control(2021), win->Control(1010)}) {
        target->setFocus();
        for (auto key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(target, key);
    }
    QTest::qWait(20);
    EXPECT_TRUE(win->isVisible());
    EXPECT_EQ(win->result(), 0);
}

TEST(MainWindow, PercentageTextChangesOnlyWithTheWholePercentage) {
    GuiEnv env;
    auto win = OpenWindow();
    auto text = [&] { return win->ControlText(1009); };
    auto* bar = win->ControlAs<QProgressBar>(1008);

    win->BeginProgress(200);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(win->Control(2003)->isVisible());
    EXPECT_EQ(text(), QStringLiteral("0 %"));
    win->SetProgress(2, false);
    EXPECT_EQ(text(), QStringLiteral("1 %"));
    // Same whole percentage: the text is not set again.
    win->SetControlText(1009, QStringLiteral("marker"));
    win->SetProgress(3, false);
    EXPECT_EQ(text(), QStringLiteral("marker"));
    EXPECT_EQ(bar->value(), 3);
    win->SetProgress(199, false);
    EXPECT_EQ(text(), QStringLiteral("99 %"));
    win->SetProgress(200, false);
    EXPECT_EQ(text(), QStringLiteral("100 %"));
    win->EndProgress();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(win->Control(1009)->isVisible());
    EXPECT_FALSE(win->Control(2003)->isVisible());

    // A total of 0 changes nothing.
    win->BeginProgress(0);
    win->SetControlText(1009, QStringLiteral("still"));
    const int value = bar->value();
    win->SetProgress(5, true);
    EXPECT_EQ(text(), QStringLiteral("still"));
    EXPECT_EQ(bar->value(), value);
    win->EndProgress();

    // Totals beyond the bar's range keep the true percentage.
    win->BeginProgress(int64_t(1) << 40);
    win->SetProgress(int64_t(1) << 39, false);
    EXPECT_EQ(text(), QStringLiteral("50 %"));
    win->EndProgress();
}

TEST(MainWindow, StopSetsTheAbortFlagThatPumpMessagesReports) {
    GuiEnv env;
    auto win = OpenWindow();
    win->BeginProgress(10);
    EXPECT_FALSE(win->PumpMessages());
    win->ControlAs<QPushButton>(2003)->click();
    EXPECT_TRUE(win->PumpMessages());
    win->EndProgress();
    win->BeginProgress(10);
    EXPECT_FALSE(win->PumpMessages()) << "a new operation starts without the old Stop";
    win->EndProgress();
}

TEST(MainWindow, CloseIsRefusedWhileBusy) {
    GuiEnv env;
    auto win = OpenWindow();
    win->BeginProgress(10);
    EXPECT_TRUE(win->Busy());
    win->close();
    QTest::qWait(10);
    EXPECT_TRUE(win->isVisible());
    win->EndProgress();
    win->close();
    QTest::qWait(10);
    EXPECT_FALSE(win->isVisible());
}

TEST(MainWindow, OptionListsAreStoredAtOnceAndPlacementOnClose) {
    GuiEnv env;
    WriteSettingInt("General", "YUVRange", 1);
    {
        auto win = OpenWindow();
        EXPECT_EQ(win->ControlAs<QComboBox>(1033)->currentIndex(), 1);
        EXPECT_EQ(win->ControlAs<QComboBox>(1016)->currentIndex(), 0);
        win->ControlAs<QComboBox>(1016)->setCurrentIndex(1);
        EXPECT_EQ(ReadSettingInt("General", "Deinterlace", -5), 1) << "written at once";
        win->ControlAs<QComboBox>(1033)->setCurrentIndex(0);
        EXPECT_EQ(ReadSettingInt("General", "YUVRange", -5), 0);
        win->LastFileName(CMainWin::kFileStill) = "/tmp/some picture.png";
        win->move(40, 30);
        win->resize(win->MinimumClientSize() + QSize(33, 22));
        QTest::qWait(20);
        win->close();
    }
    EXPECT_EQ(ReadSettingString("General", "StillFile", ""), "/tmp/some picture.png");
    EXPECT_EQ(ReadSettingInt("Layout", "Maximized", -1), 0);
    const int w = ReadSettingInt("Layout", "Width", -1);
    const int h = ReadSettingInt("Layout", "Height", -1);
    auto again = OpenWindow();
    EXPECT_EQ(again->LastFileName(CMainWin::kFileStill), "/tmp/some picture.png");
    EXPECT_EQ(again->width(), w);
    EXPECT_EQ(again->height(), h);
}

TEST(MainWindow, RussianTexts) {
    GuiEnv env;
    CTranslate& tr = CTranslate::Instance();
    ASSERT_TRUE(tr.LoadPacks());
    ASSERT_GT(tr.ChooseLanguage(1049), 0);
    {
        CMainWin win;
        EXPECT_EQ(win.ControlText(2021), QStringLiteral("Обновить"));
        EXPECT_NE(win.ControlText(2002), QStringLiteral("Format"));
        EXPECT_NE(win.ControlAs<QComboBox>(1016)->itemText(0), QStringLiteral("On"));
        CCoolMsgBox box(kMsgQuestion, kIconQuestion, QStringLiteral("?"), nullptr);
        EXPECT_NE(box.ControlText(1000), QStringLiteral("Yes"));
    }
    tr.SetCurrent(0);
    CMainWin english;
    EXPECT_EQ(english.ControlText(2021), QStringLiteral("Refresh"));
}

}  // namespace
}  // namespace rk

namespace rk {
namespace {

TEST(MainWindow, HintsAndPageLabelsCarryTheirColours) {
    GuiEnv env;
    CMainWin win;
    auto colour = [&](int id) {
        QLabel* l = win.ControlAs<QLabel>(id);
        l->ensurePolished();
        return l->palette().color(QPalette::WindowText);
    };
    for (int id : {2015, 2016, 2017, 2024, 2028, 2039}) EXPECT_EQ(colour(id), QColor(120, 120, 120)) << id;
    for (int id : {2018, 2019, 2025, 2027, 2030, 2031}) EXPECT_EQ(colour(id), QColor(0, 200, 0)) << id;
    EXPECT_EQ(colour(2012), QColor(220, 220, 220));
}

}  // namespace
}  // namespace rk

namespace rk {
namespace {

TEST(MainWindow, PlacementOffEveryScreenComesBackIntoView) {
    GuiEnv env;
    WriteSettingInt("Layout", "Left", 50000);
    WriteSettingInt("Layout", "Top", 40000);
    WriteSettingInt("Layout", "Width", 1000);
    WriteSettingInt("Layout", "Height", 800);
    CMainWin win;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(win.geometry()));
    EXPECT_EQ(win.size(), QSize(1000, 800).expandedTo(win.MinimumClientSize()));
}

}  // namespace
}  // namespace rk

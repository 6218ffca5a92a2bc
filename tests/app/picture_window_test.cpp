// The window's Add offers what a picture may be: a numbered picture's whole
// run as one video, and a still of another shape kept on black bars; both
// questions are the window's message boxes, answered as the operator would.
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/main_win.h"
#include "card/card_directory.h"
#include "gui_support.h"
#include "support/picture_files.h"

namespace rk {
namespace {

using test::AnswerBoxes;
using test::GuiEnv;
using test::OnNextModal;
using test::OpenWindow;
using test::WaitIdle;

// Clicks Add (`button`) and picks `path` in the file dialog; the message
// boxes that follow are answered with `buttons`, their texts kept.
std::vector<QString> AddThroughTheWindow(CMainWin& win, int button, const std::string& path, std::vector<int> buttons) {
    std::vector<QString> texts;
    OnNextModal("QFileDialog", [&texts, path, buttons](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        dlg->selectFile(QString::fromStdString(path));
        AnswerBoxes(texts, buttons);
        static_cast<QDialog*>(dlg)->accept();
    });
    win.ControlAs<QPushButton>(button)->click();
    WaitIdle(win);
    return texts;
}

TEST(PictureWindow, AddOffersTheWholeSequenceAndTheStillsShape) {
    if (!QFile::exists(QStringLiteral("/usr/bin/ffmpeg"))) GTEST_SKIP() << "no ffmpeg";
    GuiEnv env;
    env.MakeCard("card.img", 64, 0);
    const std::string folder = env.CardFolder().toStdString();
    for (int i = 1; i <= 6; ++i)
        ASSERT_TRUE(test::RunFfmpeg("-f lavfi -i color=c=navy:s=64x36 -frames:v 1 '" + folder + "/title_00" +
                                    std::to_string(i) + ".png'"));
    ASSERT_TRUE(test::RunFfmpeg("-f lavfi -i color=c=navy:s=400x300 -frames:v 1 '" + folder + "/square.png'"));
    auto win = OpenWindow();
    ASSERT_TRUE(win->Ready());

    // Yes takes the run; No (the next add) the picture alone.
    std::vector<QString> texts =
        AddThroughTheWindow(*win, IDC_VIDEO_ADD, folder + "/title_001.png", {IDC_BOX_YES, IDC_BOX_YES, IDC_BOX_OK});
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], QStringLiteral("title_001.png is the first of 6 numbered pictures (0:00:00.06).\n\n"
                                       "Import the whole sequence as one video?"));
    EXPECT_EQ(texts[2], QStringLiteral("Write completed."));
    texts = AddThroughTheWindow(*win, IDC_VIDEO_ADD, folder + "/title_001.png", {IDC_BOX_NO, IDC_BOX_YES, IDC_BOX_OK});
    ASSERT_EQ(texts.size(), 3u);
    const CardDirectory& dir = win->Card().Directory();
    EXPECT_EQ(dir.Video(0).numFrames, 6);
    EXPECT_EQ(dir.Video(1).numFrames, 1);

    // A 4:3 still asks how it fills the frame.
    win->SwitchPage(CMainWin::kPageStills);
    texts = AddThroughTheWindow(*win, IDC_STILL_ADD, folder + "/square.png", {IDC_BOX_YES, IDC_BOX_OK});
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("The picture is 400 x 300, not 16:9."))) << texts[0].toStdString();
    EXPECT_EQ(texts[1], QStringLiteral("Write completed."));
    EXPECT_TRUE(dir.Still(0).Used());
}

}  // namespace
}  // namespace rk

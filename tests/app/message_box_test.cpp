// The skinned message box and format dialog, driven like a person would.
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "app/cool_dialog.h"
#include "app/cool_msgbox.h"
#include "app/dlg_format.h"
#include "gui_support.h"
#include "ui/operator.h"

namespace rk {
namespace {

using test::ClickControl;
using test::OnNextModal;

TEST(CoolMsgBox, NoticeShowsOnlyOkAndAnswersZero) {
    OnNextModal("rk::CCoolMsgBox", [](QWidget* w) {
        auto* box = qobject_cast<CCoolMsgBox*>(w);
        EXPECT_TRUE(box->Control(1002)->isVisible());
        EXPECT_FALSE(box->Control(1000)->isVisible());
        EXPECT_FALSE(box->Control(1001)->isVisible());
        EXPECT_FALSE(box->ControlAs<QLabel>(1005)->pixmap().isNull()) << "icon 302 shows";
        ClickControl(w, 1002);
    });
    EXPECT_EQ(ShowMessageBox(kMsgNotice, kIconInformation, QStringLiteral("Write completed."), nullptr), kResultOk);
}

TEST(CoolMsgBox, QuestionAnswersYesOneNoTwo) {
    for (int button : {1000, 1001}) {
        OnNextModal("rk::CCoolMsgBox", [button](QWidget* w) {
            auto* box = qobject_cast<CCoolMsgBox*>(w);
            EXPECT_TRUE(box->Control(1000)->isVisible());
            EXPECT_TRUE(box->Control(1001)->isVisible());
            EXPECT_FALSE(box->Control(1002)->isVisible());
            ClickControl(w, button);
        });
        const MsgResult answer = ShowMessageBox(kMsgQuestion, kIconQuestion, QStringLiteral("Delete logo?"), nullptr);
        EXPECT_EQ(answer, button == 1000 ? kResultYes : kResultNo);
    }
}

TEST(CoolMsgBox, EscapeAnswersNoAndEnterTheFocusedButton) {
    struct Row {
        MsgKind kind;
        int focus;  // the button given the focus (0: none)
        Qt::Key key;
        MsgResult answer;
    };
    const Row rows[] = {
        {kMsgQuestion, 1000, Qt::Key_Escape, kResultNo},  {kMsgQuestion, 0, Qt::Key_Escape, kResultNo},
        {kMsgQuestion, 1000, Qt::Key_Return, kResultYes}, {kMsgQuestion, 1001, Qt::Key_Enter, kResultNo},
        {kMsgNotice, 1002, Qt::Key_Escape, kResultOk},    {kMsgNotice, 1002, Qt::Key_Return, kResultOk},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.key));
        OnNextModal("rk::CCoolMsgBox", [row](QWidget* w) {
            auto* box = qobject_cast<CCoolMsgBox*>(w);
            if (row.focus) box->Control(row.focus)->setFocus();
            QTest::keyClick(row.focus ? box->Control(row.focus) : w, row.key);
            QTest::qWait(20);
            if (w->isVisible()) {
                ADD_FAILURE() << "the key left the box open";
                ClickControl(w, row.kind == kMsgQuestion ? 1001 : 1002);
            }
        });
        EXPECT_EQ(ShowMessageBox(row.kind, kIconQuestion, QStringLiteral("Clear playlist 3?"), nullptr), row.answer);
    }
    // Without the focus on a button, Enter does nothing.
    OnNextModal("rk::CCoolMsgBox", [](QWidget* w) {
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Return);
        QTest::qWait(20);
        EXPECT_TRUE(w->isVisible());
        ClickControl(w, 1000);
    });
    EXPECT_EQ(ShowMessageBox(kMsgQuestion, kIconQuestion, QStringLiteral("Delete logo?"), nullptr), kResultYes);
}

TEST(CoolMsgBox, LineFeedsShowAsSeparateLines) {
    const QString text = QStringLiteral("Format media?\n\nWARNING: ALL DATA ON MEDIA WILL BE LOST!");
    CCoolMsgBox box(kMsgQuestion, kIconQuestion, text, nullptr);
    auto* label = box.ControlAs<QLabel>(1003);
    EXPECT_EQ(label->text(), text);
    const QFontMetrics fm(label->font());
    EXPECT_GE(label->height(), 3 * fm.lineSpacing() - 2) << "three lines need room";
    // An unknown icon leaves the icon control empty instead of failing.
    CCoolMsgBox odd(kMsgNotice, static_cast<MsgIcon>(999), QStringLiteral("x"), nullptr);
    EXPECT_TRUE(odd.ControlAs<QLabel>(1005)->pixmap().isNull());
}

TEST(DlgFormat, PresetsTheModeAndAnswersTheChoice) {
    {
        CDlgFormat dlg(nullptr, 0);
        auto* modes = dlg.ControlAs<QComboBox>(1006);
        ASSERT_EQ(modes->count(), 9);
        EXPECT_EQ(modes->itemText(0), QStringLiteral("HD 1080p50"));
        EXPECT_EQ(modes->itemText(8), QStringLiteral("4K 2160p29.97"));
        EXPECT_EQ(modes->currentIndex(), 0);
    }
    CDlgFormat dlg7(nullptr, 7);
    EXPECT_EQ(dlg7.ControlAs<QComboBox>(1006)->currentText(), QStringLiteral("4K 2160p59.94"));

    OnNextModal("rk::CDlgFormat", [](QWidget* w) {
        auto* dlg = qobject_cast<CDlgFormat*>(w);
        dlg->ControlAs<QComboBox>(1006)->setCurrentIndex(4);
        ClickControl(w, 1000);
    });
    CDlgFormat ask(nullptr, 2);
    ASSERT_TRUE(ask.Run());
    EXPECT_EQ(ask.Mode(), 4);

    OnNextModal("rk::CDlgFormat", [](QWidget* w) { ClickControl(w, 1001); });
    CDlgFormat no(nullptr, 2);
    EXPECT_FALSE(no.Run());
    // Escape is No, also with the focus on the mode list.
    OnNextModal("rk::CDlgFormat", [](QWidget* w) {
        QTest::keyClick(qobject_cast<CDlgFormat*>(w)->Control(1006), Qt::Key_Escape);
    });
    CDlgFormat escaped(nullptr, 2);
    EXPECT_FALSE(escaped.Run());
}

}  // namespace
}  // namespace rk

namespace rk {
namespace {

// A dialog with a title control gets it bold with two spaces in front; labels
// of every skinned dialog are drawn in the skin's text colour.
TEST(CoolDialog, TitleControlIsBoldAndIndented) {
    static constexpr ControlDef kControls[] = {
        {11111, ControlKind::Label, 0, 0, 200, 12, "Effect", 0},
        {100, ControlKind::Label, 8, 20, 100, 12, "Plain", 0},
        {101, ControlKind::Button, 8, 40, 50, 12, "Yes", 0},
    };
    static constexpr DialogTemplate kTemplate{9999, "Test", 210, 60, kControls};
    CCoolDialog dlg(kTemplate, nullptr);
    auto* title = dlg.ControlAs<QLabel>(11111);
    EXPECT_EQ(title->text(), QStringLiteral("  Effect"));
    EXPECT_EQ(title->font().weight(), QFont::Bold);
    dlg.SetControlText(11111, QStringLiteral("Logo"));
    EXPECT_EQ(title->text(), QStringLiteral("  Logo"));
    EXPECT_NE(dlg.ControlAs<QLabel>(100)->font().weight(), QFont::Bold);
    dlg.ensurePolished();
    dlg.Control(100)->ensurePolished();
    EXPECT_EQ(dlg.Control(100)->palette().color(QPalette::WindowText), QColor(220, 220, 220));
    // Escape reaches reject(), which a skinned dialog without an answer for
    // it (the main window's rule) ignores.
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
}

}  // namespace
}  // namespace rk

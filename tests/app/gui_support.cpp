#include "gui_support.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/cool_dialog.h"
#include "app/settings.h"
#include "card/card_device.h"
#include "card/drive_scan.h"
#include "card/sd_card.h"

namespace rk::test {

GuiEnv::GuiEnv() {
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    qputenv("REELKEEP_CARD_DIR", cards_.path().toUtf8());
    qunsetenv("REELKEEP_EXTRA_DEVICES");
    ResetDriveTable();
    WriteSettingInt("Layout", "Maximized", 0);
}

GuiEnv::~GuiEnv() { ResetDriveTable(); }

std::string GuiEnv::CardPath(const char* name) const { return (cards_.path() + QLatin1Char('/') + name).toStdString(); }

std::string GuiEnv::MakeCard(const char* name, int mib, int mode) {
    const std::string path = CardPath(name);
    int error = 0;
    EXPECT_TRUE(CreateCardImage(path, uint64_t(mib) << 20, error)) << path << " errno " << error;
    if (mode >= 0) {
        CSDCard card;
        EXPECT_EQ(card.OpenPath(path), kOpenOk);
        EXPECT_TRUE(card.Format(mode));
    }
    return path;
}

void WaitIdle(CMainWin& win) {
    QTest::qWait(5);
    for (int i = 0; i < 2000 && win.Busy(); ++i) QTest::qWait(5);
    QCoreApplication::processEvents();
}

std::unique_ptr<CMainWin> OpenWindow() {
    auto win = std::make_unique<CMainWin>();
    win->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    // The first scan runs at the first timer tick.
    QTest::qWait(20);
    WaitIdle(*win);
    return win;
}

QTimer* OnNextModal(const char* className, std::function<void(QWidget*)> action) {
    auto* timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, className, action] {
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->inherits(className) && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(w);
            return;
        }
        if (++*tries > 2000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no " << className << " opened";
        }
    });
    timer->start(5);
    return timer;
}

void ClickControl(QWidget* dialog, int id) {
    auto* cool = qobject_cast<CCoolDialog*>(dialog);
    ASSERT_NE(cool, nullptr);
    auto* button = cool->ControlAs<QPushButton>(id);
    ASSERT_NE(button, nullptr) << "control " << id;
    button->click();
}

QTimer* AnswerBoxes(std::vector<QString>& texts, std::vector<int> buttons) {
    if (buttons.empty()) return nullptr;
    return OnNextModal("rk::CCoolMsgBox", [&texts, buttons](QWidget* w) {
        texts.push_back(qobject_cast<CCoolDialog*>(w)->ControlText(IDC_BOX_TEXT));
        AnswerBoxes(texts, std::vector<int>(buttons.begin() + 1, buttons.end()));
        ClickControl(w, buttons.front());
    });
}

QTimer* ClickStopWhen(CMainWin& win, std::function<bool()> when) {
    auto* timer = new QTimer(&win);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, &win, when] {
        QWidget* stop = win.Control(IDC_STOP);
        if (!stop || !stop->isVisible() || !when()) return;
        timer->stop();
        QTest::mouseClick(stop, Qt::LeftButton);
    });
    timer->start(0);
    return timer;
}

}  // namespace rk::test
